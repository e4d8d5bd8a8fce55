// The names a batch gives its pictures: one picture a mesh in one folder, no
// two alike on a case-insensitive file system, none over one of the meshes.
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "encode.h"

namespace trel::encode {

namespace fs = std::filesystem;

std::optional<fileid> identify(const std::string &path, bool tobemade) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return fileid{st.st_dev, st.st_ino, {}};
    }
    const fs::path parent = fs::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    if (tobemade && ::stat(folder.c_str(), &st) == 0) {
        return fileid{st.st_dev, st.st_ino, fs::path(path).filename().string()};
    }
    return std::nullopt;
}

namespace {

// The mesh's file name, without the slashes a folder name may end in; the
// built-in bunny is "bunny".
std::string filenameof(const std::string &mesh) {
    if (mesh.empty()) {
        return "bunny";
    }
    std::string p = mesh;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    const std::string name = fs::path(p).filename().string();
    return name.empty() || name == "." || name == ".." || name == "/" ? "mesh" : name;
}

// The name each mesh's picture would rather have, without ".png": its stem,
// or its whole file name where another mesh shares the stem (as folded).
std::vector<std::string> preferrednames(const std::vector<std::string> &meshes) {
    const std::size_t n = meshes.size();
    std::vector<std::string> whole(n);
    std::vector<std::string> preferred(n);
    std::map<std::string, int> stems;
    for (std::size_t i = 0; i < n; ++i) {
        whole[i] = filenameof(meshes[i]);
        preferred[i] = fs::path(whole[i]).stem().string();
        ++stems[foldcase(preferred[i])];
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (stems[foldcase(preferred[i])] > 1) {
            preferred[i] = whole[i];
        }
    }
    return preferred;
}

// Hands out the batch's picture names in `outdir` in the meshes' order.
class namer {
  public:
    namer(const std::vector<std::string> &meshes, const std::vector<std::string> &preferred,
          const std::string &outdir)
        : outdir_(outdir) {
        for (const std::string &m : meshes) {
            if (const auto id = identify(m)) {
                inputs_.insert(*id);
            }
        }
        for (const std::string &p : preferred) {
            ++names_[foldcase(p)];
        }
        // The names no other mesh shares are promised to their meshes from the start.
        for (const std::string &p : preferred) {
            if (names_[foldcase(p)] == 1) {
                taken_.insert(foldcase(p + ".png"));
            }
        }
    }

    // The picture for the next mesh, whose preferred name is `preferred`.
    std::string next(const std::string &preferred) {
        const std::string plain = preferred + ".png";
        std::string name = plain;
        const bool unique = names_[foldcase(preferred)] == 1;
        if (!unique && !shared_.insert(foldcase(preferred)).second) {
            name.clear(); // a later mesh of the same name: numbered
        } else if (!unique && taken_.count(foldcase(plain)) != 0) {
            name.clear(); // a numbered name took it earlier
        }
        if (!name.empty() && !usable(name)) {
            name.clear();
        }
        for (int k = 2; name.empty(); ++k) {
            const std::string numbered = preferred + "-" + std::to_string(k) + ".png";
            if (taken_.count(foldcase(numbered)) == 0 && usable(numbered)) {
                name = numbered;
            }
        }
        taken_.insert(foldcase(name));
        const std::string path = (fs::path(outdir_) / name).string();
        if (const auto id = identify(path)) {
            written_.insert(*id);
        }
        return path;
    }

  private:
    // A name is usable unless it is one of the meshes or an earlier picture.
    bool usable(const std::string &name) const {
        const auto id = identify((fs::path(outdir_) / name).string());
        return !id || (inputs_.count(*id) == 0 && written_.count(*id) == 0);
    }

    std::string outdir_;
    std::set<fileid> inputs_;
    std::set<fileid> written_;
    std::map<std::string, int> names_; // how many meshes prefer each folded name
    std::set<std::string> taken_;      // folded names a picture has or is promised
    std::set<std::string> shared_;     // folded names a first mesh has already had
};

} // namespace

std::vector<std::string> batchoutputs(const std::vector<std::string> &meshes,
                                      const std::string &outdir) {
    const std::vector<std::string> preferred = preferrednames(meshes);
    namer names(meshes, preferred, outdir);
    std::vector<std::string> outputs;
    for (const std::string &p : preferred) {
        outputs.push_back(names.next(p));
    }
    return outputs;
}

} // namespace trel::encode
