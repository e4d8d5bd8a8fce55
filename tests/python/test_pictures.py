"""Meshes and pictures: the same pixels as trel-render with the same options."""
import numpy as np
import pytest

import trel
from conftest import DATA, MESHES, decode_png, run_tool

ENGINE_STYLES = [(e, s) for e in ("3d", "2d", "2dxy") for s in ("solid", "wire", "both")]

# trel.render's keywords, and the same options as trel-render takes them.
OPTIONS = [
    ({}, []),
    ({"view": "iso", "size": (321, 203)}, ["--view", "iso", "--size", "321x203"]),
    ({"view": (90, -20), "margin": 0}, ["--view", "90,-20", "--margin", "0"]),
    ({"background": "none"}, ["--background", "none"]),
    ({"colour": "#c33", "background": (255, 255, 255)},
     ["--colour", "#c33", "--background", "white"]),
    ({"up": "z", "edge_colour": "white"}, ["--up", "z", "--edge-colour", "white"]),
    ({"thumbnail": 96}, ["--thumbnail", "96"]),
    ({"size": "64x480", "style": "both", "engine": "2d"},
     ["--size", "64x480", "--style", "both", "--engine", "2d"]),
]


def tool_picture(tool, tmp_path, mesh, args):
    out = tmp_path / "tool.png"
    done = run_tool(tool, *([mesh] if mesh else []), *args, "-o", out)
    assert done.returncode == 0, done.stderr
    return out.read_bytes()


@pytest.mark.parametrize("engine,style", ENGINE_STYLES)
@pytest.mark.parametrize("mesh", MESHES, ids=lambda p: p.name)
def test_each_mesh_engine_and_style(tool, tmp_path, mesh, engine, style):
    size = (160, 120)
    png = tool_picture(tool, tmp_path, mesh, ["--engine", engine, "--style", style,
                                               "--size", "160x120"])
    picture = trel.render(mesh, engine=engine, style=style, size=size)
    assert picture.shape == (120, 160, 4) and picture.dtype == np.uint8
    assert np.array_equal(picture, decode_png(png))


@pytest.mark.parametrize("options,args", OPTIONS)
def test_options_as_the_tool_takes_them(tool, tmp_path, options, args):
    png = tool_picture(tool, tmp_path, DATA / "gear.stl", args)
    assert np.array_equal(trel.render(DATA / "gear.stl", **options), decode_png(png))


def test_the_bunny_by_default(tool, tmp_path):
    png = tool_picture(tool, tmp_path, None, ["--size", "200x150"])
    assert np.array_equal(trel.render(size=(200, 150)), decode_png(png))


@pytest.mark.parametrize("mesh", ["torus.ply", "box.3mf"])
@pytest.mark.parametrize("depth_range", [None, (0.5, -0.5)])
def test_depth(tool, tmp_path, mesh, depth_range):
    args = ["--size", "120x90", "--depth", tmp_path / "d.png", "--depth16"]
    if depth_range:
        args += ["--depth-range", f"{depth_range[0]},{depth_range[1]}"]
    tool_picture(tool, tmp_path, DATA / mesh, args)
    depth = trel.render_depth(DATA / mesh, size=(120, 90), depth_range=depth_range)
    assert depth.dtype == np.uint16 and depth.max() == 65535
    assert np.array_equal(depth, decode_png((tmp_path / "d.png").read_bytes()))


def test_turntable(tool, tmp_path):
    run = run_tool(tool, DATA / "wuson.obj", "--frames", "4", "--size", "90x70",
                   "-o", tmp_path / "f.png")
    assert run.returncode == 0, run.stderr
    frames = list(trel.turntable(DATA / "wuson.obj", 4, size=(90, 70)))
    assert len(frames) == 4 and not np.array_equal(frames[0], frames[1])
    for k, frame in enumerate(frames):
        assert np.array_equal(frame, decode_png((tmp_path / f"f-{k:03d}.png").read_bytes()))


def test_png_bytes_are_the_tools(tool, tmp_path):
    for args, options in [([], {}), (["--background", "none", "--style", "wire"],
                                     {"background": "none", "style": "wire"})]:
        png = tool_picture(tool, tmp_path, DATA / "spider.stl", args)
        assert trel.render_png(DATA / "spider.stl", **options) == png


def test_mesh_from_arrays_draws_as_the_loaded_file():
    loaded = trel.load(DATA / "torus.ply")

    assert loaded.colours is not None  # the file's vertex colours, one a face

    class Trimeshlike:  # what trimesh.Trimesh offers
        vertices = loaded.vertices
        faces = loaded.faces.astype(np.int64)

    for mesh, colour in [(trel.Mesh(loaded.vertices, loaded.faces, loaded.colours), None),
                         (trel.Mesh(Trimeshlike()), "#f2d0a6")]:
        assert np.array_equal(trel.render(mesh, size=(100, 80)),
                              trel.render(loaded, size=(100, 80), colour=colour))


def test_face_colours():
    loaded = trel.load(DATA / "gear.stl")
    n = len(loaded.faces)
    red = trel.Mesh(loaded.vertices, loaded.faces, np.tile([255, 0, 0], (n, 1)))
    picture = trel.render(red, engine="2dxy", size=(60, 60), background="black")
    drawn = picture[..., :3].any(axis=2)
    assert drawn.any()
    assert np.all(picture[drawn][:, 1:3] == 0)  # unshaded red, nothing else
    assert np.array_equal(red.colours, np.full(n, 0x0000FF, np.uint32))


def test_pictures_show_in_jupyter():
    picture = trel.render(DATA / "gear.stl", size=(40, 30))
    for shown in (picture, trel.render_depth(DATA / "gear.stl", size=(40, 30)),
                  trel.load(DATA / "gear.stl")):
        png = shown._repr_png_()
        assert png[:8] == b"\x89PNG\r\n\x1a\n"
    assert np.array_equal(decode_png(picture._repr_png_()), picture)


BAD_MESHES = [  # file contents, words of the tool's message
    (b"", "mesh"),
    (b"v 0 0 0\nv 1 0 0\n", "no faces"),
    (b"this is not a mesh\n", "mesh"),
    (b"v 0 0 0\nv 1 0 0\nv nan 1 0\nf 1 2 3\n", "not a number"),
]


@pytest.mark.parametrize("content,words", BAD_MESHES)
def test_load_errors_are_the_tools(tool, tmp_path, content, words):
    bad = tmp_path / "bad.obj"
    bad.write_bytes(content)
    run = run_tool(tool, bad, "-o", tmp_path / "x.png")
    assert run.returncode == 2
    with pytest.raises(trel.LoadError) as info:
        trel.load(bad)
    assert isinstance(info.value, OSError)
    assert run.stderr.strip() == f"trel-render: {info.value}"
    assert words in str(info.value)


def test_memory_limit_means_what_it_means_to_the_tool(tool, tmp_path):
    # At the least limit trel-render takes, every mesh of data/ loads there and here: the
    # interpreter's own address space does not count against it.
    for mesh in ("bunny.obj", "torus.ply", "box.3mf", "fels.3ds"):
        run = run_tool(tool, DATA / mesh, "--max-memory", "64", "-o", tmp_path / "x.png")
        assert run.returncode == 0, run.stderr
        assert np.array_equal(trel.load(DATA / mesh, max_memory=64).faces,
                              trel.load(DATA / mesh).faces)


@pytest.mark.parametrize("options,error", [
    ({"view": "sideways"}, ValueError), ({"engine": "4d"}, ValueError),
    ({"style": "dotted"}, ValueError), ({"colour": "#12"}, ValueError),
    ({"colour": (300, 0, 0)}, ValueError), ({"colour": 5}, TypeError),
    ({"size": (0, 10)}, ValueError), ({"size": (5000, 10)}, ValueError),
    ({"size": "10"}, ValueError), ({"margin": 50}, ValueError), ({"up": "x"}, ValueError),
    ({"view": (float("nan"), 0)}, ValueError), ({"thumbnail": 10, "size": (5, 5)}, ValueError),
])
def test_bad_options(options, error):
    with pytest.raises(error):
        trel.render(DATA / "gear.stl", **options)


@pytest.mark.parametrize("vertices,faces,error,words", [
    (np.zeros((3, 2)), [[0, 1, 2]], ValueError, "vertices"),
    (np.array([["a"] * 3] * 3), [[0, 1, 2]], TypeError, "vertices"),
    (np.eye(3), [[0, 1, 3]], ValueError, "vertex 3"),
    (np.eye(3), [[0, 1, -1]], ValueError, "vertex -1"),
    (np.eye(3), [[0.0, 1.0, 2.0]], TypeError, "faces"),
    (np.eye(3), [[0, 1]], ValueError, "faces"),
    (np.eye(3), np.zeros((0, 3), int), ValueError, "nothing to draw"),
    (np.eye(3) * 1e16, [[0, 1, 2]], ValueError, "1e15"),
    (np.eye(3) + [[np.inf, 0, 0], [0, 0, 0], [0, 0, 0]], [[0, 1, 2]], ValueError, "1e15"),
    (np.ones((3, 3)), [[0, 1, 2]], ValueError, "no extent"),
])
def test_bad_meshes_from_arrays(vertices, faces, error, words):
    with pytest.raises(error, match=words):
        trel.Mesh(vertices, faces)
