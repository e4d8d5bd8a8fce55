// Picture names compared as case-insensitive file systems compare them.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "encode.h"

namespace trel::encode {
namespace {

// Unicode's simple case folding (CaseFolding.txt, status C and S) for the
// scripts file names are mostly written in: a run of code points from
// `first` to `last` folds to the code point `delta` away; with `alternate`,
// only every second one from `first` does (upper and lower case interleaved).
struct foldrun {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    bool alternate;
};

constexpr foldrun folds[] = {
    {0x41, 0x5A, 32, false},        // Basic Latin
    {0xB5, 0xB5, 775, false},       // micro sign -> Greek mu
    {0xC0, 0xD6, 32, false},        // Latin-1 Supplement
    {0xD8, 0xDE, 32, false},        //
    {0x100, 0x12F, 1, true},        // Latin Extended-A
    {0x132, 0x137, 1, true},        //
    {0x139, 0x148, 1, true},        //
    {0x14A, 0x177, 1, true},        //
    {0x178, 0x178, -121, false},    // Y with diaeresis
    {0x179, 0x17E, 1, true},        //
    {0x17F, 0x17F, -268, false},    // long s -> s
    {0x345, 0x345, 116, false},     // Greek
    {0x370, 0x373, 1, true},        //
    {0x376, 0x376, 1, false},       //
    {0x37F, 0x37F, 116, false},     //
    {0x386, 0x386, 38, false},      //
    {0x388, 0x38A, 37, false},      //
    {0x38C, 0x38C, 64, false},      //
    {0x38E, 0x38F, 63, false},      //
    {0x391, 0x3A1, 32, false},      //
    {0x3A3, 0x3AB, 32, false},      //
    {0x3C2, 0x3C2, 1, false},       // final sigma
    {0x3CF, 0x3CF, 8, false},       //
    {0x3D0, 0x3D0, -30, false},     //
    {0x3D1, 0x3D1, -25, false},     //
    {0x3D5, 0x3D5, -15, false},     //
    {0x3D6, 0x3D6, -22, false},     //
    {0x3D8, 0x3EF, 1, true},        //
    {0x3F0, 0x3F0, -54, false},     //
    {0x3F1, 0x3F1, -48, false},     //
    {0x3F4, 0x3F4, -60, false},     //
    {0x3F5, 0x3F5, -64, false},     //
    {0x3F7, 0x3F7, 1, false},       //
    {0x3F9, 0x3F9, -7, false},      //
    {0x3FA, 0x3FA, 1, false},       //
    {0x3FD, 0x3FF, -130, false},    //
    {0x400, 0x40F, 80, false},      // Cyrillic
    {0x410, 0x42F, 32, false},      //
    {0x460, 0x481, 1, true},        //
    {0x48A, 0x4BF, 1, true},        //
    {0x4C0, 0x4C0, 15, false},      //
    {0x4C1, 0x4CE, 1, true},        //
    {0x4D0, 0x52F, 1, true},        // and Cyrillic Supplement
    {0x531, 0x556, 48, false},      // Armenian
    {0x10A0, 0x10C5, 7264, false},  // Georgian
    {0x1E00, 0x1E95, 1, true},      // Latin Extended Additional
    {0x1E9E, 0x1E9E, -7615, false}, // capital sharp s -> sharp s
    {0x1EA0, 0x1EFF, 1, true},      //
    {0x2160, 0x216F, 16, false},    // Roman numerals
    {0x24B6, 0x24CF, 26, false},    // circled letters
    {0xFF21, 0xFF3A, 32, false},    // fullwidth Latin
};

char32_t fold(char32_t c) {
    const auto run = std::upper_bound(std::begin(folds), std::end(folds), c,
                                      [](char32_t v, const foldrun &r) { return v < r.first; });
    if (run == std::begin(folds)) {
        return c;
    }
    const foldrun &r = *std::prev(run);
    if (c > r.last || (r.alternate && (c - r.first) % 2 != 0)) {
        return c;
    }
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + r.delta);
}

// The code point UTF-8 starts at `at` (moved past it), or false when the
// bytes there are not valid UTF-8 (overlong, a surrogate, beyond U+10FFFF).
bool decode(const std::string &s, std::size_t &at, char32_t &out) {
    const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    const int length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
    if (length == 0 || at + length > s.size()) {
        return false;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) {
            return false;
        }
        c = c << 6 | (byte(at + k) & 0x3F);
    }
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return false;
    }
    at += static_cast<std::size_t>(length);
    out = c;
    return true;
}

void encode(char32_t c, std::string &out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string foldcase(const std::string &name) {
    std::string folded;
    folded.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        char32_t c = 0;
        if (!decode(name, at, c)) {
            return name;
        }
        encode(fold(c), folded);
    }
    return folded;
}

} // namespace trel::encode
