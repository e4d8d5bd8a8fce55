// Checks of a mesh file made before the parser sees it.
#ifndef TREL_LOADER_CHECKS_H
#define TREL_LOADER_CHECKS_H

#include <string>

namespace trel::loader {

// Reads the start of the file and refuses an OFF or PLY header that declares
// more elements than the rest of the file can hold, or a PLY header without
// its end: parsers size their arrays from those counts.
void checkcounts(const std::string &name);

} // namespace trel::loader

#endif
