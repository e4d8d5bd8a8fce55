#include "convert.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include <assimp/commonMetaData.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>

#include "text.h"

namespace trel::loader {

using scene::failure;
using scene::mesh;
using scene::nocolour;

namespace {

// A colour channel from 0 to 1 as a byte, rounded; beyond the range (or not
// a number) it is clamped.
std::uint32_t channel(float value) {
    if (!(value > 0.0F)) {
        return 0;
    }
    if (!(value < 1.0F)) {
        return 255;
    }
    return static_cast<std::uint32_t>(static_cast<double>(value) * 255.0 + 0.5);
}

// The colour word of an assimp colour, red in bits 0-7; alpha is not drawn.
std::uint32_t colourof(const aiColor4D &c) {
    return channel(c.r) | channel(c.g) << 8 | channel(c.b) << 16;
}

// Appends `colour` for element `index` to `colours`, which stays empty while
// every element so far has none.
void addcolour(std::vector<std::uint32_t> &colours, std::size_t index, std::uint32_t colour) {
    if (colours.empty()) {
        if (colour == nocolour) {
            return;
        }
        colours.assign(index, nocolour);
    }
    colours.push_back(colour);
}

// The mean of the colours of a face's corners (the mesh's first set of vertex
// colours), as a colour word.
std::uint32_t cornercolour(const aiMesh &m, const aiFace &face) {
    aiColor4D sum(0.0F, 0.0F, 0.0F, 0.0F);
    for (unsigned k = 0; k < face.mNumIndices; ++k) {
        const aiColor4D &c = m.mColors[0][face.mIndices[k]];
        sum.r += c.r;
        sum.g += c.g;
        sum.b += c.b;
    }
    const auto n = static_cast<float>(face.mNumIndices);
    return colourof(aiColor4D(sum.r / n, sum.g / n, sum.b / n, 1.0F));
}

// Appends the first corner at each distinct position (`number`, from the
// weld) to `out`'s vertices, moved by `transform`.
void placevertices(const aiMesh &m, const aiMatrix4x4 &transform,
                   const std::vector<std::uint32_t> &number, std::uint32_t distinct, mesh &out) {
    if (out.vertices.capacity() < out.vertices.size() + distinct) {
        out.vertices.reserve(std::max(out.vertices.size() + distinct, 2 * out.vertices.size()));
    }
    std::uint32_t next = 0;
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
        if (number[v] != next) {
            continue; // a position already taken
        }
        ++next;
        // The transform is applied in doubles: model coordinates can be large.
        const aiVector3D &p = m.mVertices[v];
        const auto row = [&transform, &p](int r) {
            return static_cast<double>(transform[r][0]) * p.x +
                   static_cast<double>(transform[r][1]) * p.y +
                   static_cast<double>(transform[r][2]) * p.z +
                   static_cast<double>(transform[r][3]);
        };
        out.vertices.push_back({row(0), row(1), row(2)});
    }
}

// Whether every corner of `face` is a vertex of `m`, and it has 1 to 3 of
// them: polygons were cut into triangles, and a face of 2 corners (a line)
// or 1 (a point) stays as it is.
bool usable(const aiMesh &m, const aiFace &face) {
    if (face.mNumIndices < 1 || face.mNumIndices > 3 || face.mIndices == nullptr) {
        return false;
    }
    for (unsigned k = 0; k < face.mNumIndices; ++k) {
        if (face.mIndices[k] >= m.mNumVertices) {
            return false;
        }
    }
    return true;
}

// Appends the triangles, lines and points of `m` to `out`, their corners
// numbered by `number` from `base`, each with the mean of its corners'
// colours where the mesh has vertex colours, else `material`.
void addfaces(const aiMesh &m, const std::vector<std::uint32_t> &number, std::uint32_t base,
              std::uint32_t material, mesh &out) {
    if (out.triangles.empty()) {
        out.triangles.reserve(m.mNumFaces);
    }
    const bool cornercolours = m.mColors[0] != nullptr;
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
        const aiFace &face = m.mFaces[f];
        if (!usable(m, face)) {
            continue;
        }
        const std::uint32_t colour = cornercolours ? cornercolour(m, face) : material;
        const auto at = [&](unsigned k) { return base + number[face.mIndices[k]]; };
        switch (face.mNumIndices) {
        case 3:
            addcolour(out.trianglecolours, out.triangles.size(), colour);
            out.triangles.push_back({at(0), at(1), at(2)});
            break;
        case 2:
            addcolour(out.linecolours, out.lines.size(), colour);
            out.lines.push_back({at(0), at(1)});
            break;
        default:
            addcolour(out.pointcolours, out.points.size(), colour);
            out.points.push_back(at(0));
            break;
        }
    }
}

// Appends the triangles, lines and points of one mesh, moved by `transform`,
// with their colours: the mean of their corners' colours where the mesh has
// vertex colours, else its material's colour (`materials`, by index; or
// nocolour). Colours are taken per face before corners are joined, since
// corners at one position may carry different colours.
void gathermesh(const aiMesh &m, const aiMatrix4x4 &transform,
                const std::vector<std::uint32_t> &materials, mesh &out) {
    if (m.mVertices == nullptr) {
        return;
    }
    static_assert(sizeof(aiVector3D) == 3 * sizeof(float));
    std::uint32_t distinct = 0;
    const std::vector<std::uint32_t> number =
        trel::scene::weld(&m.mVertices[0].x, m.mNumVertices, distinct);
    if (out.vertices.size() + distinct > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }
    const auto base = static_cast<std::uint32_t>(out.vertices.size());
    placevertices(m, transform, number, distinct, out);
    const std::uint32_t material =
        m.mMaterialIndex < materials.size() ? materials[m.mMaterialIndex] : nocolour;
    addfaces(m, number, base, material, out);
}

// The colour of each of the scene's materials, or nocolour for those that
// assimp made up for meshes that have none: OBJ, STL and most importers name
// theirs "DefaultMaterial"; glTF 2 adds an unnamed one after the file's own;
// and every material of an OFF or PLY file is made up (assimp reads colours
// from them only as vertex colours). A glTF material's colour is its base
// colour factor; elsewhere it is the diffuse colour.
std::vector<std::uint32_t> materialcolours(const aiScene &scene) {
    std::vector<std::uint32_t> colours(scene.mNumMaterials, nocolour);
    if (scene.mMaterials == nullptr) {
        return colours;
    }
    const std::string importer = formatof(scene);
    const bool gltf2 = importer.find("glTF2") != std::string::npos;
    if (importer.find("OFF") != std::string::npos || importer.find("PLY") != std::string::npos) {
        return colours;
    }
    for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
        const aiMaterial *material = scene.mMaterials[i];
        if (material == nullptr || (gltf2 && i + 1 == scene.mNumMaterials)) {
            continue;
        }
        aiString name;
        if (material->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
            std::string_view(name.C_Str()) == AI_DEFAULT_MATERIAL_NAME) {
            continue;
        }
        aiColor4D colour;
        if (material->Get(AI_MATKEY_BASE_COLOR, colour) == AI_SUCCESS ||
            material->Get(AI_MATKEY_COLOR_DIFFUSE, colour) == AI_SUCCESS) {
            colours[i] = colourof(colour);
        }
    }
    return colours;
}

// Appends the triangles, lines and points of every mesh in the node tree,
// each moved by the transforms from the root down to its node. The tree is
// walked with a stack of its own: a file may nest nodes deeper than the
// program's stack allows.
void gather(const aiScene &scene, mesh &out) {
    const std::vector<std::uint32_t> materials = materialcolours(scene);
    std::vector<std::pair<const aiNode *, aiMatrix4x4>> pending{{scene.mRootNode, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        const aiMatrix4x4 transform = parent * node->mTransformation;
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            if (node->mMeshes[i] < scene.mNumMeshes && scene.mMeshes[node->mMeshes[i]] != nullptr) {
                gathermesh(*scene.mMeshes[node->mMeshes[i]], transform, materials, out);
            }
        }
        // Children go on in reverse, so that they come off in the file's order.
        for (unsigned i = node->mNumChildren; i-- > 0;) {
            if (node->mChildren[i] != nullptr) {
                pending.emplace_back(node->mChildren[i], transform);
            }
        }
    }
}

} // namespace

unsigned importflags() { return aiProcess_Triangulate | aiProcess_ValidateDataStructure; }

mesh fromscene(const aiScene *scene, const std::string &name, const std::string &error) {
    if (scene == nullptr) {
        const std::string why = cleanline(error);
        throw failure("cannot load mesh '" + name +
                      "': " + (why.empty() ? std::string("not a mesh assimp can read") : why));
    }
    mesh out;
    if (scene->mRootNode != nullptr) {
        gather(*scene, out);
    }
    trel::scene::finish(out, name);
    return out;
}

std::string formatof(const aiScene &scene) {
    aiString format;
    if (scene.mMetaData != nullptr) {
        scene.mMetaData->Get(AI_METADATA_SOURCE_FORMAT, format);
    }
    return format.C_Str();
}

bool zupformat(const aiScene &scene) {
    const std::string importer = formatof(scene);
    return importer.find("(STL)") != std::string::npos || importer.find("3mf") != std::string::npos;
}

} // namespace trel::loader
