"""trel from Python against itself from C++ and against PyOpenGL + OSMesa.

    /usr/bin/python3 bench/python/compare.py [frame] [render] [cold] [dask] [--rounds N]

with trel installed in the interpreter (pip install . in a venv made with
--system-site-packages works) and, for `render` and `cold`, Debian's
python3-opengl and libosmesa6. Each part runs its contenders interleaved,
round after round, and prints medians from the same run:

  frame   the bunny frame (3d engine, 640x480) drawn through
          Engine3D.triangles against the same calls from C++ (frame.cpp,
          compiled here against the installed library)
  render  trel.render of the bunny at 640x480, warm, turning a degree a
          frame, against the OSMesa script in ../shared/anchors/python/
  cold    a fresh `python3 -c "import trel; trel.render(...)"` against the
          OSMesa script's first picture, from process start
  dask    trel.collection.render_all over 200 small meshes on a local cluster
          of one worker and of two

The OSMesa script is looked for in $ANCHORS_DIR, else ../shared/anchors/python
beside the repository.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import trel

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
BUNNY = ROOT / "data" / "bunny.obj"
ANCHORS = Path(os.environ.get("ANCHORS_DIR", ROOT.parent / "shared" / "anchors" / "python"))
W, H = 640, 480


def median_ms(values):
    return 1000.0 * statistics.median(values)


def bunny_frame():
    """The bunny's triangles placed for a 640x480 engine3d: world x right, y
    into the picture, z up; fit to 90% of the height, turned by the default
    view (-30, 15)."""
    mesh = trel.load(BUNNY)
    v = mesh.vertices
    v = v - (v.min(0) + v.max(0)) / 2
    az, el = np.radians(-30.0), np.radians(15.0)
    turn = np.array([[np.cos(az), 0, np.sin(az)], [0, 1, 0], [-np.sin(az), 0, np.cos(az)]])
    rise = np.array([[1, 0, 0], [0, np.cos(el), -np.sin(el)], [0, np.sin(el), np.cos(el)]])
    view = v @ turn.T @ rise.T  # x right, y up, z toward the viewer
    scale = 0.9 * H / (view[:, 1].max() - view[:, 1].min())
    world = np.stack([view[:, 0], -view[:, 2], view[:, 1]], axis=1) * scale
    return np.ascontiguousarray(world[mesh.faces.astype(np.int64)])


def frame(rounds):
    corners = bunny_frame()
    build = Path(tempfile.mkdtemp(prefix="trel-frame-"))
    data = build / "corners.f64"
    corners.tofile(data)
    package = Path(trel.__file__).parent
    program = build / "frame"
    subprocess.run(["c++", "-std=c++20", "-O2", str(HERE / "frame.cpp"), "-I", str(ROOT / "include"),
                    str(package / "libtreldll.so.0.9"), str(package / "libquimdll.so.0.9"),
                    f"-Wl,-rpath,{package}", "-o", str(program)], check=True)
    e = trel.Engine3D(W, H)
    py, cc = [], []
    for _ in range(rounds):
        times = []
        for _ in range(50):
            t = time.perf_counter()
            e.clear(0x00202020)
            e.triangles(corners, 0x00A6D0F2)
            times.append(time.perf_counter() - t)
        py.append(statistics.median(times))
        out = subprocess.run([str(program), str(data), "50"], check=True, capture_output=True,
                             text=True).stdout
        cc.append(float(out) / 1000.0)
    shutil.rmtree(build)
    p, c = median_ms(py), median_ms(cc)
    return {"part": "frame", "triangles": len(corners), "python_ms": round(p, 4),
            "cpp_ms": round(c, 4), "ratio": round(p / c, 3)}


def osmesa(mode):
    env = dict(os.environ, PYOPENGL_PLATFORM="osmesa", ANCHORS_BUNNY=str(BUNNY))
    work = Path(tempfile.mkdtemp(prefix="trel-osmesa-"))
    (work / "out").mkdir()
    start = time.time()
    run = subprocess.run(["/usr/bin/python3", str(ANCHORS / "r_osmesa.py"), mode], cwd=work,
                         env=env, capture_output=True, text=True, check=True)
    shutil.rmtree(work)
    result = json.loads(run.stdout.strip().splitlines()[-1])
    if mode == "cold":
        return result["first_image_epoch"] - start
    return result["frame_ms"]


def trel_warm(mesh, frames=50):
    trel.render(mesh, size=(W, H))
    times = []
    for i in range(1, frames + 1):
        t = time.perf_counter()
        trel.render(mesh, size=(W, H), view=(-30.0 + i, 15.0))
        times.append(time.perf_counter() - t)
    return times


def trel_cold():
    code = ("import time, trel; trel.render(%r, size=(640, 480)); print(time.time())"
            % str(BUNNY))
    start = time.time()
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return float(run.stdout) - start


def render(rounds):
    mesh = trel.load(BUNNY)
    ours, theirs = [], []
    for _ in range(rounds):
        ours.append(statistics.median(trel_warm(mesh)))
        theirs.append(statistics.median(osmesa("warm")) / 1000.0)
    o, t = median_ms(ours), median_ms(theirs)
    return {"part": "render", "trel_ms": round(o, 3), "osmesa_ms": round(t, 3),
            "speedup": round(t / o, 2)}


def cold(rounds):
    ours, theirs = [], []
    for _ in range(rounds):
        ours.append(trel_cold())
        theirs.append(osmesa("cold"))
    o, t = statistics.median(ours), statistics.median(theirs)
    return {"part": "cold", "trel_s": round(o, 3), "osmesa_s": round(t, 3),
            "share": round(o / t, 3)}


def dask(rounds, meshes=200):
    from dask.distributed import Client, LocalCluster

    from trel import collection

    work = Path(tempfile.mkdtemp(prefix="trel-dask-"))
    small = [m for m in sorted((ROOT / "data").iterdir())
             if m.suffix in (".stl", ".off", ".ply", ".3mf")]
    paths = []
    for i in range(meshes):
        source = small[i % len(small)]
        path = work / "in" / f"m{i:03d}{source.suffix}"
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(source, path)
        paths.append(path)
    result = {"part": "dask", "meshes": meshes}
    clients = {}
    for n in (1, 2):
        cluster = LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        clients[n] = (Client(cluster), cluster)
    times = {1: [], 2: []}
    for r in range(rounds):
        for n in (1, 2):
            out = work / f"out-{n}-{r}"
            t = time.perf_counter()
            rows = collection.render_all(paths, out, clients[n][0], progress=False,
                                         thumbnail=256)
            times[n].append(time.perf_counter() - t)
            assert all(row["status"] == "drawn" for row in rows)
            shutil.rmtree(out)
    for client, cluster in clients.values():
        client.close()
        cluster.close()
    shutil.rmtree(work)
    one, two = statistics.median(times[1]), statistics.median(times[2])
    result.update({"one_worker_s": round(one, 3), "two_workers_s": round(two, 3),
                   "speedup": round(one / two, 2),
                   "ms_per_mesh_two_workers": round(1000 * two / meshes, 2)})
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("parts", nargs="*", default=["frame", "render", "cold", "dask"])
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()
    for part in args.parts:
        print(json.dumps(globals()[part](args.rounds)), flush=True)


if __name__ == "__main__":
    main()
