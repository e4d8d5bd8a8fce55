// The page: loads the trel module, draws the mesh into the canvas from the
// engine's own pixels, and turns it by drag, touch and keys.
//
// URL parameters fix what the controls would otherwise choose, for links and
// for the browser test: engine=3d|2d|xy, style=solid|wire|both,
// view=AZIMUTH,ELEVATION (degrees), size=WIDTHxHEIGHT (canvas pixels), zup=1.
import { extensions, parseMesh } from './meshes.js';

const engines = ['3d', '2d', 'xy'];
const styles = ['solid', 'wire', 'both'];
const messages = [
  '',
  'it has no triangles',
  'a coordinate is not a number',
  'a coordinate is too large',
  'all its corners are one point',
];

const params = new URLSearchParams(location.search);
const canvas = document.getElementById('picture');
const context = canvas.getContext('2d');
const engineSelect = document.getElementById('engine');
const styleSelect = document.getElementById('style');
const zupBox = document.getElementById('zup');
const fileInput = document.getElementById('file');
const dropZone = document.getElementById('drop');
const status = document.getElementById('status');
const timing = document.getElementById('timing');

const view = { azimuth: -30, elevation: 15 };
const fixedSize = /^(\d+)x(\d+)$/.exec(params.get('size') || '');
if (params.has('view')) {
  const [a, e] = params.get('view').split(',').map(Number);
  if (Number.isFinite(a) && Number.isFinite(e)) {
    view.azimuth = a;
    view.elevation = e;
  }
}
if (engines.includes(params.get('engine'))) {
  engineSelect.value = params.get('engine');
}
if (styles.includes(params.get('style'))) {
  styleSelect.value = params.get('style');
}
zupBox.checked = params.get('zup') === '1';

// What the browser test reads: the state of the last frame and the times.
const shown = {
  ready: false,
  frames: 0,
  firstFrameMs: null, // from the start of navigation to the first frame on the canvas
  drawMs: null, // the engine's drawing of the last frame, measured inside the module
  frameMs: null, // the whole last frame: drawing, read-back and putImageData
  width: 0,
  height: 0,
  engine: engineSelect.value,
  style: styleSelect.value,
  view: { ...view },
  zup: zupBox.checked,
  mesh: 'bunny.obj',
  triangles: 0,
  error: null,
};
window.trelPage = shown;
// Draws the current frame `count` times more and returns the engine's mean
// drawing time in milliseconds, for the browser test to set beside the
// native build's.
shown.benchmark = (count) => {
  let total = 0;
  for (let i = 0; i < count; ++i) {
    trel._trelweb_frame(engines.indexOf(shown.engine), styles.indexOf(shown.style),
                        shown.view.azimuth, shown.view.elevation, shown.zup ? 1 : 0,
                        shown.width, shown.height);
    total += trel._trelweb_drawms();
  }
  return total / count;
};

let trel = null;
let pending = false;

function say(text, isError = false) {
  status.textContent = text;
  status.classList.toggle('error', isError);
}

// The canvas's size in pixels: fixed by the URL, else the size it is shown
// at (on a high-density screen, in device pixels, up to 2048 a side).
function pictureSize() {
  if (fixedSize) {
    // The engines draw pictures of up to trel::largestside pixels a side.
    const largest = trel._trelweb_largestside();
    return [Math.min(largest, Math.max(1, Number(fixedSize[1]))),
            Math.min(largest, Math.max(1, Number(fixedSize[2])))];
  }
  const box = canvas.getBoundingClientRect();
  const ratio = Math.min(window.devicePixelRatio || 1, 2);
  const clamp = (v) => Math.max(16, Math.min(2048, Math.round(v * ratio)));
  return [clamp(box.width), clamp(box.height)];
}

function draw() {
  pending = false;
  if (!trel || shown.triangles === 0) {
    return;
  }
  const [width, height] = pictureSize();
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const engine = engines.indexOf(engineSelect.value);
  const style = styles.indexOf(styleSelect.value);
  const start = performance.now();
  const address = trel._trelweb_frame(engine, style, view.azimuth, view.elevation,
                                      zupBox.checked ? 1 : 0, width, height);
  if (address === 0) {
    say(`cannot make a ${width}x${height} picture`, true);
    return;
  }
  // The module's memory may have grown: the view is taken after the call.
  const pixels = new Uint8ClampedArray(trel.HEAPU8.buffer, address, width * height * 4);
  context.putImageData(new ImageData(pixels, width, height), 0, 0);
  const end = performance.now();

  shown.frames += 1;
  if (shown.firstFrameMs === null) {
    shown.firstFrameMs = end;
  }
  shown.drawMs = trel._trelweb_drawms();
  shown.frameMs = end - start;
  Object.assign(shown, {
    width, height, engine: engineSelect.value, style: styleSelect.value,
    view: { ...view }, zup: zupBox.checked,
  });
  timing.textContent = `${width}\u00d7${height} \u00b7 draw ${shown.drawMs.toFixed(1)} ms \u00b7 ` +
    `frame ${shown.frameMs.toFixed(1)} ms`;
}

function redraw() {
  if (!pending) {
    pending = true;
    requestAnimationFrame(draw);
  }
}

// Hands a soup to the module; the old mesh stays when the new one is refused.
function useMesh(name, soup) {
  const triangles = soup.length / 9;
  const address = trel._trelweb_soup(triangles);
  if (address === 0) {
    throw new Error(`${name}: too large`);
  }
  trel.HEAPF32.set(soup, address / 4);
  const result = trel._trelweb_setmesh(address, triangles);
  if (result !== 0) {
    throw new Error(`${name}: ${messages[result] || 'not a mesh'}`);
  }
  shown.mesh = name;
  shown.triangles = trel._trelweb_triangles();
  say(`${name}: ${shown.triangles} triangles`);
  redraw();
}

async function openFile(file) {
  const ending = file.name.toLowerCase().split('.').pop();
  if (!extensions.includes(ending)) {
    say(`${file.name}: not an STL, OBJ or PLY file`, true);
    return;
  }
  say(`reading ${file.name}\u2026`);
  try {
    useMesh(file.name, parseMesh(file.name, await file.arrayBuffer()));
    shown.error = null;
  } catch (e) {
    shown.error = e.message;
    say(e.message, true);
  }
}

// Turning: a drag across the whole canvas is half a turn.
let dragging = null;
canvas.addEventListener('pointerdown', (event) => {
  dragging = { x: event.clientX, y: event.clientY, id: event.pointerId };
  canvas.setPointerCapture(event.pointerId);
});
canvas.addEventListener('pointermove', (event) => {
  if (!dragging || dragging.id !== event.pointerId) {
    return;
  }
  const box = canvas.getBoundingClientRect();
  const scale = 180 / Math.max(box.width, box.height, 1);
  view.azimuth -= (event.clientX - dragging.x) * scale;
  view.elevation = Math.max(-90, Math.min(90, view.elevation + (event.clientY - dragging.y) * scale));
  dragging.x = event.clientX;
  dragging.y = event.clientY;
  redraw();
});
const release = (event) => {
  if (dragging && dragging.id === event.pointerId) {
    dragging = null;
  }
};
canvas.addEventListener('pointerup', release);
canvas.addEventListener('pointercancel', release);

function cycle(select, names) {
  select.value = names[(names.indexOf(select.value) + 1) % names.length];
  redraw();
}

document.addEventListener('keydown', (event) => {
  if (event.target instanceof HTMLSelectElement || event.altKey || event.ctrlKey || event.metaKey) {
    return;
  }
  const step = event.shiftKey ? 1 : 10;
  switch (event.key) {
    case 'ArrowLeft': view.azimuth += step; break;
    case 'ArrowRight': view.azimuth -= step; break;
    case 'ArrowUp': view.elevation = Math.min(90, view.elevation + step); break;
    case 'ArrowDown': view.elevation = Math.max(-90, view.elevation - step); break;
    case 'e': case 'E': cycle(engineSelect, engines); return;
    case 's': case 'S': cycle(styleSelect, styles); return;
    case 'z': case 'Z': zupBox.checked = !zupBox.checked; redraw(); return;
    case '0': view.azimuth = -30; view.elevation = 15; break;
    default: return;
  }
  event.preventDefault();
  redraw();
});

for (const control of [engineSelect, styleSelect, zupBox]) {
  control.addEventListener('change', redraw);
}
fileInput.addEventListener('change', () => {
  if (fileInput.files.length > 0) {
    openFile(fileInput.files[0]);
  }
});
for (const target of [dropZone, canvas]) {
  target.addEventListener('dragover', (event) => {
    event.preventDefault();
    dropZone.classList.add('over');
  });
  target.addEventListener('dragleave', () => dropZone.classList.remove('over'));
  target.addEventListener('drop', (event) => {
    event.preventDefault();
    dropZone.classList.remove('over');
    if (event.dataTransfer.files.length > 0) {
      openFile(event.dataTransfer.files[0]);
    }
  });
}
if (!fixedSize) {
  new ResizeObserver(redraw).observe(canvas);
}

async function start() {
  trel = await window.trelLoading.module;
  document.getElementById('version').textContent = `trel ${trel.UTF8ToString(trel._trelweb_version())}`;
  useMesh('bunny.obj', parseMesh('bunny.obj', await window.trelLoading.bunny));
  shown.ready = true;
}

start().catch((e) => {
  shown.error = e.message;
  say(`cannot start: ${e.message}`, true);
});
