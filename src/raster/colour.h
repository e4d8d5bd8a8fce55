// The colour word a pixel receives.
#ifndef TREL_RASTER_COLOUR_H
#define TREL_RASTER_COLOUR_H

#include <cstdint>

namespace trel::detail {

// The low 32 bits of a colour argument.
inline std::uint32_t colourword(unsigned long colour) {
    return static_cast<std::uint32_t>(colour & 0xFFFFFFFFUL);
}

// Channels 0 (bits 0-7) and 2 (bits 16-23) exchanged, channel 1 in place and
// the fourth byte 0: the order in which the depth engine stores its lines and
// triangles.
inline std::uint32_t exchangechannels(std::uint32_t word) {
    return ((word >> 16) & 0xFFU) | (word & 0xFF00U) | ((word & 0xFFU) << 16);
}

} // namespace trel::detail

#endif
