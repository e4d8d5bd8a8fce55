#include "text.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace trel::loader {

std::string cleanline(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool space = static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == ' ';
        if (space) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    constexpr std::size_t longest = 300;
    if (out.size() > longest) {
        out.resize(longest);
        out += "...";
    }
    return out;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
        std::size_t j = i;
        while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j])) == 0) {
            ++j;
        }
        if (j > i) {
            out.push_back(text.substr(i, j - i));
        }
        i = j;
    }
    return out;
}

std::optional<std::uint64_t> count(std::string_view word) {
    if (!word.empty() && word.front() == '+') {
        word.remove_prefix(1);
    }
    std::uint64_t value = 0;
    const char *end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (word.empty() || ptr != end) {
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

} // namespace trel::loader
