#include "plan.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "failure.h"
#include "writer.h"

namespace render {
namespace {

namespace fs = std::filesystem;

// NAME.png as the numbered NAME-007.png of a turntable of `frames` pictures;
// a name without an extension gets its format's.
std::string framename(const std::string &path, int index, int frames) {
    std::string number = std::to_string(index);
    const std::size_t digits = std::max<std::size_t>(3, std::to_string(frames - 1).size());
    number.insert(0, digits - number.size(), '0');
    const fs::path p(path);
    std::string extension = p.extension().string();
    if (extension.empty()) {
        extension = trel::encode::extension(formatof(path));
    }
    return (p.parent_path() / (p.stem().string() + "-" + number + extension)).string();
}

const char *kindof(mode_t mode) {
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// True when the regular file `path` is empty or begins as a picture
// trel-render writes: the only files an output replaces unless forced.
bool replaceable(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12] = {};
    in.read(reinterpret_cast<char *>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    return got == 0 || trel::encode::ispicture(head, got);
}

// Throws failure unless the file `path` (standing for `target`, its end of
// links) may be written over.
void checkreplace(const std::string &path, const std::string &target, bool force) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        return; // a new file
    }
    if (!S_ISREG(st.st_mode)) {
        throw failure("cannot write '" + path + "': it is " + kindof(st.st_mode) +
                      ", not a regular file");
    }
    if (!force && !replaceable(target)) {
        throw failure("will not replace '" + path +
                      "': it is not a PNG or WebP picture; give --force to replace it");
    }
}

// Throws failure unless every one of `paths` may be written: see plan.h.
// "-" is standard output, which must not be a terminal. The worse mistakes
// (the mesh, two outputs that are one file) are named before a file that
// would be replaced.
void checkoutputs(const std::vector<std::string> &paths, const std::string &mesh, bool force) {
    const std::optional<fileid> meshid = mesh.empty() ? std::nullopt : identify(mesh);
    std::map<fileid, std::string> seen;
    std::vector<std::pair<std::string, std::string>> files; // as given, and their targets
    bool tostdout = false;
    for (const std::string &path : paths) {
        if (path == "-") {
            if (std::exchange(tostdout, true)) {
                throw failure("only one picture can go to standard output ('-')");
            }
            if (::isatty(STDOUT_FILENO) == 1) {
                throw failure("will not write a PNG to a terminal: redirect standard output "
                              "or name a file with -o");
            }
            continue;
        }
        const std::string target = throughlinks(path);
        checkwritable(target);
        const std::optional<fileid> id = identify(target, true);
        if (meshid && id && *id == *meshid) {
            throw failure("cannot write '" + path + "': it is the mesh being drawn, '" + mesh +
                          "'");
        }
        if (id) {
            const auto [other, fresh] = seen.emplace(*id, path);
            if (!fresh) {
                throw failure("cannot write both '" + other->second + "' and '" + path +
                              "': they are the same file");
            }
        }
        files.emplace_back(path, target);
    }
    for (const auto &[path, target] : files) {
        checkreplace(path, target, force);
    }
}

// The names of the plan's files; the format of the pictures.
void namefiles(const options &opts, const job &work, outputplan &plan) {
    const auto numbered = [&opts](const std::string &path, int k) {
        return opts.frames > 0 ? framename(path, k, opts.frames) : path;
    };
    for (int k = 0; k < plan.frames; ++k) {
        if (k == 0 || !plan.animated) {
            plan.pictures.push_back(plan.animated ? work.output : numbered(work.output, k));
        }
        if (!work.depth.empty()) {
            plan.depths.push_back(numbered(work.depth, k));
        }
    }
    plan.tostdout = work.output == "-" || work.depth == "-";
}

} // namespace

trel::encode::format formatof(const std::string &path) {
    trel::encode::format format = trel::encode::format::png;
    if (!trel::encode::formatof(path, format)) {
        throw failure("cannot write '" + path + "': trel-render writes .png and .webp pictures");
    }
    return format;
}

std::vector<std::string> outputplan::all() const {
    std::vector<std::string> files;
    for (std::size_t k = 0; k < std::max(pictures.size(), depths.size()); ++k) {
        if (k < pictures.size()) {
            files.push_back(pictures[k]);
        }
        if (k < depths.size()) {
            files.push_back(depths[k]);
        }
    }
    return files;
}

outputplan planoutputs(const options &opts, const job &work) {
    if (opts.frames > 0 && (work.output == "-" || work.depth == "-")) {
        throw failure("--frames writes numbered files: standard output ('-') cannot take them");
    }
    outputplan plan;
    plan.frames = opts.frames > 0 ? opts.frames : 1;
    trel::encode::format format = trel::encode::format::png;
    const bool known = trel::encode::formatof(work.output, format);
    plan.format = format;
    plan.animated = known && opts.frames > 0 && format == trel::encode::format::webp;
    namefiles(opts, work, plan);
    checkoutputs(plan.all(), work.mesh, opts.force);
    // Told after the outputs were checked against the mesh, which is the
    // worse mistake to name.
    plan.format = formatof(work.output);
    if (!work.depth.empty() && formatof(work.depth) != trel::encode::format::png) {
        throw failure("the depth picture '" + work.depth + "' is written as a PNG: name it .png");
    }
    return plan;
}

void checkwritable(const std::string &path) {
    const fs::path folder = folderof(path);
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status)) {
        throw failure("cannot write '" + path + "': folder '" + folder.string() +
                      "' does not exist");
    }
    if (!fs::is_directory(status)) {
        throw failure("cannot write '" + path + "': '" + folder.string() + "' is not a folder");
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        throw failure("cannot write '" + path + "': folder '" + folder.string() +
                      "' is not writable");
    }
    if (fs::is_directory(path, ec)) {
        throw failure("cannot write '" + path + "': it is a folder");
    }
}

} // namespace render
