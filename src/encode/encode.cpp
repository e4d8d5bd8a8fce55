#include "encode.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace trel::encode {

bool formatof(const std::string &path, format &out) {
    if (path == "-") {
        out = format::png;
        return true;
    }
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0 || name == "..") {
        out = format::png;
        return true;
    }
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png" || ext == ".") {
        out = format::png;
        return ext == ".png";
    }
    if (ext == ".webp") {
        out = format::webp;
        return true;
    }
    return false;
}

const char *extension(format f) { return f == format::webp ? ".webp" : ".png"; }

std::vector<unsigned char> encoded(const trel::scene::image &picture, format f) {
    return f == format::webp ? webp(picture) : png(picture);
}

bool ispicture(const unsigned char *head, std::size_t size) {
    static const unsigned char pngsignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= sizeof pngsignature && std::memcmp(head, pngsignature, sizeof pngsignature) == 0) {
        return true;
    }
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

} // namespace trel::encode
