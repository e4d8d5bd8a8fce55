// The settings' words: views, colours, sizes and the names of engines, styles
// and up axes, read the same way by every front end.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <locale>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include <trel/scene.h>

namespace trel::scene {
namespace {

std::string lowercase(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The whole of `text` as an integer, or nothing.
std::optional<long long> wholenumber(std::string_view text) {
    long long value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The whole of `text` as a finite double, or nothing: a decimal number in
// the C locale's spelling, without leading blanks or sign plus.
std::optional<double> finitenumber(std::string_view text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) != 0 ||
        text.front() == '+') {
        return std::nullopt;
    }
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    if (in.fail() || in.peek() != std::char_traits<char>::eof() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

int hexdigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A value with a fixed set of names: `names` in the order the help lists
// them, `values` in the same order.
template <class T>
T named(const std::string &text, const std::vector<std::string> &names, const T *values,
        const char *what) {
    const std::string word = lowercase(text);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == word) {
            return values[i];
        }
    }
    std::string expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        expected += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    throw failure(std::string("bad ") + what + " '" + text + "': expected " + expected);
}

} // namespace

void parsesize(const std::string &text, int &width, int &height) {
    const std::string problem = "bad size '" + text + "': expected WIDTHxHEIGHT, each from 1 to " +
                                std::to_string(trel::largestside);
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        throw failure(problem);
    }
    const auto w = wholenumber(std::string_view(text).substr(0, x));
    const auto h = wholenumber(std::string_view(text).substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > trel::largestside || *h > trel::largestside) {
        throw failure(problem);
    }
    width = static_cast<int>(*w);
    height = static_cast<int>(*h);
}

void parseview(const std::string &text, double &azimuth, double &elevation) {
    // The named views look along the model's axes; iso from the front right,
    // above, along the diagonal of a cube (elevation atan(1 / sqrt 2)).
    static const std::map<std::string, std::pair<double, double>> names = {
        {"front", {0.0, 0.0}},
        {"back", {180.0, 0.0}},
        {"left", {-90.0, 0.0}},
        {"right", {90.0, 0.0}},
        {"top", {0.0, 90.0}},
        {"bottom", {0.0, -90.0}},
        {"iso", {45.0, 35.264389682754654}},
    };
    if (const auto view = names.find(lowercase(text)); view != names.end()) {
        azimuth = view->second.first;
        elevation = view->second.second;
        return;
    }
    const std::size_t comma = text.find(',');
    const auto az = comma == std::string::npos
                        ? std::nullopt
                        : finitenumber(std::string_view(text).substr(0, comma));
    const auto el = comma == std::string::npos
                        ? std::nullopt
                        : finitenumber(std::string_view(text).substr(comma + 1));
    if (!az || !el || std::fabs(*az) > 1e6 || *el < -90.0 || *el > 90.0) {
        throw failure("bad view '" + text +
                      "': expected AZIMUTH,ELEVATION in degrees (elevation from -90 to 90) or "
                      "front, back, left, right, top, bottom or iso");
    }
    azimuth = *az;
    elevation = *el;
}

rgb parsecolour(const std::string &text) {
    static const std::map<std::string, rgb> names = {
        {"black", {0, 0, 0}},       {"white", {255, 255, 255}},  {"grey", {128, 128, 128}},
        {"gray", {128, 128, 128}},  {"silver", {192, 192, 192}}, {"red", {255, 0, 0}},
        {"maroon", {128, 0, 0}},    {"orange", {255, 165, 0}},   {"brown", {165, 42, 42}},
        {"yellow", {255, 255, 0}},  {"olive", {128, 128, 0}},    {"green", {0, 255, 0}},
        {"lime", {0, 255, 0}},      {"teal", {0, 128, 128}},     {"cyan", {0, 255, 255}},
        {"blue", {0, 0, 255}},      {"navy", {0, 0, 128}},       {"purple", {128, 0, 128}},
        {"magenta", {255, 0, 255}}, {"pink", {255, 192, 203}},
    };
    if (const auto colour = names.find(lowercase(text)); colour != names.end()) {
        return colour->second;
    }
    std::string_view hex(text);
    if (!hex.empty() && hex.front() == '#') {
        hex.remove_prefix(1);
    }
    int digits[6] = {};
    bool good = hex.size() == 6 || hex.size() == 3;
    for (std::size_t i = 0; good && i < hex.size(); ++i) {
        digits[i] = hexdigit(hex[i]);
        good = digits[i] >= 0;
    }
    if (!good) {
        throw failure("bad colour '" + text +
                      "': expected #rrggbb, #rgb or a name such as red or navy");
    }
    if (hex.size() == 3) {
        // #rgb stands for #rrggbb.
        return {static_cast<std::uint8_t>(digits[0] * 17),
                static_cast<std::uint8_t>(digits[1] * 17),
                static_cast<std::uint8_t>(digits[2] * 17)};
    }
    const auto byte = [&digits](int i) {
        return static_cast<std::uint8_t>(digits[i] * 16 + digits[i + 1]);
    };
    return {byte(0), byte(2), byte(4)};
}

const std::vector<std::string> &enginenames() {
    static const std::vector<std::string> names = {"3d", "2d", "2dxy"};
    return names;
}

const std::vector<std::string> &stylenames() {
    static const std::vector<std::string> names = {"solid", "wire", "both"};
    return names;
}

const std::vector<std::string> &upnames() {
    static const std::vector<std::string> names = {"auto", "y", "z"};
    return names;
}

enginekind parseengine(const std::string &text) {
    static constexpr enginekind values[] = {enginekind::engine3d, enginekind::engine2d,
                                            enginekind::engine2dxy};
    return named(text, enginenames(), values, "engine");
}

drawstyle parsestyle(const std::string &text) {
    static constexpr drawstyle values[] = {drawstyle::solid, drawstyle::wire, drawstyle::both};
    return named(text, stylenames(), values, "style");
}

upaxis parseup(const std::string &text) {
    static constexpr upaxis values[] = {upaxis::automatic, upaxis::y, upaxis::z};
    return named(text, upnames(), values, "up axis");
}

bool zup(upaxis up, const mesh &m) { return up == upaxis::automatic ? m.zupfile : up == upaxis::z; }

} // namespace trel::scene
