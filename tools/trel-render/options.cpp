#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <trel/trel.h>

#include "failure.h"

namespace render {
namespace {

// The whole of `text` as an int, or nothing.
std::optional<long long> wholenumber(std::string_view text) {
    long long value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The whole of `text` as a finite double, or nothing.
std::optional<double> finitenumber(std::string_view text) {
    double value = 0.0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
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

// A message on one line, whatever the parser put in it.
std::string oneline(std::string text) {
    for (char &c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
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
    const std::size_t comma = text.find(',');
    const auto az = comma == std::string::npos
                        ? std::nullopt
                        : finitenumber(std::string_view(text).substr(0, comma));
    const auto el = comma == std::string::npos
                        ? std::nullopt
                        : finitenumber(std::string_view(text).substr(comma + 1));
    if (!az || !el || std::fabs(*az) > 1e6 || *el < -90.0 || *el > 90.0) {
        throw failure("bad view '" + text +
                      "': expected AZIMUTH,ELEVATION in degrees, elevation from -90 to 90");
    }
    azimuth = *az;
    elevation = *el;
}

rgb parsecolour(const std::string &text) {
    static const std::map<std::string, rgb> names = {
        {"black", {0, 0, 0}},       {"white", {255, 255, 255}}, {"grey", {128, 128, 128}},
        {"gray", {128, 128, 128}},  {"red", {255, 0, 0}},       {"green", {0, 255, 0}},
        {"blue", {0, 0, 255}},      {"yellow", {255, 255, 0}},  {"cyan", {0, 255, 255}},
        {"magenta", {255, 0, 255}},
    };
    if (const auto named = names.find(text); named != names.end()) {
        return named->second;
    }
    std::string_view hex(text);
    if (!hex.empty() && hex.front() == '#') {
        hex.remove_prefix(1);
    }
    int digits[6] = {};
    bool good = hex.size() == 6;
    for (std::size_t i = 0; good && i < 6; ++i) {
        digits[i] = hexdigit(hex[i]);
        good = digits[i] >= 0;
    }
    if (!good) {
        throw failure("bad colour '" + text + "': expected #rrggbb or a name such as red");
    }
    const auto byte = [&digits](int i) {
        return static_cast<std::uint8_t>(digits[i] * 16 + digits[i + 1]);
    };
    return {byte(0), byte(2), byte(4)};
}

namespace {

// An option with a fixed set of values: the words it accepts, in the order
// the help lists them, and what each means.
template <class T> using namedvalues = std::vector<std::pair<std::string, T>>;

const namedvalues<enginekind> enginenames = {
    {"3d", enginekind::engine3d},
    {"2d", enginekind::engine2d},
    {"2dxy", enginekind::engine2dxy},
};
const namedvalues<drawstyle> stylenames = {
    {"solid", drawstyle::solid},
    {"wire", drawstyle::wire},
    {"both", drawstyle::both},
};
const namedvalues<bool> upnames = {{"y", false}, {"z", true}}; // true: Z up

// The value named `word`, which the option's check has already found among
// the names.
template <class T> T valuenamed(const namedvalues<T> &names, const std::string &word) {
    const auto named = std::find_if(names.begin(), names.end(),
                                    [&word](const auto &name) { return name.first == word; });
    return named->second;
}

// The options that the command line gives as words of their own syntax, kept
// as text until it has been read whole. The engine, style, size and up axis
// start as their defaults' words; an empty view or colour keeps the default.
struct words {
    std::string engine = "3d";
    std::string style = "solid";
    std::string size;
    std::string view;
    std::string colour;
    std::string background;
    std::string edgecolour;
    std::string up = "y";
};

// Declares every option to CLI11: the plain values straight into `opts`, the
// others into `text`.
void declareoptions(CLI::App &app, options &opts, words &text) {
    app.add_option("MESH", opts.mesh,
                   "Mesh to draw: OBJ, STL, PLY, OFF, glTF and whatever else "
                   "assimp reads (default: the bunny)");
    app.add_option("--engine", text.engine,
                   "Engine: 3d (shaded, depth-tested), 2d (shaded) or 2dxy "
                   "(unshaded)")
        ->check(CLI::IsMember(enginenames))
        ->capture_default_str();
    app.add_option("--style", text.style, "Faces (solid), their outlines (wire) or both")
        ->check(CLI::IsMember(stylenames))
        ->capture_default_str();
    const std::string side = std::to_string(trel::largestside);
    app.add_option("--size", text.size, "Picture size WIDTHxHEIGHT, at most " + side + "x" + side)
        ->capture_default_str();
    app.add_option("--view", text.view, "AZIMUTH,ELEVATION in degrees (default -30,15)");
    app.add_option("--up", text.up, "The model's up axis: y (OBJ, glTF) or z (common in STL)")
        ->check(CLI::IsMember(upnames))
        ->capture_default_str();
    app.add_option("--colour,--color", text.colour,
                   "Mesh colour, #rrggbb or a name (default #f2d0a6)");
    app.add_option("--background", text.background, "Background colour (default #242c3a)");
    app.add_option("--edge-colour,--edge-color", text.edgecolour,
                   "Outline colour for --style both (default #141414)");
    app.add_option("-o,--output", opts.output,
                   "PNG to write; with --frames, NAME-000.png, NAME-001.png, ...")
        ->capture_default_str();
    app.add_option("--depth", opts.depth,
                   "Also write the depth plane as a greyscale PNG, near = "
                   "bright (3d engine only)");
    app.add_option("--frames", opts.frames, "Turntable: N pictures around the vertical axis")
        ->check(CLI::Range(1, 100000));
    app.add_option("--max-memory", opts.maxmemory,
                   "MiB of address space the mesh may be parsed in (the parser's whole "
                   "process)")
        ->check(CLI::Range(std::uint64_t{16}, std::uint64_t{1} << 24))
        ->capture_default_str();
    app.add_option("--load-timeout", opts.loadtimeout, "Seconds the mesh may take to parse")
        ->check(CLI::Range(0.001, 86400.0))
        ->capture_default_str();
    app.add_flag("--stats", opts.stats, "Print triangles, time per frame and Mpixel/s");
    app.set_version_flag("--version", std::string(trel::version()),
                         "Print the trel library version and exit");
}

// Runs CLI11 over the command line. Returns the status to exit with when the
// run ends here: 0 after the help or the version (on stdout), 2 after a usage
// error (on stderr).
std::optional<int> parsecommandline(CLI::App &app, int argc, char **argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);
        }
        std::cerr << "trel-render: " << oneline(e.what()) << "\n";
        return 2;
    }
    return std::nullopt;
}

// Reads the words into `opts`; throws failure at the first that does not
// parse. An empty word leaves the default.
void readwords(const words &text, options &opts) {
    opts.engine = valuenamed(enginenames, text.engine);
    opts.style = valuenamed(stylenames, text.style);
    opts.zup = valuenamed(upnames, text.up);
    parsesize(text.size, opts.width, opts.height);
    if (!text.view.empty()) {
        parseview(text.view, opts.azimuth, opts.elevation);
    }
    const auto readcolour = [](const std::string &word, rgb &colour) {
        if (!word.empty()) {
            colour = parsecolour(word);
        }
    };
    readcolour(text.colour, opts.colour);
    readcolour(text.background, opts.background);
    readcolour(text.edgecolour, opts.edgecolour);
}

// Throws failure when the options, each good on its own, do not go together.
void checkcombination(const options &opts) {
    if (opts.output.empty()) {
        throw failure("the output name is empty");
    }
    if (opts.depth == opts.output) {
        throw failure("the picture and the depth picture would both be '" + opts.output + "'");
    }
    if (!opts.depth.empty() && opts.engine != enginekind::engine3d) {
        throw failure("--depth needs the 3d engine: only it keeps a depth plane");
    }
}

} // namespace

std::optional<int> parseoptions(int argc, char **argv, options &opts) {
    CLI::App app{"trel-render: draws a mesh with the trel software rasterizer and writes a PNG.\n"
                 "With no MESH it draws the Stanford bunny.",
                 "trel-render"};
    words text;
    text.size = std::to_string(opts.width) + "x" + std::to_string(opts.height);
    declareoptions(app, opts, text);
    if (const auto done = parsecommandline(app, argc, argv)) {
        return done;
    }
    readwords(text, opts);
    checkcombination(opts);
    return std::nullopt;
}

} // namespace render
