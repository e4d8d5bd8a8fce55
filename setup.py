# Builds the extension with the project's one CMake build, the way pybind11's
# cmake_example does: configure with TREL_BUILD_PYTHON on, build the module's
# target, and let CMake put the module and the libraries it needs into the
# package folder. Every source file and compile flag comes from CMakeLists.txt.
import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        outdir = Path(self.get_ext_fullpath(ext.name)).resolve().parent
        # One build folder per interpreter, under build/ like every other,
        # unless TREL_PYTHON_BUILD_DIR names one (a sanitizer build, say).
        build = Path(os.environ.get("TREL_PYTHON_BUILD_DIR")
                     or ROOT / "build" / f"python-{sys.implementation.cache_tag}")
        build.mkdir(parents=True, exist_ok=True)
        config = os.environ.get("TREL_PYTHON_BUILD_TYPE", "Release")
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            f"-DCMAKE_BUILD_TYPE={config}",
            "-DTREL_BUILD_PYTHON=ON",
            "-DTREL_BUILD_TESTS=OFF",
            "-DTREL_BUILD_TOOLS=OFF",
            f"-DTREL_PYTHON_OUTPUT_DIR={outdir}",
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        if os.environ.get("CMAKE_GENERATOR") is None and self._have("ninja"):
            configure += ["-G", "Ninja"]
        extra = os.environ.get("TREL_CMAKE_ARGS")
        if extra:
            configure += extra.split()
        subprocess.run(configure, check=True)
        jobs = os.environ.get("TREL_BUILD_JOBS", "2")
        subprocess.run(["cmake", "--build", str(build), "--target", "trel_python", "-j", jobs],
                       check=True)

    @staticmethod
    def _have(program):
        return any((Path(d) / program).exists() for d in os.environ.get("PATH", "").split(":"))


def project_version():
    """The version in CMakeLists.txt's project(), the one place it is written."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(trel VERSION ([0-9.]+)", text).group(1)


setup(version=project_version(), ext_modules=[CMakeExtension("trel._trel")], cmdclass={"build_ext": CMakeBuild})
