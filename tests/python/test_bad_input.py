"""Bad input: wrong arrays and refused sizes raise, naming what was wrong."""
import numpy as np
import pytest

import trel
from conftest import ENGINES


def readonly(a):
    a.flags.writeable = False
    return a


BAD_BUFFERS = [  # (buffer for a 6x4 engine: stride 8, so 32 or 48 words), error, words in message
    (np.zeros(32, np.float32), TypeError, "dtype is float32"),
    (np.zeros(32, np.int64), TypeError, "dtype is int64"),
    (np.zeros(31, np.uint32), ValueError, "holds 31"),
    (np.zeros(64, np.uint32)[::2], ValueError, "C-contiguous"),
    (np.zeros((8, 4), np.uint32).T, ValueError, "C-contiguous"),
    (readonly(np.zeros(32, np.uint32)), ValueError, "read-only"),
    ([0] * 32, TypeError, "numpy.ndarray"),
]


@pytest.mark.parametrize("cls", [trel.Engine2D, trel.Engine2DXY])
@pytest.mark.parametrize("buf,error,words", BAD_BUFFERS)
def test_bad_buffer(cls, buf, error, words):
    with pytest.raises(error, match="buffer") as info:
        cls(6, 4, buf)
    assert words in str(info.value)


def test_engine3d_block_holds_the_depth_plane():
    with pytest.raises(ValueError, match="48 words"):
        trel.Engine3D(6, 4, np.zeros(32, np.uint32))
    trel.Engine3D(6, 4, np.zeros((6, 8), np.uint32))  # any shape of the right size


@pytest.mark.parametrize("cls", ENGINES)
@pytest.mark.parametrize("w,h", [(-1, 10), (10, -1), (4097, 10), (10, 4097), (2**31 - 1, 1)])
def test_refused_sizes(cls, w, h):
    with pytest.raises(ValueError, match="refuses the size"):
        cls(w, h)


@pytest.mark.parametrize("cls", ENGINES)
def test_largest_size_is_accepted(cls):
    e = cls(4096, 2)
    assert e.width() == 4096


CORNERS_OK = np.zeros((5, 3, 3))
BAD_ARRAYS = [  # call, argument, value, error, words in message
    ("triangles", "corners", CORNERS_OK.astype(np.float32), TypeError, "float64"),
    ("triangles", "corners", np.zeros((5, 3, 2)), ValueError, r"\(5, 3, 2\)"),
    ("triangles", "corners", np.zeros((5, 9)), ValueError, r"\(N, 3, 3\)"),
    ("triangles", "corners", np.zeros((3, 3, 5)).T, ValueError, "C-contiguous"),
    ("triangles", "corners", "abc", TypeError, "corners"),
    ("lines", "ends", np.zeros((5, 3, 3)), ValueError, r"\(N, 2, 3\)"),
    ("lines", "ends", np.zeros((5, 2, 3), np.int64), TypeError, "int64"),
    ("dots", "points", np.zeros((5, 3, 1)), ValueError, r"\(N, 3\)"),
    ("dots", "points", np.zeros((10, 3))[::2], ValueError, "C-contiguous"),
    ("triangles", "colours", np.zeros(4, np.uint32), ValueError, r"\(4,\)"),
    ("triangles", "colours", np.zeros(5, np.int32), TypeError, "int32"),
    ("triangles", "colours", np.zeros(10, np.uint32)[::2], ValueError, "C-contiguous"),
]


@pytest.mark.parametrize("cls", ENGINES)
@pytest.mark.parametrize("call,arg,value,error,words", BAD_ARRAYS)
def test_bad_arrays(cls, call, arg, value, error, words):
    e = cls(16, 16)
    shape = {"triangles": (5, 3, 3), "lines": (5, 2, 3), "dots": (5, 3)}[call]
    args = {"corners": np.zeros(shape), "ends": np.zeros(shape), "points": np.zeros(shape),
            "colours": 1}
    first = {"triangles": "corners", "lines": "ends", "dots": "points"}[call]
    args[arg] = value
    with pytest.raises(error, match=arg) as info:
        getattr(e, call)(args[first], args["colours"])
    assert info.match(words)


def test_lists_are_taken_as_arrays():
    a, b = trel.Engine2DXY(16, 16), trel.Engine2DXY(16, 16)
    tri = [[[-5, -5, 0], [5, -5, 0], [0, 5, 0]]]
    a.triangles(tri, 3)
    b.triangles(np.array(tri, float), 3)
    assert np.array_equal(a.pixels, b.pixels) and a.pixels.any()
