"""Collections on Dask: trel-render's batch names and pictures, resumed runs,
bad meshes reported, and a worker killed in the middle of a run."""
import csv
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

from conftest import DATA, MESHES, run_tool

distributed = pytest.importorskip("distributed")
collection = pytest.importorskip("trel.collection")


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    c = distributed.Client(cluster)
    yield c
    c.close()
    cluster.close()


def copies(folder, names):
    """Copies of the meshes of data/ under the given names (relative paths),
    each a mesh of data/ in the format its name says."""
    paths = []
    for name in names:
        path = folder / name
        source = next(m for m in MESHES if m.suffix.lower() == path.suffix.lower())
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(source, path)
        paths.append(path)
    return paths


def listing(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir()
            if p.name != collection.REPORT_NAME}


# Names that meet: stems shared across formats, the same name in two folders,
# names that differ in case, a name with two dots, the same file twice.
NAMES = ["a.stl", "a.obj", "x/b.ply", "y/b.ply", "C.off", "c.3mf", "d.e.stl", "f.stl",
         # Names that fold alike only under Unicode's case folding.
         "Σ.off", "ς.stl", "ẞ.obj", "ß.ply", "Ж.stl", "ж.obj"]


def test_names_and_pictures_are_the_tools(tool, tmp_path, client):
    meshes = copies(tmp_path / "in", NAMES)
    meshes.append(meshes[0])
    run = run_tool(tool, *meshes, "--out-dir", tmp_path / "tool", "--size", "120x90")
    assert run.returncode == 0, run.stderr
    rows = collection.render_all(meshes, tmp_path / "py", client, size=(120, 90),
                                 progress=False)
    assert [r["status"] for r in rows] == ["drawn"] * len(NAMES)
    assert listing(tmp_path / "py") == listing(tmp_path / "tool")


def test_bad_meshes_are_reported_and_reruns_resume(tmp_path, client):
    meshes = copies(tmp_path / "in", ["g.stl", "h.obj", "i.ply"])
    (tmp_path / "in" / "bad.obj").write_text("not a mesh\n")
    meshes.insert(1, tmp_path / "in" / "bad.obj")
    meshes.append(tmp_path / "in" / "missing.stl")
    out = tmp_path / "out"
    first = collection.render_all(meshes, out, client, size=(64, 48), progress=False)
    assert [r["status"] for r in first] == ["drawn", "failed", "drawn", "drawn", "failed"]
    assert "bad.obj" in first[1]["message"] and "missing.stl" in first[4]["message"]
    assert sorted(os.listdir(out)) == ["g.png", "h.png", "i.png", collection.REPORT_NAME]
    with open(out / collection.REPORT_NAME, newline="") as f:
        report = list(csv.DictReader(f))
    assert [r["status"] for r in report] == [r["status"] for r in first]
    assert all(float(r["seconds"]) >= 0 for r in report)

    (out / "h.png").unlink()
    again = collection.render_all(meshes, out, client, size=(64, 48), progress=False)
    assert [r["status"] for r in again] == ["skipped", "failed", "drawn", "skipped", "failed"]

    with pytest.raises(ValueError, match="sideways"):  # refused before anything is drawn
        collection.render_all(meshes, tmp_path / "none", client, view="sideways")
    assert not (tmp_path / "none").exists()


def test_command_line(tool, tmp_path):
    meshes = copies(tmp_path / "in", ["j.stl", "k.off"])
    (tmp_path / "in" / "bad.stl").write_bytes(b"solid x\nendsolid x\n")
    meshes.append(tmp_path / "in" / "bad.stl")
    report = tmp_path / "report.json"
    run = subprocess.run([sys.executable, "-m", "trel.collection", *map(str, meshes),
                          "--out-dir", str(tmp_path / "py"), "--workers", "1", "--view", "iso",
                          "--engine", "2d", "--report", str(report)],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 2, run.stderr
    assert "bad.stl" in run.stderr and "2 drawn, 0 skipped, 1 failed" in run.stderr
    rows = json.loads(report.read_text())
    assert [r["status"] for r in rows] == ["drawn", "drawn", "failed"]
    tool_run = run_tool(tool, *meshes[:2], "--out-dir", tmp_path / "tool", "--view", "iso",
                        "--engine", "2d")
    assert tool_run.returncode == 0, tool_run.stderr
    assert listing(tmp_path / "py") == listing(tmp_path / "tool")


def test_a_killed_worker_loses_nothing(tool, tmp_path, client):
    names = [f"set{i // len(MESHES)}/{MESHES[i % len(MESHES)].name}" for i in range(60)]
    meshes = copies(tmp_path / "in", names)
    out = tmp_path / "py"
    killed = {}

    def kill_one_worker():
        while len(list(out.glob("*.png"))) < 4:
            time.sleep(0.005)
        pids = client.run(os.getpid)
        pid = sorted(pids.values())[0]
        killed["pictures"] = len(list(out.glob("*.png")))
        os.kill(pid, signal.SIGKILL)

    killer = threading.Thread(target=kill_one_worker, daemon=True)
    killer.start()
    rows = collection.render_all(meshes, out, client, size=(400, 300), progress=False,
                                 window=7, per_task=3)
    killer.join(timeout=60)
    assert "pictures" in killed, "the run ended before a worker was killed"
    assert 4 <= killed["pictures"] < 60  # killed in the middle of the run
    assert [r["status"] for r in rows] == ["drawn"] * 60
    assert not [p for p in os.listdir(out) if p.startswith(".")]  # no temporary file left
    run = run_tool(tool, *meshes, "--out-dir", tmp_path / "tool", "--size", "400x300")
    assert run.returncode == 0, run.stderr
    assert listing(out) == listing(tmp_path / "tool")
