// Small text helpers the loader's parts share: messages on one line, the
// words of a line and the counts headers declare.
#ifndef TREL_LOADER_TEXT_H
#define TREL_LOADER_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trel::loader {

// A message from a parser on one line: control characters become spaces,
// runs of spaces one, and a very long message is cut short.
std::string cleanline(std::string_view text);

// Whitespace-separated words of `text`.
std::vector<std::string_view> words(std::string_view text);

// A count: a whole number, saturated at the largest uint64; nothing for a
// word that is not one (the parser will refuse it in its own words).
std::optional<std::uint64_t> count(std::string_view word);

} // namespace trel::loader

#endif
