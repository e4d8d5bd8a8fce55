// The scene rendered when no mesh is named: the Stanford bunny from
// data/bunny.obj, compiled into the program by embed.cmake.
#ifndef TREL_RENDER_DEFAULTSCENE_H
#define TREL_RENDER_DEFAULTSCENE_H

#include <span>

namespace render {

// The bytes of the default scene, an OBJ file.
std::span<const unsigned char> defaultscene();

} // namespace render

#endif
