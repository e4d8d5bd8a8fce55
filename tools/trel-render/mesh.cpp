#include "mesh.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <utility>
#include <vector>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include "defaultscene.h"
#include "failure.h"

namespace render {
namespace {

constexpr unsigned importflags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                 aiProcess_SortByPType | aiProcess_ValidateDataStructure;

// Appends the triangles of one mesh, moved by `transform`.
void gathermesh(const aiMesh &m, const aiMatrix4x4 &transform, mesh &out) {
    if (m.mVertices == nullptr ||
        out.vertices.size() + m.mNumVertices > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }
    const auto base = static_cast<std::uint32_t>(out.vertices.size());
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
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
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
        const aiFace &face = m.mFaces[f];
        if (face.mNumIndices != 3) {
            continue; // points and lines have no surface to draw
        }
        const unsigned a = face.mIndices[0];
        const unsigned b = face.mIndices[1];
        const unsigned c = face.mIndices[2];
        if (a < m.mNumVertices && b < m.mNumVertices && c < m.mNumVertices) {
            out.triangles.push_back({base + a, base + b, base + c});
        }
    }
}

// Appends the triangles of every mesh in the node tree, each moved by the
// transforms from the root down to its node. The tree is walked with a stack
// of its own: a file may nest nodes deeper than the program's stack allows.
void gather(const aiScene &scene, mesh &out) {
    std::vector<std::pair<const aiNode *, aiMatrix4x4>> pending{{scene.mRootNode, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        const aiMatrix4x4 transform = parent * node->mTransformation;
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            if (node->mMeshes[i] < scene.mNumMeshes && scene.mMeshes[node->mMeshes[i]] != nullptr) {
                gathermesh(*scene.mMeshes[node->mMeshes[i]], transform, out);
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

// The mesh of an imported scene, checked for what trel-render cannot place.
mesh fromscene(const aiScene *scene, const std::string &name, const std::string &error) {
    if (scene == nullptr) {
        std::string why = error.empty() ? std::string("not a mesh assimp can read") : error;
        for (char &c : why) {
            if (c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        throw failure("cannot load mesh '" + name + "': " + why);
    }
    mesh out;
    if (scene->mRootNode != nullptr) {
        gather(*scene, out);
    }
    if (out.triangles.empty()) {
        throw failure("mesh '" + name + "' has no triangles");
    }
    // Only the vertices that triangles use are kept (and checked): the others
    // are never drawn and must not widen the fit.
    constexpr std::uint32_t unused = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> renumber(out.vertices.size(), unused);
    std::vector<vec3> kept;
    for (auto &t : out.triangles) {
        for (std::uint32_t &i : t) {
            if (renumber[i] == unused) {
                renumber[i] = static_cast<std::uint32_t>(kept.size());
                kept.push_back(out.vertices[i]);
            }
            i = renumber[i];
        }
    }
    out.vertices = std::move(kept);
    for (const vec3 &v : out.vertices) {
        for (const double c : {v.x, v.y, v.z}) {
            if (std::isnan(c)) {
                throw failure("mesh '" + name + "' has a coordinate that is not a number");
            }
            if (!(std::fabs(c) <= largestcoordinate)) {
                throw failure("mesh '" + name + "' has a coordinate beyond +-1e15");
            }
        }
    }
    const vec3 &first = out.vertices.front();
    if (std::all_of(out.vertices.begin(), out.vertices.end(), [&first](const vec3 &v) {
            return v.x == first.x && v.y == first.y && v.z == first.z;
        })) {
        throw failure("mesh '" + name + "' has no extent: all its vertices are one point");
    }
    orient(out);
    return out;
}

} // namespace

mesh loadmesh(const std::string &path) {
    // Assimp's own messages for a missing file are vague; the system's are not.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw failure("cannot load mesh '" + path + "': it is a folder");
    }
    std::FILE *probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) {
        throw failure("cannot load mesh '" + path + "': " + std::strerror(errno));
    }
    std::fclose(probe);

    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(path, importflags);
    return fromscene(scene, path, importer.GetErrorString());
}

mesh loaddefaultmesh() {
    const std::span<const unsigned char> bytes = defaultscene();
    Assimp::Importer importer;
    const aiScene *scene =
        importer.ReadFileFromMemory(bytes.data(), bytes.size(), importflags, "obj");
    return fromscene(scene, "bunny.obj", importer.GetErrorString());
}

} // namespace render
