// Filling a run of words with one value, as clear and the long flat spans do.
#ifndef TREL_RASTER_STORE_H
#define TREL_RASTER_STORE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace trel::detail {

// The shortest run of words worth a string store: below about 160 its
// start-up costs more than a loop of vector stores.
inline constexpr int stringstoremin = 160;

// Writes `word` into `count` words from `to`. On x86 a string store fills as
// fast as memset does: the processor writes whole cache lines without reading
// them first, which no loop of vector stores achieves; it costs more than a
// loop to start, so short runs are better left to std::fill_n. Elsewhere a
// plain loop.
template <class Word> void stringstore(Word *to, std::size_t count, Word word) {
    static_assert(sizeof(Word) == 4 || sizeof(Word) == 2);
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    if constexpr (sizeof(Word) == 4) {
        __asm__ volatile("rep stosl" : "+D"(to), "+c"(count) : "a"(word) : "memory");
    } else {
        __asm__ volatile("rep stosw" : "+D"(to), "+c"(count) : "a"(word) : "memory");
    }
#else
    std::fill_n(to, count, word);
#endif
}

} // namespace trel::detail

#endif
