"""Threads: separate engines drawn from several threads at once."""
import threading

import numpy as np
import pytest

from conftest import ENGINES, random_triangles


@pytest.mark.parametrize("cls", ENGINES)
def test_threads_draw_what_one_thread_draws(cls, rng):
    jobs = [(random_triangles(rng, 2000, 300.0), rng.integers(0, 2**24, 2000, dtype=np.uint32))
            for _ in range(4)]
    jobs = [(tris, np.ascontiguousarray(tris[:, 1:]), cols) for tris, cols in jobs]
    # Every engine of a class has the same size, so they share one origin.
    alone = [cls(400, 300) for _ in jobs]
    for e, (tris, ends, cols) in zip(alone, jobs):
        e.clear(0)
        e.triangles(tris, cols)
        e.lines(ends, cols)

    together = [cls(400, 300) for _ in jobs]
    start = threading.Barrier(len(jobs))

    def draw(e, tris, ends, cols):
        start.wait()
        for _ in range(3):  # again and again, so that the calls overlap
            e.clear(0)
            e.triangles(tris, cols)
            e.lines(ends, cols)

    threads = [threading.Thread(target=draw, args=(e, *job)) for e, job in zip(together, jobs)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        assert np.array_equal(a.pixels, b.pixels)
        if a.has_depth():
            assert np.array_equal(a.depth, b.depth)


def test_constructing_while_others_draw_is_safe(rng):
    # Construction of a class waits for drawing on that class to finish; the
    # pictures drawn are those of engines of one size.
    cls = ENGINES[2]
    tris = random_triangles(rng, 3000, 200.0)
    ref = cls(256, 256)
    ref.clear(0)
    ref.triangles(tris, 0x00FFFFFF)
    stop = threading.Event()

    def construct():
        while not stop.is_set():
            cls(256, 256)

    t = threading.Thread(target=construct)
    t.start()
    try:
        for _ in range(20):
            e = cls(256, 256)
            e.clear(0)
            e.triangles(tris, 0x00FFFFFF)
            assert np.array_equal(e.pixels, ref.pixels)
    finally:
        stop.set()
        t.join()


def test_pictures_from_threads_and_between_engines():
    import trel
    from conftest import DATA

    sizes = [(160, 120), (97, 203), (160, 120)]
    engines = ["3d", "2d", "2dxy"]
    torus = trel.load(DATA / "torus.ply")
    first = {(s, e): trel.render(torus, size=s, engine=e)
             for s in sizes for e in engines}
    results = {}

    def draw(size, engine):
        for _ in range(3):
            trel.Engine3D(33, 17)  # moves the class's origin between pictures
            trel.Engine2D(50, 60)
            # Loaded in every thread at once: each has its own parser program.
            results[size, engine] = trel.render(DATA / "torus.ply", size=size, engine=engine)

    threads = [threading.Thread(target=draw, args=key) for key in first]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for key, picture in first.items():
        assert np.array_equal(results[key], picture), key
