"""Engines over numpy arrays: the blocks, the views, the array calls."""
import gc

import numpy as np
import pytest

import trel
from conftest import ENGINES, random_triangles

WORDS_PER_PIXEL = {trel.Engine2D: 1.0, trel.Engine2DXY: 1.0, trel.Engine3D: 1.5}


def block_for(cls, w, h):
    stride = (w + 3) // 4 * 4
    return np.zeros(int(stride * h * WORDS_PER_PIXEL[cls]), np.uint32)


@pytest.mark.parametrize("cls", ENGINES)
@pytest.mark.parametrize("w,h", [(1, 1), (101, 7), (320, 240), (0, 5)])
def test_sizes_and_views(cls, w, h):
    e = cls(w, h)
    stride = (w + 3) // 4 * 4
    assert (e.width(), e.height(), e.columns) == (stride, h, w)
    assert e.pixels.shape == (h, stride) and e.pixels.dtype == np.uint32
    assert e.has_depth() == (cls is trel.Engine3D)
    assert e.to_rgba().shape == (h, w if h else 0, 4)
    if cls is trel.Engine3D:
        assert e.depth.shape == (h, stride) and e.depth.dtype == np.int16
    else:
        assert e.depth is None


@pytest.mark.parametrize("cls", ENGINES)
def test_views_share_the_block(cls):
    buf = block_for(cls, 17, 9)
    e = cls(17, 9, buf)
    e.clear(0x00123456)
    assert np.all(e.pixels == 0x00123456)
    assert np.shares_memory(e.pixels, buf)
    e.pixels[3, 4] = 7  # written through the view, read by the engine's picture
    assert buf[3 * e.width() + 4] == 7
    if cls is trel.Engine3D:
        assert np.all(e.depth == trel.fardepth)
        assert np.shares_memory(e.depth, buf)


@pytest.mark.parametrize("cls", ENGINES)
def test_own_block_and_callers_block_draw_alike(cls, rng):
    tris = random_triangles(rng, 200)
    cols = rng.integers(0, 2**24, 200, dtype=np.uint32)
    pictures = []
    for buf in (None, block_for(cls, 203, 150)):
        e = cls(203, 150, buf)
        e.clear(0x00101010)
        e.triangles(tris, cols)
        pictures.append(e.pixels.copy())
    assert np.array_equal(*pictures)
    assert len(np.unique(pictures[0])) > 10


@pytest.mark.parametrize("cls", ENGINES)
@pytest.mark.parametrize("call", ["triangles", "lines", "dots"])
def test_array_calls_draw_what_single_calls_draw(cls, call, rng):
    n = 300
    shape = {"triangles": (n, 3, 3), "lines": (n, 2, 3), "dots": (n, 3)}[call]
    pts = rng.uniform(-200, 200, size=shape)
    cols = rng.integers(0, 2**32, n, dtype=np.uint32)
    one, many = cls(160, 120), cls(160, 120)
    for e in (one, many):
        e.clear(0)
    for i in range(n):
        if call == "triangles":
            one.tri(*pts[i], int(cols[i]))
        elif call == "lines":
            one.line(*pts[i], int(cols[i]))
        else:
            one.dot(pts[i], int(cols[i]))
    getattr(many, call)(pts, cols)
    assert np.array_equal(one.pixels, many.pixels)
    if cls is trel.Engine3D:
        assert np.array_equal(one.depth, many.depth)
    # One colour for all draws what the same colour in each draws.
    single, each = cls(160, 120), cls(160, 120)
    getattr(single, call)(pts, 0x00ABCDEF)
    getattr(each, call)(pts, np.full(n, 0x00ABCDEF, np.uint32))
    assert np.array_equal(single.pixels, each.pixels)


@pytest.mark.parametrize("cls", ENGINES)
def test_polyline_is_its_segments(cls, rng):
    pts = rng.uniform(-60, 60, size=(12, 3))
    a, b = cls(128, 128), cls(128, 128)
    a.clear(0)
    b.clear(0)
    a.line(pts, 0x00FF00FF)
    b.lines(np.stack([pts[:-1], pts[1:]], axis=1), 0x00FF00FF)
    assert np.array_equal(a.pixels, b.pixels)


@pytest.mark.parametrize("cls", ENGINES)
def test_reserved_operations_draw_nothing(cls):
    e = cls(32, 32)
    e.clear(0x00010203)
    before = e.pixels.copy()
    e.begin()
    e.tri((0, 0, 0), (9, 0, 9), np.zeros((4, 3)), 0xFF)
    e.tri((0, 0, 0), np.ones((4, 3)), 0xFF)
    e.text((0, 0, 0), "trel", 0xFF)
    e.text((0, 0, 0), None, 0xFF)
    e.line(np.zeros((1, 3)), 0xFF)  # a polyline of one point
    e.end()
    assert np.array_equal(before, e.pixels)


@pytest.mark.parametrize("cls,red_byte", [(trel.Engine2D, 0), (trel.Engine2DXY, 0),
                                          (trel.Engine3D, 2)])
def test_to_rgba_puts_red_first(cls, red_byte):
    e = cls(64, 64)
    e.clear(0xFF000000)  # the fourth byte set: undrawn pixels come out transparent
    e.line((-20, 0, 0), (20, 0, 0), 0x000000FF)
    rgba = e.to_rgba()
    words = e.pixels[:, :64]
    drawn = (words >> 24) == 0
    assert drawn.any() and not drawn.all()
    assert np.array_equal(rgba[..., 3], np.where(drawn, 255, 0))
    assert np.array_equal(rgba[..., 0], (words >> (8 * red_byte)) & 0xFF)
    assert np.array_equal(rgba[..., 1], (words >> 8) & 0xFF)
    # A line of red in channel 0 is red in the picture on every engine.
    assert np.all(rgba[drawn] == [255, 0, 0, 255])


def test_class_origin_follows_the_newest_engine():
    a = trel.Engine2D(200, 100)
    assert trel.Engine2D.origin == (100, 30)
    b = trel.Engine2D(100, 50)
    assert trel.Engine2D.origin == (50, 5)
    a.clear(0)
    a.dot((0, 0, 0), 9)
    assert a.pixels[5, 50] == 9
    del b
    trel.Engine3D(64, 64)
    assert trel.Engine2D.origin == (50, 5)


@pytest.mark.parametrize("cls", ENGINES)
def test_callers_array_outlives_its_name(cls, rng):
    buf = block_for(cls, 48, 40)
    e = cls(48, 40, buf)
    view = e.pixels
    del buf
    gc.collect()
    e.clear(0)
    e.triangles(random_triangles(rng, 50, 30.0), 0x00FFFFFF)
    del e
    gc.collect()
    assert view.any()  # the block lives on in the view


@pytest.mark.parametrize("cls", ENGINES)
@pytest.mark.parametrize("value", [np.nan, np.inf, -np.inf, 1e300, -1e300, 3e9, 2.0**30])
def test_wild_coordinates_stay_inside_the_picture(cls, value, rng):
    # The engine draws into the middle of a larger array: the words around
    # its block must keep their guard value whatever it is handed.
    words = block_for(cls, 40, 30).size
    guard = np.full(words + 2000, 0xDEADBEEF, np.uint32)
    e = cls(40, 30, guard[1000:1000 + words])
    e.clear(0)
    tris = random_triangles(rng, 100, 30.0)
    tris[::3, 1, rng.integers(0, 3)] = value
    tris[1::3, :, 0] = value
    e.triangles(tris, 0x00FFFFFF)
    e.lines(np.ascontiguousarray(tris[:, :2]), 0x00FF0000)
    e.dots(np.ascontiguousarray(tris[:, 0]), 0x0000FF00)
    assert np.all(guard[:1000] == 0xDEADBEEF) and np.all(guard[1000 + words:] == 0xDEADBEEF)
