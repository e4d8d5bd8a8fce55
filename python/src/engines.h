// The parts of the module that several of its files share.
#ifndef TREL_PYTHON_ENGINES_H
#define TREL_PYTHON_ENGINES_H

#include <pybind11/pybind11.h>

#include <shared_mutex>

namespace trelpy {

enum class enginekind { engine2d, engine2dxy, engine3d };

// The lock that guards one engine class's origin and reciprocal table:
// constructing an engine of the class holds it alone, drawing holds it shared.
std::shared_mutex &statics(enginekind kind);

void bindengines(pybind11::module_ &m);
void bindscene(pybind11::module_ &m);

} // namespace trelpy

#endif
