// The page in headless Chromium, driven by puppeteer-core: every frame the
// page shows is checked bit for bit against trel-webref, the native build of
// the same scene, and the controls are checked to change the picture.
//
//   node pagetest.mjs URL WEBREF OUTDIR
//
// Run by scripts/test-web from build/web/npm, where puppeteer-core and three
// are installed and this file and meshes.js are copied. Chromium is the
// system's (/usr/bin/chromium or CHROMIUM); nothing downloads a browser.
import { createHash } from 'node:crypto';
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';
import { parseMesh } from './meshes.js';

const [url, webref, outdir] = process.argv.slice(2);
mkdirSync(outdir, { recursive: true });

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) {
    passed += 1;
    console.log(`ok: ${what}`);
  } else {
    failed += 1;
    console.log(`FAILED: ${what}`);
  }
}

// The loaders take what the browser hands them, an ArrayBuffer.
const arrayBuffer = (b) => b.buffer.slice(b.byteOffset, b.byteOffset + b.byteLength);
const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');

// The native picture of one frame: the soup written where trel-webref reads
// it, its RGBA bytes and its mean drawing time over `repeat` draws.
function nativeFrame(name, soup, frame, repeat = 1) {
  const soupfile = join(outdir, `${name}.soup`);
  const out = join(outdir, `${name}.native.rgba`);
  writeFileSync(soupfile, Buffer.from(soup.buffer, soup.byteOffset, soup.byteLength));
  const printed = execFileSync(webref, [
    soupfile, frame.engine, frame.style, String(frame.view.azimuth), String(frame.view.elevation),
    frame.zup ? '1' : '0', String(frame.width), String(frame.height), out, String(repeat),
  ]).toString();
  return { rgba: readFileSync(out), drawMs: Number(/draw ms: ([\d.]+)/.exec(printed)[1]) };
}

// What the page last drew and the canvas's RGBA bytes.
async function canvasFrame(page) {
  const { frame, base64 } = await page.evaluate(() => {
    const canvas = document.getElementById('picture');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    }
    const p = window.trelPage;
    return {
      frame: { engine: p.engine, style: p.style, view: p.view, zup: p.zup, width: p.width,
               height: p.height, mesh: p.mesh, frames: p.frames },
      base64: btoa(text),
    };
  });
  return { frame, rgba: Buffer.from(base64, 'base64') };
}

// The page's picture against the native one of the same scene; on a
// difference both are kept and the differing pixels counted.
function sameAsNative(name, soup, shown) {
  const native = nativeFrame(name, soup, shown.frame);
  const same = sha(native.rgba) === sha(shown.rgba);
  if (!same) {
    let differing = 0;
    for (let i = 0; i < Math.min(native.rgba.length, shown.rgba.length); i += 4) {
      if (native.rgba.readUInt32LE(i) !== shown.rgba.readUInt32LE(i)) {
        differing += 1;
      }
    }
    writeFileSync(join(outdir, `${name}.canvas.rgba`), shown.rgba);
    console.log(`  ${name}: ${differing} pixels differ; both pictures kept in ${outdir}`);
  }
  check(same, `${name}: canvas ${shown.frame.width}x${shown.frame.height} ` +
        `(${shown.frame.engine}, ${shown.frame.style}, view ${shown.frame.view.azimuth},` +
        `${shown.frame.view.elevation}) is bit-identical to the native build: ${sha(shown.rgba)}`);
}

async function framesAfter(page, count) {
  await page.waitForFunction((n) => window.trelPage.frames > n, { timeout: 20000 }, count);
}

// Small meshes in the three formats, made here as a user's exporter would
// write them: a cube as binary STL, an octahedron as OBJ, a tetrahedron as
// ASCII PLY.
function cubeStl() {
  const v = (i) => [i & 1 ? 1 : -1, i & 2 ? 1 : -1, i & 4 ? 1 : -1];
  const quads = [[0, 2, 3, 1], [4, 5, 7, 6], [0, 1, 5, 4], [2, 6, 7, 3], [0, 4, 6, 2], [1, 3, 7, 5]];
  const triangles = quads.flatMap(([a, b, c, d]) => [[a, b, c], [a, c, d]]);
  const bytes = Buffer.alloc(84 + 50 * triangles.length);
  bytes.writeUInt32LE(triangles.length, 80);
  triangles.forEach((t, i) => {
    t.forEach((corner, k) => v(corner).forEach((c, j) => {
      bytes.writeFloatLE(c * 10, 84 + 50 * i + 12 + 12 * k + 4 * j);
    }));
  });
  return bytes;
}
const octahedronObj = `# octahedron
v 1 0 0\nv -1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\nv 0 0 -1
f 1 3 5\nf 3 2 5\nf 2 4 5\nf 4 1 5\nf 3 1 6\nf 2 3 6\nf 4 2 6\nf 1 4 6
`;
const tetrahedronPly = `ply
format ascii 1.0
element vertex 4
property float x
property float y
property float z
element face 4
property list uchar int vertex_indices
end_header
0 0 0\n1 0 0\n0 1 0\n0 0 1
3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3
`;

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
});
const results = {};
try {
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  await page.setViewport({ width: 900, height: 1000 });

  const bunny = parseMesh('bunny.obj',
                          arrayBuffer(readFileSync(join(outdir, '..', 'site', 'bunny.obj'))));

  // The bunny in each engine and style the page offers, at a fixed size.
  const scenes = [
    ['3d', 'solid', '-30,15'], ['2d', 'solid', '-30,15'], ['xy', 'solid', '-30,15'],
    ['3d', 'both', '40,-20'], ['2d', 'wire', '120,30'],
  ];
  for (const [engine, style, view] of scenes) {
    await page.goto(`${url}?size=640x480&engine=${engine}&style=${style}&view=${view}`);
    await page.waitForFunction(() => window.trelPage && (window.trelPage.frames > 0 ||
                                                         window.trelPage.error), { timeout: 30000 });
    const shown = await canvasFrame(page);
    if (engine === '3d' && style === 'solid') {
      results.firstFrameMs = await page.evaluate(() => window.trelPage.firstFrameMs);
      await page.screenshot({ path: join(outdir, 'bunny.png') });
    }
    sameAsNative(`bunny-${engine}-${style}`, bunny, shown);
  }

  // The default scene again, with the files in the browser's cache, and the
  // drawing times side by side.
  await page.goto(`${url}?size=640x480`);
  await framesAfter(page, 0);
  results.cachedFirstFrameMs = await page.evaluate(() => window.trelPage.firstFrameMs);
  results.wasmDrawMs = await page.evaluate(() => window.trelPage.benchmark(100));
  const first = await canvasFrame(page);
  results.nativeDrawMs = nativeFrame('bunny-timing', bunny, first.frame, 100).drawMs;

  // A drag with the mouse turns the bunny, and the turned picture is still
  // the native one.
  const box = await (await page.$('#picture')).boundingBox();
  const cx = box.x + box.width / 2;
  const cy = box.y + box.height / 2;
  await page.mouse.move(cx, cy);
  await page.mouse.down();
  await page.mouse.move(cx + 150, cy + 40, { steps: 8 });
  await page.mouse.up();
  await page.waitForFunction(() => window.trelPage.view.azimuth !== -30, { timeout: 10000 });
  await new Promise((r) => setTimeout(r, 200));
  const dragged = await canvasFrame(page);
  check(dragged.frame.view.azimuth !== -30 && dragged.frame.view.elevation !== 15,
        `a mouse drag turned the view to ${dragged.frame.view.azimuth.toFixed(2)},` +
        `${dragged.frame.view.elevation.toFixed(2)}`);
  check(sha(dragged.rgba) !== sha(first.rgba), 'the dragged picture differs from the first');
  sameAsNative('bunny-dragged', bunny, dragged);
  await page.screenshot({ path: join(outdir, 'dragged.png') });

  // A touch drag turns it too.
  const before = dragged.frame.view.azimuth;
  await page.touchscreen.touchStart(cx, cy);
  await page.touchscreen.touchMove(cx - 100, cy);
  await page.touchscreen.touchMove(cx - 200, cy);
  await page.touchscreen.touchEnd();
  await page.waitForFunction((a) => window.trelPage.view.azimuth !== a, { timeout: 10000 }, before)
    .catch(() => {});
  check(await page.evaluate((a) => window.trelPage.view.azimuth > a, before),
        'a touch drag to the left turned the view the other way');

  // Keys: e switches the engine, s the style, the arrows turn.
  await page.focus('body');
  let frames = await page.evaluate(() => window.trelPage.frames);
  await page.keyboard.press('e');
  await framesAfter(page, frames);
  check(await page.evaluate(() => window.trelPage.engine) === '2d', 'key e switched to engine2d');
  frames = await page.evaluate(() => window.trelPage.frames);
  await page.keyboard.press('s');
  await framesAfter(page, frames);
  check(await page.evaluate(() => window.trelPage.style) === 'wire', 'key s switched to wire');
  const keyed = await page.evaluate(() => window.trelPage.view.azimuth);
  frames = await page.evaluate(() => window.trelPage.frames);
  await page.keyboard.press('ArrowLeft');
  await framesAfter(page, frames);
  check(await page.evaluate(() => window.trelPage.view.azimuth) === keyed + 10,
        'the left arrow turned the view by ten degrees');
  sameAsNative('bunny-keys', bunny, await canvasFrame(page));

  // The user's own meshes: a dropped STL, OBJ and PLY, each drawn as the native
  // build draws the same file, and the file picker.
  await page.goto(`${url}?size=480x360&view=-30,25`);
  await framesAfter(page, 0);
  const files = [['cube.stl', cubeStl()], ['octahedron.obj', Buffer.from(octahedronObj)],
                 ['tetrahedron.ply', Buffer.from(tetrahedronPly)]];
  for (const [name, bytes] of files) {
    frames = await page.evaluate(() => window.trelPage.frames);
    await page.evaluate((n, b64) => {
      const data = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
      const transfer = new DataTransfer();
      transfer.items.add(new File([data], n));
      document.getElementById('drop').dispatchEvent(
        new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, name, bytes.toString('base64'));
    await page.waitForFunction((n, f) => window.trelPage.mesh === n && window.trelPage.frames > f,
                               { timeout: 10000 }, name, frames);
    const shown = await canvasFrame(page);
    const background = shown.rgba.subarray(0, 4).readUInt32LE(0);
    let drawn = 0;
    for (let i = 0; i < shown.rgba.length; i += 4) {
      drawn += shown.rgba.readUInt32LE(i) !== background ? 1 : 0;
    }
    check(drawn > 1000, `dropped ${name} drawn over ${drawn} pixels`);
    sameAsNative(name.replace('.', '-'), parseMesh(name, arrayBuffer(bytes)), shown);
    await page.screenshot({ path: join(outdir, `dropped-${name.replace('.', '-')}.png`) });
  }
  writeFileSync(join(outdir, 'picked.obj'), octahedronObj.replace('# octahedron', '# picked'));
  const input = await page.$('#file');
  await input.uploadFile(join(outdir, 'picked.obj'));
  await page.waitForFunction(() => window.trelPage.mesh === 'picked.obj', { timeout: 10000 });
  check(true, 'the file picker loaded picked.obj');
  frames = await page.evaluate(() => window.trelPage.frames);
  await page.evaluate(() => {
    const transfer = new DataTransfer();
    transfer.items.add(new File(['not a mesh'], 'notes.txt'));
    document.getElementById('drop').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  });
  const said = await page.$eval('#status', (e) => e.textContent);
  check(/not an STL, OBJ or PLY/.test(said) &&
        await page.evaluate(() => window.trelPage.mesh) === 'picked.obj',
        `a dropped text file is refused and the mesh kept: "${said}"`);

  // On a phone-sized screen the page fits its width and the picture fills it.
  await page.setViewport({ width: 375, height: 667, deviceScaleFactor: 2, isMobile: true,
                           hasTouch: true });
  await page.goto(url);
  await framesAfter(page, 0);
  await new Promise((r) => setTimeout(r, 300));
  const phone = await page.evaluate(() => {
    const box = document.getElementById('picture').getBoundingClientRect();
    return { scroll: document.documentElement.scrollWidth, inner: window.innerWidth,
             left: box.left, right: box.right, width: window.trelPage.width };
  });
  check(phone.scroll <= phone.inner && phone.left >= 0 && phone.right <= phone.inner &&
        phone.width >= 2 * (phone.right - phone.left) - 2,
        `phone-sized window: no sideways scrolling, the picture ${phone.right - phone.left} ` +
        `CSS pixels wide drawn at ${phone.width} device pixels`);
  await page.screenshot({ path: join(outdir, 'phone.png') });

  check(problems.length === 0, `no errors in the page${problems.length ? ': ' + problems.join('; ') : ''}`);
} finally {
  await browser.close();
}

console.log(`first frame after ${results.firstFrameMs?.toFixed(0)} ms from navigation ` +
            `(${results.cachedFirstFrameMs?.toFixed(0)} ms with the files cached)`);
console.log(`bunny 640x480 engine3d draw: wasm ${results.wasmDrawMs?.toFixed(3)} ms, ` +
            `native ${results.nativeDrawMs?.toFixed(3)} ms ` +
            `(${(results.wasmDrawMs / results.nativeDrawMs).toFixed(2)}x)`);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
