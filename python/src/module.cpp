// The extension module trel._trel; the package trel re-exports it.
#include <pybind11/pybind11.h>

#include <trel/trel.h>

#include "engines.h"
#include "load.h"

namespace py = pybind11;

PYBIND11_MODULE(_trel, m) {
    m.doc() = "The trel rasterizer: engines over numpy arrays, meshes and pictures.";
    m.attr("largestside") = trel::largestside;
    m.attr("fardepth") = trel::fardepth;
    // version() rewrites one buffer: called here once, under the GIL.
    int major = 0, minor = 0, patch = 0;
    m.attr("__version__") = py::str(trel::version(major, minor, patch));
    m.attr("version_info") = py::make_tuple(major, minor, patch);
    // Meshes are parsed by forks of the small parser program beside the
    // module, never by forks of the interpreter.
    trel::loader::parsewithprogram();
    trelpy::bindengines(m);
    trelpy::bindscene(m);
}
