// An assimp scene as the scene layer's mesh: every mesh of the node tree, moved
// by its node's transform, with the colours the file gives, joined and checked.
#ifndef TREL_LOADER_CONVERT_H
#define TREL_LOADER_CONVERT_H

#include <string>

#include <assimp/scene.h>
#include <trel/scene.h>

namespace trel::loader {

// What assimp is asked for: polygons cut into triangles. Corners are joined
// by position here rather than by assimp, which also compares normals,
// texture coordinates and colours the program never reads, at a cost that
// grows faster than the mesh.
unsigned importflags();

// The mesh of an imported scene (nullptr: the import failed, with `error`),
// checked for what trel-render cannot place. `name` stands for the file in
// messages.
scene::mesh fromscene(const aiScene *scene, const std::string &name, const std::string &error);

// The name of the importer that read `scene` ("Stereolithography (STL)
// Importer", "OFF Importer", ...), or "" when assimp did not say.
std::string formatof(const aiScene &scene);

// Whether the importer that read the scene is that of a format whose models
// are Z-up in practice: STL and 3MF. The format read decides, not the file's
// name.
bool zupformat(const aiScene &scene);

} // namespace trel::loader

#endif
