#include "golden.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include <png.h>

#ifndef TREL_GOLDEN_DIR
#error "TREL_GOLDEN_DIR must name the folder of the golden pictures"
#endif
#ifndef TREL_GOLDEN_FAILURE_DIR
#error "TREL_GOLDEN_FAILURE_DIR must name the folder for the pictures of a mismatch"
#endif

namespace trel::test {
namespace {

namespace fs = std::filesystem;

bool recording() {
    const char *value = std::getenv("TREL_RECORD");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

png_uint_32 formatof(const goldenpicture &p) {
    return p.channels == 1 ? PNG_FORMAT_LINEAR_Y : PNG_FORMAT_RGB;
}

// Writes `p` as a PNG; the message of libpng's failure, or empty.
std::string writepng(const fs::path &path, const goldenpicture &p) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(p.width);
    image.height = static_cast<png_uint_32>(p.height);
    image.format = formatof(p);
    int ok = 0;
    if (p.channels == 1) {
        ok = png_image_write_to_file(&image, path.c_str(), 0, p.samples.data(), 0, nullptr);
    } else {
        std::vector<png_byte> bytes(p.samples.begin(), p.samples.end());
        ok = png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr);
    }
    if (ok != 0) {
        return {};
    }
    std::string message = image.message;
    png_image_free(&image);
    return "cannot write " + path.string() + ": " + message;
}

// Reads a PNG in the form `like` has (channels and sample size); the message
// of the failure, or empty.
std::string readpng(const fs::path &path, int channels, goldenpicture &out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return "cannot read " + path.string() + ": " + image.message;
    }
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.channels = channels;
    const std::size_t count = static_cast<std::size_t>(out.width) * out.height * channels;
    out.samples.assign(count, 0);
    int ok = 0;
    if (channels == 1) {
        image.format = PNG_FORMAT_LINEAR_Y;
        ok = png_image_finish_read(&image, nullptr, out.samples.data(), 0, nullptr);
    } else {
        image.format = PNG_FORMAT_RGB;
        std::vector<png_byte> bytes(count);
        ok = png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr);
        out.samples.assign(bytes.begin(), bytes.end());
    }
    if (ok == 0) {
        std::string message = image.message;
        png_image_free(&image);
        return "cannot decode " + path.string() + ": " + message;
    }
    return {};
}

// One sample of `p` brought to 8 bits.
int byteof(const goldenpicture &p, std::size_t i) {
    return p.channels == 1 ? p.samples[i] >> 8 : p.samples[i];
}

// The expected picture in dim grey, with every pixel that differs from the
// actual one (or lies outside the expected picture) in full magenta.
goldenpicture diffpicture(const goldenpicture &expected, const goldenpicture &actual,
                          int &changed) {
    goldenpicture diff;
    diff.width = actual.width;
    diff.height = actual.height;
    diff.channels = 3;
    diff.samples.assign(static_cast<std::size_t>(diff.width) * diff.height * 3, 0);
    changed = 0;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            const std::size_t out = (static_cast<std::size_t>(y) * diff.width + x) * 3;
            const bool inside = x < expected.width && y < expected.height;
            bool same = inside;
            int grey = 0;
            if (inside) {
                const std::size_t e = (static_cast<std::size_t>(y) * expected.width + x) *
                                      static_cast<std::size_t>(expected.channels);
                const std::size_t a = (static_cast<std::size_t>(y) * actual.width + x) *
                                      static_cast<std::size_t>(actual.channels);
                int sum = 0;
                for (int c = 0; c < expected.channels; ++c) {
                    same = same && expected.samples[e + c] == actual.samples[a + c];
                    sum += byteof(expected, e + c);
                }
                grey = 32 + sum / expected.channels / 4;
            }
            if (same) {
                diff.samples[out] = diff.samples[out + 1] = diff.samples[out + 2] =
                    static_cast<std::uint16_t>(grey);
            } else {
                diff.samples[out] = 255;
                diff.samples[out + 2] = 255;
                ++changed;
            }
        }
    }
    return diff;
}

} // namespace

goldenpicture colourpicture(const std::uint32_t *pixels, int stride, int height) {
    goldenpicture p;
    p.width = stride;
    p.height = height;
    p.channels = 3;
    p.samples.reserve(static_cast<std::size_t>(stride) * height * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(stride) * height; ++i) {
        const std::uint32_t w = pixels[i];
        p.samples.push_back(static_cast<std::uint16_t>((w >> 16) & 0xFFU));
        p.samples.push_back(static_cast<std::uint16_t>((w >> 8) & 0xFFU));
        p.samples.push_back(static_cast<std::uint16_t>(w & 0xFFU));
    }
    return p;
}

goldenpicture depthpicture(const std::int16_t *depths, int stride, int height) {
    goldenpicture p;
    p.width = stride;
    p.height = height;
    p.channels = 1;
    p.samples.reserve(static_cast<std::size_t>(stride) * height);
    for (std::size_t i = 0; i < static_cast<std::size_t>(stride) * height; ++i) {
        p.samples.push_back(static_cast<std::uint16_t>(depths[i] + 32768));
    }
    return p;
}

std::string comparegolden(const std::string &name, const goldenpicture &actual, bool pinnedmatch) {
    const fs::path golden = fs::path(TREL_GOLDEN_DIR) / (name + ".png");
    if (recording()) {
        return writepng(golden, actual);
    }
    goldenpicture expected;
    const std::string unreadable = readpng(golden, actual.channels, expected);
    const bool match = unreadable.empty() && expected == actual;
    const fs::path folder = fs::path(TREL_GOLDEN_FAILURE_DIR) / name;
    std::error_code ec;
    if (match && pinnedmatch) {
        fs::remove_all(folder, ec); // the pictures of an earlier mismatch
        return {};
    }

    std::ostringstream message;
    if (!unreadable.empty()) {
        message << unreadable << "\n";
    } else if (match) {
        message << "the picture matches " << golden.string()
                << " but not its pinned hash: what changed is not kept in the golden file"
                   " (the fourth byte of a colour word)\n";
    }
    fs::create_directories(folder, ec);
    if (ec) {
        message << "cannot create " << folder.string() << ": " << ec.message() << "\n";
        return message.str();
    }
    const auto save = [&](const char *file, const goldenpicture &p) {
        const fs::path path = folder / file;
        const std::string failed = writepng(path, p);
        message << "  " << file << ": " << (failed.empty() ? path.string() : failed) << "\n";
    };
    if (unreadable.empty()) {
        int changed = 0;
        const goldenpicture diff = diffpicture(expected, actual, changed);
        message << changed << " of " << actual.width * actual.height << " pixels differ from "
                << golden.string() << " (" << expected.width << "x" << expected.height
                << " expected, " << actual.width << "x" << actual.height << " drawn):\n";
        save("actual.png", actual);
        save("expected.png", expected);
        save("diff.png", diff);
    } else {
        save("actual.png", actual);
    }
    message << "After reviewing the pictures, TREL_RECORD=1 rewrites the golden file.";
    return message.str();
}

} // namespace trel::test
