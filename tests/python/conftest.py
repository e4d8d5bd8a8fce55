import numpy as np
import pytest

import trel

ENGINES = [trel.Engine2D, trel.Engine2DXY, trel.Engine3D]


def random_triangles(rng, n, spread=150.0):
    return rng.uniform(-spread, spread, size=(n, 3, 3))


@pytest.fixture
def rng():
    return np.random.default_rng(20261210)


# --- trel-render, to compare with ---------------------------------------------

import os
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "data"
MESHES = sorted(p for p in DATA.iterdir() if p.suffix != ".md")


def find_tool():
    named = os.environ.get("TREL_RENDER")
    if named:
        return named
    for candidate in sorted(ROOT.glob("build/*/bin/trel-render")):
        if os.access(candidate, os.X_OK):
            return str(candidate)
    return shutil.which("trel-render")


@pytest.fixture(scope="session")
def tool():
    found = find_tool()
    if not found:
        pytest.skip("trel-render is not built: set TREL_RENDER to compare with it")
    return found


def run_tool(tool, *args):
    # The tool runs as users run it, without a sanitizer preloaded for the tests.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    return subprocess.run([tool, *map(str, args)], capture_output=True, text=True, timeout=300,
                          env=env)


def decode_png(data):
    """The pixels of a PNG as numpy: rows x columns x 4 for colour, rows x
    columns for grey (uint16 at 16 bits)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, palette, alpha = 8, b"", None, None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            w, h, bits, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert interlace == 0
        elif kind == b"PLTE":
            palette = np.frombuffer(body, np.uint8).reshape(-1, 3)
        elif kind == b"tRNS":
            alpha = np.frombuffer(body, np.uint8)
        elif kind == b"IDAT":
            idat += body
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    bpp = max(1, channels * bits // 8)
    stride = (w * channels * bits + 7) // 8
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    flat = np.frombuffer(b"".join(rows), np.uint8)
    if ctype == 3:
        if bits < 8:
            per = 8 // bits
            idx = np.stack([(flat >> (8 - bits * (k + 1))) & ((1 << bits) - 1)
                            for k in range(per)], axis=1).reshape(h, -1)[:, :w]
        else:
            idx = flat.reshape(h, w)
        a = np.full(len(palette), 255, np.uint8)
        if alpha is not None:
            a[:len(alpha)] = alpha
        return np.dstack([palette[idx], a[idx]])
    if ctype == 0:
        return flat.view(">u2").astype(np.uint16).reshape(h, w) if bits == 16 else \
            flat.reshape(h, w)
    assert bits == 8
    img = flat.reshape(h, w, channels)
    if channels == 3:
        img = np.dstack([img, np.full((h, w), 255, np.uint8)])
    return img
