import numpy as np
import pytest

import trel

ENGINES = [trel.Engine2D, trel.Engine2DXY, trel.Engine3D]


def random_triangles(rng, n, spread=150.0):
    return rng.uniform(-spread, spread, size=(n, 3, 3))


@pytest.fixture
def rng():
    return np.random.default_rng(20261210)
