"""trel: exact, GPU-free pictures from the trel software rasterizer.

Engines draw into numpy arrays (``Engine2D``, ``Engine2DXY``, ``Engine3D``).
"""
from ._trel import (  # noqa: F401
    Engine2D,
    Engine2DXY,
    Engine3D,
    __version__,
    fardepth,
    largestside,
    version_info,
)

__all__ = ["Engine2D", "Engine2DXY", "Engine3D", "fardepth", "largestside",
           "version_info", "__version__"]
