#include "encode.h"

#include <array>
#include <bit>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <png.h>

namespace trel::encode {
namespace {

using trel::scene::image;

// libpng reports a failure by jumping back to where encode() set it up; the
// message is kept here on the way.
struct pngfailure {
    char message[200];
    std::jmp_buf back;
};

extern "C" void pngerror(png_structp png, png_const_charp message) {
    auto *failure = static_cast<pngfailure *>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    std::longjmp(failure->back, 1);
}

extern "C" void pngwarning(png_structp, png_const_charp) {}

// A colour picture as indices into at most 256 colours, numbered in the order
// they first appear; false when it holds more. Flat-shaded pictures hold a few
// dozen: a third of the bytes to deflate, and a smaller file. An RGBA picture
// gives each colour its alpha in `alphas`.
bool topalette(const image &picture, std::vector<std::uint8_t> &indices,
               std::vector<png_color> &colours, std::vector<std::uint8_t> &alphas) {
    if ((picture.channels != 3 && picture.channels != 4) || picture.bits != 8) {
        return false;
    }
    const bool rgba = picture.channels == 4;
    const std::size_t step = rgba ? 4 : 3;
    constexpr std::size_t slots = 1024;                // at most a quarter full
    constexpr std::uint64_t empty = ~std::uint64_t{0}; // no colour
    std::array<std::uint64_t, slots> keys;
    std::array<std::uint8_t, slots> values{};
    keys.fill(empty);
    colours.clear();
    alphas.clear();
    const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
    indices.resize(pixels);
    const std::uint8_t *rgb = picture.bytes.data();
    constexpr bool littleendian = std::endian::native == std::endian::little;
    std::uint64_t last = empty;
    std::uint8_t lastindex = 0;
    for (std::size_t k = 0; k < pixels; ++k, rgb += step) {
        // Four bytes at once where a fourth follows; the last RGB pixel by bytes.
        std::uint32_t c = 0;
        if (rgba || k + 1 < pixels) {
            std::memcpy(&c, rgb, sizeof c);
            if (!littleendian) {
                c = rgb[0] | rgb[1] << 8 | rgb[2] << 16 | static_cast<std::uint32_t>(rgb[3]) << 24;
            }
            if (!rgba) {
                c &= 0xFFFFFFU;
            }
        } else {
            c = rgb[0] | static_cast<std::uint32_t>(rgb[1]) << 8 |
                static_cast<std::uint32_t>(rgb[2]) << 16;
        }
        if (c != last) {
            std::size_t slot = (c * 0x9E3779B1U) >> 22;
            while (keys[slot] != empty && keys[slot] != c) {
                slot = (slot + 1) & (slots - 1);
            }
            if (keys[slot] == empty) {
                if (colours.size() == 256) {
                    return false;
                }
                keys[slot] = c;
                values[slot] = static_cast<std::uint8_t>(colours.size());
                colours.push_back({rgb[0], rgb[1], rgb[2]});
                alphas.push_back(rgba ? rgb[3] : 255);
            }
            last = c;
            lastindex = values[slot];
        }
        indices[k] = lastindex;
    }
    // Entries past the last transparent one are opaque without saying so.
    while (!alphas.empty() && alphas.back() == 255) {
        alphas.pop_back();
    }
    return true;
}

// Where the encoded bytes go; `full` is set when they could not be kept.
struct sink {
    std::vector<unsigned char> *bytes;
    bool full = false;
};

extern "C" void pngwrite(png_structp png, png_bytep data, png_size_t size) {
    auto *to = static_cast<sink *>(png_get_io_ptr(png));
    try {
        to->bytes->insert(to->bytes->end(), data, data + size);
    } catch (const std::bad_alloc &) {
        to->full = true;
    }
    if (to->full) {
        png_error(png, "out of memory");
    }
}

extern "C" void pngflush(png_structp) {}

// Encodes `picture` into `out`; the message of libpng's failure, or empty.
// A colour picture of at most 256 colours is stored as `indices` into
// `colours` (when `indices` is given), with the colours' `alphas` where some
// are not opaque, which decodes to the same pixels.
// The rows are stored unfiltered and deflated at zlib's level 3: the pictures
// are mostly flat areas of a few colours, which deflate finds as long repeats,
// and filters only break those up. Against libpng's defaults (level 6, every
// filter tried on every row) this encodes about ten times faster, for files
// about 30% smaller with a palette and up to 15% larger without (bench/README.md).
// Nothing with a destructor lives between setjmp and the libpng calls that
// can jump back to it.
std::string encode(sink &out, const image &picture, const std::vector<std::uint8_t> *indices,
                   const std::vector<png_color> &colours, const std::vector<std::uint8_t> &alphas) {
    pngfailure failure{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, pngerror, pngwarning);
    if (png == nullptr) {
        return "out of memory";
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return "out of memory";
    }
    if (setjmp(failure.back) != 0) {
        png_destroy_write_struct(&png, &info);
        return failure.message[0] != '\0' ? failure.message : "PNG encoding failed";
    }
    png_set_write_fn(png, &out, pngwrite, pngflush);
    const int type = indices != nullptr      ? PNG_COLOR_TYPE_PALETTE
                     : picture.channels == 1 ? PNG_COLOR_TYPE_GRAY
                     : picture.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA
                                             : PNG_COLOR_TYPE_RGB;
    const int bits = indices != nullptr ? 8 : picture.bits;
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), bits, type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indices != nullptr) {
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        if (!alphas.empty()) {
            png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        }
    }
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    const std::uint8_t *rows = indices != nullptr ? indices->data() : picture.bytes.data();
    // 16-bit samples are stored high byte first, as PNG keeps them.
    const std::size_t row =
        static_cast<std::size_t>(picture.width) *
        (indices != nullptr ? 1 : static_cast<std::size_t>(picture.channels * picture.bits / 8));
    for (int y = 0; y < picture.height; ++y) {
        png_write_row(png, rows + static_cast<std::size_t>(y) * row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

// Encodes `picture` into `out`, as indices into a palette when it can.
std::string encode(sink &out, const image &picture) {
    std::vector<std::uint8_t> indices;
    std::vector<png_color> colours;
    std::vector<std::uint8_t> alphas;
    const bool indexed = topalette(picture, indices, colours, alphas);
    return encode(out, picture, indexed ? &indices : nullptr, colours, alphas);
}

} // namespace

std::vector<unsigned char> png(const image &picture) {
    const bool shaped = (picture.bits == 8 && (picture.channels == 1 || picture.channels == 3 ||
                                               picture.channels == 4)) ||
                        (picture.bits == 16 && picture.channels == 1);
    if (!shaped || picture.width <= 0 || picture.height <= 0 ||
        picture.bytes.size() != static_cast<std::size_t>(picture.width) * picture.height *
                                    picture.channels * (picture.bits / 8)) {
        throw trel::scene::failure("not a picture PNG can hold");
    }
    std::vector<unsigned char> bytes;
    sink out{&bytes};
    const std::string problem = encode(out, picture);
    if (!problem.empty()) {
        throw trel::scene::failure(problem);
    }
    return bytes;
}

} // namespace trel::encode
