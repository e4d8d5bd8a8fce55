// Golden pictures for the scene tests: a picture drawn by an engine is
// compared with a PNG kept in tests/golden/, and a mismatch leaves
// actual.png, expected.png and diff.png in the build tree to look at.
//
// Colour pictures are kept as 8-bit RGB with channel 2 (bits 16-23) as red,
// channel 1 as green and channel 0 as blue, the order a host on Windows shows
// them in; the fourth byte is not kept (the pinned hashes hold it). Depth
// planes are kept as 16-bit grey, the signed depth plus 32768, so nearer is
// brighter and every value is kept exactly.
//
// With TREL_RECORD=1 in the environment the golden files are rewritten from
// the pictures drawn instead, to be reviewed as pictures before committing.
#ifndef TREL_TESTS_GOLDEN_H
#define TREL_TESTS_GOLDEN_H

#include <cstdint>
#include <string>
#include <vector>

namespace trel::test {

// A picture as the golden files keep it: `channels` samples per pixel (3 for
// RGB, 1 for grey), each 8 bits (RGB) or 16 bits (grey).
struct goldenpicture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<std::uint16_t> samples; // row-major, channels per pixel

    bool operator==(const goldenpicture &) const = default;
};

// The colour plane of an engine, `stride` words per row, as an RGB picture.
goldenpicture colourpicture(const std::uint32_t *pixels, int stride, int height);

// A depth plane as a 16-bit grey picture.
goldenpicture depthpicture(const std::int16_t *depths, int stride, int height);

// Compares `actual` with tests/golden/`name`.png. Returns an empty string
// when they match and `pinnedmatch` is true (or when TREL_RECORD=1 rewrote
// the golden file), and removes the pictures an earlier mismatch left.
// Otherwise it writes actual.png, expected.png (when the golden file could be
// read) and diff.png (the expected picture dimmed, every changed pixel in
// full magenta) into the build tree's folder golden-failures/`name`/ and
// returns a message naming them. The caller passes whether its pinned hash
// matched, so that a change the golden file cannot show (the fourth byte)
// still leaves the pictures behind.
std::string comparegolden(const std::string &name, const goldenpicture &actual, bool pinnedmatch);

} // namespace trel::test

#endif
