// Checks of a mesh file made around the parse: what its header declares and
// whether it is whole.
#ifndef TREL_LOADER_CHECKS_H
#define TREL_LOADER_CHECKS_H

#include <string>

namespace trel::loader {

// Refuses, before the parser sees the file, an OFF or PLY header that
// declares more elements than the rest of the file can hold (parsers size
// their arrays from those counts), a PLY header without its end, and a text
// mesh cut short: an ASCII PLY or OFF whose lines stop before the last
// element its header declares is whole, an ASCII STL that does not end with
// endsolid, an .obj file whose last line stops within an element. Does
// nothing for a file that is not a regular one.
void checkfile(const std::string &name);

// The OBJ check of checkfile, for a file read as OBJ whatever its name.
void checkobjfile(const std::string &name);

} // namespace trel::loader

#endif
