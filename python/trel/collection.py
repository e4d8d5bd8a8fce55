"""Pictures of many meshes on a Dask cluster.

    python3 -m trel.collection MESHES... --out-dir DIR [--scheduler tcp://HOST:8786] [options]

or ``trel.collection.render_all(paths, out_dir, client=None, **options)``.

Each mesh becomes one picture in DIR, named as ``trel-render --out-dir`` names
it, drawn by a task on a Dask worker process with the same options as
trel-render's. Pictures are written to a temporary name and renamed, so a
picture in DIR is always whole; a picture already there is skipped, so a rerun
resumes. A mesh that cannot be drawn is reported and the others go on. A
report (CSV, or JSON when its name ends in ``.json``) lists each mesh's file,
status (``drawn``, ``skipped`` or ``failed``), message and seconds.

Without a scheduler a local cluster of worker processes is started, one per
core; with one, the same tasks run on that cluster (its workers need trel
installed and the meshes and DIR at the same paths).
"""
import argparse
import csv
import glob
import json
import os
import sys
import time
import uuid

REPORT_NAME = "trel-report.csv"

# --- Names: as trel-render's batch gives them ------------------------------


def _identify(path):
    if not path:
        return None
    try:
        st = os.stat(path)
    except OSError:
        return None
    return (st.st_dev, st.st_ino)


def distinct_meshes(paths):
    """Each mesh once, in the order first given: the same file through two
    spellings or a link is drawn once."""
    kept, files, names = [], set(), set()
    for m in paths:
        ident = _identify(m)
        seen, key = (files, ident) if ident else (names, m)
        if key not in seen:
            seen.add(key)
            kept.append(m)
    return kept


def batch_names(paths, out_dir):
    """The picture each mesh of `paths` becomes in `out_dir`, in order, as
    trel-render's batch names them (the same code): STEM.png; NAME.png for
    meshes whose stems meet (without regard to case); NAME-2.png,
    NAME-3.png... for the second, third such mesh; a name that is one of the
    batch's own meshes, or the same file as an earlier picture, is numbered
    instead."""
    from . import _trel

    given = [b"" if m is None else os.fsencode(m) for m in paths]
    return [os.fsdecode(p) for p in _trel._batchoutputs(given, os.fsencode(out_dir))]


# --- One mesh, on a worker --------------------------------------------------


def _temporary(out, token):
    folder, name = os.path.split(out)
    return os.path.join(folder, f".{name}.trel-{token}-{os.getpid()}.tmp")


def _row(mesh, out, status, message="", seconds=0.0):
    """The report's row of one mesh."""
    return {"file": mesh or "", "picture": os.path.basename(out), "status": status,
            "message": " ".join(str(message).split()), "seconds": round(seconds, 4)}


def draw_one(mesh, out, token, options):
    """Draws `mesh` into the PNG `out` through a temporary file; returns the
    report's row. Runs on a worker."""
    import trel

    start = time.perf_counter()
    if os.path.exists(out):
        # Drawn by an earlier attempt at this task, whose worker stopped
        # after the rename: the picture is whole.
        return _row(mesh, out, "drawn")
    tmp = _temporary(out, token)
    try:
        data = trel.render_png(mesh, **options)
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, out)
    except Exception as e:  # one line in the report; the batch goes on
        try:
            os.unlink(tmp)
        except OSError:
            pass
        return _row(mesh, out, "failed", e, time.perf_counter() - start)
    return _row(mesh, out, "drawn", seconds=time.perf_counter() - start)


def draw_some(items, token, options):
    """Draws each (mesh, picture) of `items` as draw_one does; their report's
    rows. One task, on a worker."""
    return [draw_one(mesh, out, token, options) for mesh, out in items]


# --- The batch ----------------------------------------------------------------


class _Progress:
    def __init__(self, total, stream):
        self.total, self.done, self.stream = total, 0, stream
        self.tty = stream.isatty()
        self.shown = -1

    def failure(self, row):
        self._clear()
        print(f"trel.collection: {row['file']}: {row['message']}", file=self.stream)
        self.show()

    def step(self):
        self.done += 1
        self.show()

    def show(self):
        if self.total == 0:
            return
        if self.tty:
            filled = 20 * self.done // self.total
            print(f"\r[{'#' * filled}{' ' * (20 - filled)}] {self.done}/{self.total}",
                  end="", file=self.stream, flush=True)
        else:
            step = 100 * self.done // self.total
            if step // 10 != self.shown // 10 or self.done == self.total:
                self.shown = step
                print(f"{self.done}/{self.total}", file=self.stream, flush=True)

    def _clear(self):
        if self.tty:
            print("\r" + " " * 40 + "\r", end="", file=self.stream)

    def close(self):
        if self.tty and self.total:
            print(file=self.stream)


def write_report(rows, path):
    fields = ["file", "picture", "status", "message", "seconds"]
    tmp = path + ".tmp"
    with open(tmp, "w", newline="") as f:
        if path.endswith(".json"):
            json.dump([{k: r.get(k, "") for k in fields} for r in rows], f, indent=1)
            f.write("\n")
        else:
            w = csv.DictWriter(f, fieldnames=fields, extrasaction="ignore")
            w.writeheader()
            w.writerows(rows)
    os.replace(tmp, path)


def _local_client(workers):
    from dask.distributed import Client, LocalCluster

    n = workers or len(os.sched_getaffinity(0))
    cluster = LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                           dashboard_address=None)
    return Client(cluster), cluster


def _per_task(client, count):
    """How many meshes one task draws: up to 16, fewer when that would leave
    less than 16 tasks a worker, so that every worker stays busy to the end.
    Each task costs the scheduler and the client a few milliseconds of their
    own, about what drawing a small mesh takes."""
    workers = max(1, len(client.scheduler_info().get("workers", {})))
    return max(1, min(16, count // (16 * workers)))


def _run(client, chunks, meshes, outs, token, options, window):
    """Runs a task for each chunk of mesh numbers and yields (number, row) as
    they finish. A window of tasks is in flight, topped up as they finish: a
    million meshes need neither a million futures nor a million tasks in the
    scheduler at once."""
    from dask.distributed import as_completed

    waiting = iter(chunks)
    futures = {}
    finished = as_completed()

    def submit_next():
        chunk = next(waiting, None)
        if chunk is not None:
            items = [(meshes[i], outs[i]) for i in chunk]
            f = client.submit(draw_some, items, token, options, pure=False,
                              key=f"trel-{token}-{chunk[0]}")
            futures[f] = chunk
            finished.add(f)

    for _ in range(window):
        submit_next()
    for f in finished:
        chunk = futures.pop(f)
        submit_next()
        try:
            got = f.result()
        except Exception as e:  # the task's worker died too often, say
            # Pictures its attempts finished are whole; the others failed.
            got = [_row(meshes[i], outs[i], "drawn") if os.path.exists(outs[i])
                   else _row(meshes[i], outs[i], "failed", e) for i in chunk]
        yield from zip(chunk, got)


def render_all(paths, out_dir, client=None, *, report=None, workers=None, progress=True,
               window=2000, per_task=None, **options):
    """Draws every mesh of `paths` into `out_dir` (made when missing) with
    trel.render's options, in tasks of `per_task` meshes (None: chosen from
    the number of meshes and workers) on `client` (a dask.distributed Client;
    None starts a local cluster of `workers` processes, one per core by
    default), at most `window` tasks at a time. Returns the report's rows,
    also written to `report` (default DIR/trel-report.csv; .json for JSON)."""
    import trel

    # Bad options are refused before anything is made, as trel-render refuses them.
    trel._settings(**{k: v for k, v in options.items() if k not in ("max_memory", "timeout")})
    if int(options.get("max_memory", 4096)) < 64:
        raise ValueError(f"max_memory must be at least 64 (MiB); got {options['max_memory']}")
    if not float(options.get("timeout", 30.0)) > 0:
        raise ValueError(f"timeout must be above 0 seconds; got {options['timeout']}")
    paths = [None if p is None else os.fspath(p) for p in paths] or [None]
    out_dir = os.fspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    meshes = distinct_meshes(paths)
    outs = batch_names(meshes, out_dir)
    token = uuid.uuid4().hex[:12]
    rows = [None] * len(meshes)
    todo = []
    for i, (mesh, out) in enumerate(zip(meshes, outs)):
        if os.path.exists(out):
            rows[i] = _row(mesh, out, "skipped")
        else:
            todo.append(i)

    stream = sys.stderr
    bar = _Progress(len(meshes), stream) if progress else None
    if bar:
        bar.done = len(meshes) - len(todo)
        bar.show()
    owned = None
    try:
        if todo:
            if client is None:
                client, owned = _local_client(workers)
            per = per_task or _per_task(client, len(todo))
            chunks = [todo[k:k + per] for k in range(0, len(todo), per)]
            for i, row in _run(client, chunks, meshes, outs, token, options, window):
                rows[i] = row
                if bar:
                    if row["status"] == "failed":
                        bar.failure(row)
                    bar.step()
    finally:
        if owned is not None:
            client.close()
            owned.close()
        # A worker stopped mid-write leaves its temporary file: none stays.
        for leftover in glob.glob(os.path.join(glob.escape(out_dir), f".*.trel-{token}-*.tmp")):
            try:
                os.unlink(leftover)
            except OSError:
                pass
        if bar:
            bar.close()
    rows = [r for r in rows if r is not None]
    write_report(rows, report or os.path.join(out_dir, REPORT_NAME))
    return rows


def _parser():
    p = argparse.ArgumentParser(
        prog="python3 -m trel.collection",
        description="Draws each mesh into a picture of its own in --out-dir, as trel-render's "
                    "batch does, on a Dask cluster (a local one unless --scheduler is given).")
    p.add_argument("meshes", nargs="*", metavar="MESH")
    p.add_argument("--out-dir", required=True, metavar="DIR")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a running scheduler, tcp://HOST:8786 (default: start a local cluster)")
    p.add_argument("--workers", type=int, metavar="N",
                   help="worker processes of the local cluster (default: one per core)")
    p.add_argument("--report", metavar="FILE",
                   help=f"the report, .csv or .json (default DIR/{REPORT_NAME})")
    p.add_argument("--no-progress", action="store_true")
    g = p.add_argument_group("trel-render's options")
    g.add_argument("--size", metavar="WxH")
    g.add_argument("--thumbnail", type=int, metavar="SIZE")
    g.add_argument("--view", metavar="AZ,EL|NAME")
    g.add_argument("--engine", metavar="3d|2d|2dxy")
    g.add_argument("--style", metavar="solid|wire|both")
    g.add_argument("--colour", "--color", dest="colour", metavar="C")
    g.add_argument("--background", metavar="C|none")
    g.add_argument("--edge-colour", "--edge-color", dest="edge_colour", metavar="C")
    g.add_argument("--up", metavar="auto|y|z")
    g.add_argument("--margin", type=float, metavar="PERCENT")
    g.add_argument("--max-memory", type=int, dest="max_memory", metavar="MIB")
    g.add_argument("--load-timeout", type=float, dest="timeout", metavar="S")
    return p


def main(argv=None):
    args = _parser().parse_args(argv)
    options = {k: v for k, v in vars(args).items()
               if k in ("size", "view", "engine", "style", "colour", "background",
                        "edge_colour", "up", "margin", "max_memory", "timeout", "thumbnail")
               and v is not None}
    client = None
    if args.scheduler:
        from dask.distributed import Client

        client = Client(args.scheduler)
    try:
        rows = render_all(args.meshes, args.out_dir, client, report=args.report,
                          workers=args.workers, progress=not args.no_progress, **options)
    except (ValueError, TypeError) as e:
        print(f"trel.collection: {e}", file=sys.stderr)
        return 2
    finally:
        if client is not None:
            client.close()
    failed = sum(r["status"] == "failed" for r in rows)
    drawn = sum(r["status"] == "drawn" for r in rows)
    skipped = sum(r["status"] == "skipped" for r in rows)
    print(f"trel.collection: {drawn} drawn, {skipped} skipped, {failed} failed",
          file=sys.stderr)
    return 2 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
