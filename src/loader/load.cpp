// The loader's public face: a mesh file is checked, parsed by assimp in a
// child process (transport.cpp) and converted to the scene layer's mesh
// (convert.cpp); a mesh held in memory is parsed in this process.
#include "load.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#include <assimp/cimport.h>

#include "checks.h"
#include "convert.h"
#include "transport.h"

namespace trel::loader {

using scene::failure;
using scene::mesh;

namespace {

// Reads and checks a mesh file: the parse the child runs. The importer,
// which keeps the parsed scene, is never freed: the child exits as soon as
// the mesh is sent, and its memory goes back whole.
mesh readmesh(const std::string &path) {
    // Assimp's own messages for a missing file are vague; the system's are not.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw failure("cannot load mesh '" + path + "': it is a folder");
    }
    checkfile(path);
    auto *importer = new Assimp::Importer;
    const aiScene *scene = importer->ReadFile(path, importflags());
    if (scene != nullptr && formatof(*scene).find("Wavefront") != std::string::npos) {
        checkobjfile(path); // an OBJ of another name
    }
    mesh m = fromscene(scene, path, importer->GetErrorString());
    m.zupfile = zupformat(*scene);
    return m;
}

// What a file that is not a regular one is, for the line that refuses it.
const char *kindof(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFIFO:
        return "a FIFO";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    default:
        return "not a file";
    }
}

// Refuses, before a child is started, a limit no parse fits in and a mesh
// that is not a regular file: reading a FIFO or a device could wait for ever
// and could not be read twice (the checks read the file before the parser).
void checkrequest(const std::string &path, const limits &limits) {
    if (limits.memorymib < leastmemorymib) {
        throw failure("--max-memory " + std::to_string(limits.memorymib) +
                      " MiB is too little: loading a mesh needs at least " +
                      std::to_string(leastmemorymib) + " MiB");
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return; // the child names what is wrong
    }
    if (S_ISDIR(st.st_mode)) {
        throw failure("cannot load mesh '" + path + "': it is a folder");
    }
    if (!S_ISREG(st.st_mode)) {
        throw failure("cannot load mesh '" + path + "': it is " + kindof(st.st_mode) +
                      ", not a regular file (meshes are read from regular files; standard "
                      "input works only when redirected from one)");
    }
}

} // namespace

void restartwithhugepages(char **argv) {
#if defined(__GLIBC__)
    constexpr const char *setting = "glibc.malloc.hugetlb=1";
    const char *current = std::getenv("GLIBC_TUNABLES");
    std::string tunables = current != nullptr ? current : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) {
        return; // set by the user, or by the start before this one
    }
    tunables += tunables.empty() ? setting : std::string(":") + setting;
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) == 0) {
        ::execv("/proc/self/exe", argv);
    }
    // No exec: nothing has changed but the variable, which does no harm.
#else
    (void)argv;
#endif
}

mesh loadmesh(const std::string &path, const limits &limits) {
    checkrequest(path, limits);
    return parseisolated(path, limits, readmesh);
}

int parsermain(int argc, char **argv) { return servemain(argc, argv, readmesh); }

mesh loadmemory(std::span<const unsigned char> bytes, const char *hint, const std::string &name) {
    Assimp::Importer importer;
    const aiScene *scene =
        importer.ReadFileFromMemory(bytes.data(), bytes.size(), importflags(), hint);
    mesh m = fromscene(scene, name, importer.GetErrorString());
    m.zupfile = zupformat(*scene);
    return m;
}

bool claims(const std::string &path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return extension.empty() || ::aiIsExtensionSupported(extension.c_str()) == AI_TRUE;
}

} // namespace trel::loader
