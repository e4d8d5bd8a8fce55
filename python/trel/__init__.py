"""trel: exact, GPU-free pictures from the trel software rasterizer.

Engines draw into numpy arrays (``Engine2D``, ``Engine2DXY``, ``Engine3D``);
``load``, ``Mesh``, ``render``, ``render_depth`` and ``turntable`` draw whole
meshes through the same code as trel-render, so a picture from Python is
trel-render's picture. ``trel.collection`` draws collections on Dask.
"""
import os
from importlib import resources

import numpy as np

from . import _trel
from ._trel import (  # noqa: F401
    Engine2D,
    Engine2DXY,
    Engine3D,
    LoadError,
    __version__,
    fardepth,
    largestside,
    version_info,
)

__all__ = ["Engine2D", "Engine2DXY", "Engine3D", "LoadError", "Mesh", "NOCOLOUR", "Picture", "load",
           "render", "render_depth", "render_png", "turntable", "fardepth", "largestside",
           "version_info", "__version__"]


# In a mesh's colours: the face has no colour of its own and is drawn in the
# picture's colour.
NOCOLOUR = 0xFFFFFFFF


class Picture(np.ndarray):
    """A picture as numpy: rows x columns x 4 uint8 (red, green, blue, alpha),
    or rows x columns uint16 for depth. Shows itself in Jupyter."""

    def _repr_png_(self):
        a = np.ascontiguousarray(self.view(np.ndarray))
        if a.dtype == np.uint16 and a.ndim == 2:
            return _trel._png16(a)
        if a.dtype == np.uint8:
            return _trel._png(a)
        return None


def _picture(array):
    return array.view(Picture)


def _colours_to_words(colours, count):
    c = np.asarray(colours)
    if c.dtype.kind not in "iu":
        raise TypeError(f"colours must be integers: (M,) colour words (red in bits 0-7) or "
                        f"(M, 3) red, green, blue bytes; its dtype is {c.dtype}")
    if c.ndim == 2 and c.shape[1] in (3, 4) and c.shape[0] == count:
        if c.min(initial=0) < 0 or c.max(initial=0) > 255:
            raise ValueError("colours given as (M, 3) bytes must be 0 to 255")
        c = c.astype(np.uint32)
        return np.ascontiguousarray(c[:, 0] | c[:, 1] << 8 | c[:, 2] << 16, dtype=np.uint32)
    if c.shape != (count,):
        raise ValueError(f"colours must have one colour a face, ({count},) words or "
                         f"({count}, 3) bytes; its shape is {c.shape}")
    c = c.astype(np.int64)
    if np.any((c < 0) | ((c > 0xFFFFFF) & (c != NOCOLOUR))):
        raise ValueError("colours given as words must be 0 to 0xFFFFFF (red in bits 0-7), or "
                         "trel.NOCOLOUR for a face drawn in the picture's colour")
    return np.ascontiguousarray(c, dtype=np.uint32)


class Mesh:
    """Triangles over shared vertices, as trel-render draws them.

    ``Mesh(vertices, faces, colours=None)``: (N, 3) real vertices, (M, 3)
    integer faces indexing them, and optionally one colour a face ((M,) words
    with red in bits 0-7, or trel.NOCOLOUR; or (M, 3) bytes). ``Mesh(obj)`` takes any object with
    ``.vertices`` and ``.faces`` (a trimesh.Trimesh, say). The mesh is checked
    as trel-render checks a file (ValueError when there is nothing to draw, a
    coordinate is not a number or beyond 1e15, or it has no extent) and its
    closed parts are wound outward.
    """

    def __init__(self, vertices, faces=None, colours=None):
        if faces is None and hasattr(vertices, "vertices") and hasattr(vertices, "faces"):
            vertices, faces = vertices.vertices, vertices.faces
        if faces is None:
            raise TypeError("Mesh needs faces, or an object with .vertices and .faces")
        v = np.asarray(vertices)
        f = np.asarray(faces)
        if v.dtype.kind not in "fiu":
            raise TypeError(f"vertices must be real numbers; its dtype is {v.dtype}")
        if v.ndim != 2 or v.shape[1] != 3:
            raise ValueError(f"vertices must be an (N, 3) array; its shape is {v.shape}")
        if f.dtype.kind not in "iu":
            raise TypeError(f"faces must be integers; its dtype is {f.dtype}")
        if f.ndim != 2 or f.shape[1] != 3:
            raise ValueError(f"faces must be an (M, 3) array; its shape is {f.shape}")
        if f.dtype == np.uint64 and f.size and f.max() > np.iinfo(np.int64).max:
            raise ValueError("faces refers to a vertex beyond the vertices")
        words = None if colours is None else _colours_to_words(colours, len(f))
        self._m = _trel._mesh(np.ascontiguousarray(v, dtype=np.float64),
                              np.ascontiguousarray(f, dtype=np.int64), words, "arrays")

    @classmethod
    def _wrap(cls, m):
        mesh = cls.__new__(cls)
        mesh._m = m
        return mesh

    @property
    def vertices(self):
        """(N, 3) float64: the vertices the faces, lines and points use."""
        return self._m.vertices

    @property
    def faces(self):
        """(M, 3) uint32, closed parts wound counter-clockwise seen from outside."""
        return self._m.faces

    @property
    def lines(self):
        """(L, 2) uint32 segments drawn as lines."""
        return self._m.lines

    @property
    def points(self):
        """(P,) uint32 vertices drawn as single pixels."""
        return self._m.points

    @property
    def colours(self):
        """The file's own colour of each face, (M,) words with red in bits 0-7, or None."""
        return self._m.colours

    def __repr__(self):
        return (f"<trel.Mesh: {len(self._m.vertices)} vertices, {len(self._m.faces)} faces, "
                f"{len(self._m.lines)} lines, {len(self._m.points)} points>")

    def _repr_png_(self):
        return render_png(self, size=(480, 360))


def load(path, max_memory=4096, timeout=30.0):
    """Reads a mesh file as trel-render does: parsed with assimp in a child
    process limited to `max_memory` MiB of address space and `timeout`
    seconds. Raises trel.LoadError (an OSError) with trel-render's one line."""
    path = os.fspath(path)
    if int(max_memory) < 64:
        raise ValueError(f"max_memory must be at least 64 (MiB), what any parse needs; "
                         f"got {max_memory}")
    if not float(timeout) > 0:
        raise ValueError(f"timeout must be above 0 seconds; got {timeout}")
    return Mesh._wrap(_trel._load(path, int(max_memory), float(timeout)))


_bunny = None


def bunny():
    """The Stanford bunny, the mesh trel-render draws when given none."""
    global _bunny
    if _bunny is None:
        data = resources.files(__package__).joinpath("bunny.obj").read_bytes()
        _bunny = Mesh._wrap(_trel._loadmemory(data, "obj", "bunny.obj"))
    return _bunny


def _meshof(mesh, max_memory, timeout):
    if mesh is None:
        return bunny()._m
    if isinstance(mesh, Mesh):
        return mesh._m
    if isinstance(mesh, (str, bytes, os.PathLike)):
        return load(mesh, max_memory, timeout)._m
    if hasattr(mesh, "vertices") and hasattr(mesh, "faces"):
        return Mesh(mesh)._m
    raise TypeError("mesh must be a trel.Mesh, a path, an object with .vertices and .faces, "
                    f"or None for the bunny; got {type(mesh).__name__}")


def _colourtext(value, arg):
    if value is None or isinstance(value, str):
        return value
    try:
        r, g, b = (int(x) for x in value)
    except (TypeError, ValueError):
        raise TypeError(f"{arg} must be a colour name, '#rrggbb', '#rgb' or (r, g, b)") from None
    if not all(0 <= x <= 255 for x in (r, g, b)):
        raise ValueError(f"{arg} must have red, green and blue from 0 to 255")
    return f"#{r:02x}{g:02x}{b:02x}"


def _settings(size=None, view=None, engine="3d", style=None, colour=None, background=None,
              transparent=False, up="auto", margin=5.0, edge_colour=None, thumbnail=None):
    if thumbnail is not None:
        if size is not None:
            raise ValueError("thumbnail does not go with size")
        size = (int(thumbnail), int(thumbnail))
        transparent = transparent or background is None
    if size is None:
        size = (800, 600)
    elif isinstance(size, str):
        size = _trel._parsesize(size)
    try:
        w, h = (int(x) for x in size)
    except (TypeError, ValueError):
        raise TypeError("size must be (width, height) or 'WxH'") from None
    if view is None:
        view = (-30.0, 15.0)
    if style is None:
        style = "both" if edge_colour is not None else "solid"
    if isinstance(background, str) and background.strip().lower() == "none":
        transparent, background = True, None
    return _trel._Settings(w, h, view, str(engine), str(style), _colourtext(colour, "colour"),
                           _colourtext(background, "background"), bool(transparent), str(up),
                           float(margin), _colourtext(edge_colour, "edge_colour"))


_OPTIONS_DOC = """
    `mesh` is a trel.Mesh, a path (loaded as trel.load loads it, with
    `max_memory` and `timeout`), an object with .vertices and .faces, or None
    for the bunny. The options are trel-render's, with its defaults:
    size=(800, 600) or 'WxH'; view=(-30, 15) as (azimuth, elevation) in degrees
    or a name (front back left right top bottom iso); engine '3d', '2d' or
    '2dxy'; style 'solid', 'wire' or 'both' ('both' when only edge_colour is
    given); colour (overrides the file's colours), background and edge_colour
    as a name, '#rrggbb', '#rgb' or (r, g, b); background='none' or
    transparent=True for alpha 0 where nothing was drawn; up 'auto', 'y' or
    'z'; margin in percent of each side (0 to below 50); thumbnail=SIZE for a
    SIZE x SIZE picture, transparent unless a background is given.
"""


def render(mesh=None, *, max_memory=4096, timeout=30.0, **options):
    """The picture trel-render draws: (height, width, 4) uint8, RGBA."""
    m = _meshof(mesh, max_memory, timeout)
    return _picture(_trel._render(m, _settings(**options)))


def render_png(mesh=None, *, max_memory=4096, timeout=30.0, **options):
    """The PNG file trel-render writes for the same mesh and options, as bytes."""
    m = _meshof(mesh, max_memory, timeout)
    return _trel._render_png(m, _settings(**options))


def render_depth(mesh=None, *, depth_range=None, max_memory=4096, timeout=30.0, **options):
    """The depth picture trel-render's --depth --depth16 writes: (height, width)
    uint16, 0 where nothing was drawn, nearest 65535. Without `depth_range` the
    drawn depths are stretched over 12336..65535; with (near, far) in the mesh's
    units in front of its centre, every picture maps a depth to the same grey."""
    if options.get("engine", "3d") != "3d":
        raise ValueError("render_depth draws with engine '3d' only")
    m = _meshof(mesh, max_memory, timeout)
    rng = None if depth_range is None else tuple(float(x) for x in depth_range)
    return _picture(_trel._render_depth(m, _settings(**options), rng))


def turntable(mesh=None, frames=36, *, max_memory=4096, timeout=30.0, **options):
    """An iterator over `frames` pictures at equal steps once round the vertical
    axis from the view, as trel-render --frames draws them: the mesh is placed
    once for all frames. Each is drawn when it is asked for."""
    m = _meshof(mesh, max_memory, timeout)
    turn = _trel._Turntable(m, _settings(**options), int(frames))
    return (_picture(turn.frame(k)) for k in range(len(turn)))


render.__doc__ += _OPTIONS_DOC
render_png.__doc__ += _OPTIONS_DOC
render_depth.__doc__ += _OPTIONS_DOC
turntable.__doc__ += _OPTIONS_DOC
