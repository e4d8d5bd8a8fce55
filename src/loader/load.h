// Loading meshes as trel-render draws them: triangles over shared vertices, in
// the model's own units, Y up. A mesh file is parsed in a child process under
// an address-space limit and a wall-time limit (see docs/render.md), so that no
// file can hang, crash or exhaust the program that reads it.
#ifndef TREL_LOADER_LOAD_H
#define TREL_LOADER_LOAD_H

#include <cstdint>
#include <span>
#include <string>

#include <trel/scene.h>

namespace trel::loader {

// Starts the program once more with glibc's malloc asked for transparent huge
// pages, unless it already was (or the C library is not glibc, or the exec
// fails: the program then goes on as it is). A big mesh is read into hundreds
// of megabytes of heap, and with 4 KiB pages the kernel's page faults cost as
// much as the parse itself; glibc reads its malloc settings only at start.
void restartwithhugepages(char **argv);

// The least address space, in MiB, a parse can be given: the parsing process
// is a copy of the program, libraries and all, before it reads a byte, and
// assimp's OBJ reader takes about 37 MiB more for any file. A one-triangle
// OBJ loaded in 53-54 MiB when measured (trel-render, x86-64, glibc; every
// other format within 16); the floor leaves room for other builds.
inline constexpr std::uint64_t leastmemorymib = 64;

// The limits a mesh file is parsed under.
struct limits {
    std::uint64_t memorymib = 4096; // address space of the parsing process, in MiB
    double seconds = 30.0;          // wall time from the start of the parse
};

// Reads every mesh of the file's scene, each moved by its node's transform.
// The file is parsed in a child process held to `limits`. Throws failure at
// once for a memory limit below leastmemorymib and for a path that is not a
// regular file (a FIFO, a device: a pipe into standard input cannot stand
// for a mesh); and when the file cannot be read, is not a mesh, declares
// more elements than its size can hold, is cut short, holds no triangles,
// holds a coordinate that is not a number or too large, or when parsing it
// crashes or goes beyond a limit. The mesh's zupfile follows the format the
// file was read in, whatever its name.
scene::mesh loadmesh(const std::string &path, const limits &limits);

// Whether some reader claims files with `path`'s extension (in any case). A
// path without an extension is claimed: its content decides.
bool claims(const std::string &path);

// A mesh file held in memory (`hint`: its extension, such as "obj"), parsed
// in this process: for a file that is part of the program. `name` stands for
// it in messages; the format read, not the name, sets zupfile.
scene::mesh loadmemory(std::span<const unsigned char> bytes, const char *hint,
                       const std::string &name);

// The parser program, trel-parser: a program with threads has its meshes
// parsed by forks of it rather than by forks of itself.
int parsermain(int argc, char **argv);

// Has every mesh parsed by a fork of the parser program, on one thread too:
// for a large host (the Python module), whose own fork would cost more than
// the parse and whose address space would count against `limits.memorymib`,
// so that a limit means there what it means in trel-render.
void parsewithprogram();

} // namespace trel::loader

#endif
