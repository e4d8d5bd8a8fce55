#include "options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
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

// A,B as two finite doubles, or nothing.
std::optional<std::pair<double, double>> numberpair(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        return std::nullopt;
    }
    const auto a = finitenumber(text.substr(0, comma));
    const auto b = finitenumber(text.substr(comma + 1));
    if (!a || !b) {
        return std::nullopt;
    }
    return std::pair{*a, *b};
}

std::string lowercase(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
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

// Depths beyond this, in the mesh's units, cannot be meant: coordinates are
// themselves held within largestcoordinate.
constexpr double largestdepth = 1e15;

} // namespace

using trel::scene::parsecolour;
using trel::scene::parsesize;
using trel::scene::parseview;

trel::scene::drawsettings drawsettingsof(const options &opts) {
    return {opts.engine,      opts.style,      opts.width,       opts.height,    opts.colour,
            opts.colourgiven, opts.background, opts.transparent, opts.edgecolour};
}

trel::scene::viewsettings viewsettingsof(const options &opts) {
    return {opts.azimuth, opts.elevation, opts.up, opts.margin};
}

fileformat formatof(const std::string &path) {
    if (path == "-") {
        return fileformat::png;
    }
    const std::string extension = lowercase(std::filesystem::path(path).extension().string());
    if (extension.empty() || extension == ".png") {
        return fileformat::png;
    }
    if (extension == ".webp") {
        return fileformat::webp;
    }
    throw failure("cannot write '" + path + "': trel-render writes .png and .webp pictures");
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
const namedvalues<upaxis> upnames = {
    {"auto", upaxis::automatic},
    {"y", upaxis::y},
    {"z", upaxis::z},
};

// The value named `word`, which the option's check has already found among
// the names.
template <class T> T valuenamed(const namedvalues<T> &names, const std::string &word) {
    const auto named = std::find_if(names.begin(), names.end(),
                                    [&word](const auto &name) { return name.first == word; });
    return named->second;
}

// The options that the command line gives as words of their own syntax, kept
// as text until it has been read whole. The engine, style, size and up axis
// start as their defaults' words; an empty word keeps the default.
struct words {
    std::string engine = "3d";
    std::string style = "solid";
    std::string size;
    std::string view;
    std::string colour;
    std::string background;
    std::string edgecolour;
    std::string up = "auto";
    std::string frames;
    std::string depthrange;
    std::string thumbnail;
    std::string margin;
    std::string jobs;
    // Which of the options with defaults the command line named.
    bool stylegiven = false;
    bool sizegiven = false;
    bool outputgiven = false;
};

// Declares every option to CLI11: the plain values straight into `opts`, the
// others into `text`.
void declareoptions(CLI::App &app, options &opts, words &text) {
    app.add_option("MESH", opts.meshes,
                   "Meshes to draw: OBJ, STL, PLY, OFF, glTF, 3MF and whatever else "
                   "assimp reads (default: the bunny); several need --out-dir")
        ->type_name("FILE");
    app.add_option("--out-dir", opts.outdir,
                   "Batch: write one picture per mesh into this folder, named after the mesh")
        ->type_name("DIR");
    app.add_option("-j,--jobs", text.jobs,
                   "Meshes drawn at once in a batch (default: one per core)")
        ->type_name("N");
    app.add_option("--thumbnail", text.thumbnail,
                   "A SIZE x SIZE thumbnail on a transparent background")
        ->type_name("SIZE");
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
        ->capture_default_str()
        ->type_name("WxH");
    app.add_option("--view", text.view,
                   "AZIMUTH,ELEVATION in degrees, or front, back, left, right, top, bottom, iso "
                   "(default -30,15)")
        ->type_name("AZ,EL|NAME");
    app.add_option("--up", text.up,
                   "The model's up axis: y, z, or auto (z for STL and 3MF, y otherwise)")
        ->check(CLI::IsMember(upnames))
        ->capture_default_str();
    app.add_option("--margin", text.margin,
                   "Percent of the picture left free on each side (default 5)")
        ->type_name("PERCENT");
    app.add_option("--colour,--color", text.colour,
                   "Mesh colour, #rrggbb, #rgb or a name (default: the file's own colours, "
                   "else #f2d0a6)")
        ->type_name("COLOUR");
    app.add_option("--background", text.background,
                   "Background colour, or none for a transparent one (default #242c3a)")
        ->type_name("COLOUR|none");
    app.add_option("--edge-colour,--edge-color", text.edgecolour,
                   "Outline colour over the faces; alone, it asks for --style both "
                   "(default #141414)")
        ->type_name("COLOUR");
    app.add_option("-o,--output", opts.output,
                   "Picture to write, .png or .webp; with --frames, NAME-000.png, NAME-001.png, "
                   "... or one animated NAME.webp")
        ->capture_default_str()
        ->type_name("FILE");
    app.add_option("--depth", opts.depth,
                   "Also write the depth plane as a greyscale PNG, near = "
                   "bright (3d engine only)")
        ->type_name("FILE.png");
    app.add_option("--depth-range", text.depthrange,
                   "NEAR,FAR: the depths, in the mesh's units in front of its centre, that the "
                   "depth picture's brightest and darkest greys stand for")
        ->type_name("NEAR,FAR");
    app.add_flag("--depth16", opts.depth16, "Write the depth picture as 16-bit grey");
    app.add_option("--frames", text.frames, "Turntable: N pictures around the vertical axis")
        ->type_name("N");
    app.add_option("--max-memory", opts.maxmemory,
                   "MiB of address space the mesh may be parsed in (the parser's whole "
                   "process)")
        ->check(CLI::Range(std::uint64_t{16}, std::uint64_t{1} << 24))
        ->capture_default_str()
        ->type_name("MIB");
    app.add_option("--load-timeout", opts.loadtimeout, "Seconds the mesh may take to parse")
        ->check(CLI::Range(0.001, 86400.0))
        ->capture_default_str()
        ->type_name("SECONDS");
    app.add_flag("--stats", opts.stats,
                 "Print triangles, the up axis taken, and load, draw and write times");
    app.set_version_flag("--version", std::string(trel::version()),
                         "Print the trel library version and exit");
}

// Runs CLI11 over the command line. Returns the status to exit with when the
// run ends here: 0 after the help or the version (on stdout), 2 after a usage
// error (on stderr).
std::optional<int> parsecommandline(CLI::App &app, int argc, char **argv, words &text) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);
        }
        std::cerr << "trel-render: " << oneline(e.what()) << "\n";
        return 2;
    }
    text.stylegiven = app.count("--style") > 0;
    text.sizegiven = app.count("--size") > 0;
    text.outputgiven = app.count("--output") > 0;
    return std::nullopt;
}

// The whole of `word`, the value of `option`, as a whole number from `low` to
// `high`; throws failure saying what is wrong with it.
int wholeoption(const std::string &option, const std::string &word, long long low, long long high) {
    const auto value = wholenumber(word);
    if (!value) {
        throw failure("bad " + option + " '" + word + "': not a number");
    }
    if (*value < low || *value > high) {
        throw failure("bad " + option + " '" + word + "': expected " + std::to_string(low) +
                      " to " + std::to_string(high));
    }
    return static_cast<int>(*value);
}

// NEAR,FAR as two finite numbers that differ.
std::pair<double, double> parsedepthrange(const std::string &text) {
    const auto range = numberpair(text);
    const auto near = range ? std::optional(range->first) : std::nullopt;
    const auto far = range ? std::optional(range->second) : std::nullopt;
    if (!near || !far || *near == *far || std::fabs(*near) > largestdepth ||
        std::fabs(*far) > largestdepth) {
        throw failure("bad --depth-range '" + text +
                      "': expected NEAR,FAR, two different numbers in the mesh's units");
    }
    return {*near, *far};
}

// Reads the words into `opts`; throws failure at the first that does not
// parse. An empty word leaves the default.
void readwords(const words &text, options &opts) {
    opts.engine = valuenamed(enginenames, text.engine);
    opts.style = valuenamed(stylenames, text.style);
    opts.up = valuenamed(upnames, text.up);
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
    opts.colourgiven = !text.colour.empty();
    if (lowercase(text.background) == "none") {
        opts.transparent = true;
    } else {
        readcolour(text.background, opts.background);
    }
    readcolour(text.edgecolour, opts.edgecolour);
    if (!text.edgecolour.empty() && !text.stylegiven) {
        // An outline colour asks for outlines over the faces.
        opts.style = drawstyle::both;
    }
    if (!text.frames.empty()) {
        opts.frames = wholeoption("--frames", text.frames, 1, 100000);
    }
    if (!text.jobs.empty()) {
        opts.jobs = wholeoption("--jobs", text.jobs, 1, 1024);
    }
    if (!text.margin.empty()) {
        const auto margin = finitenumber(text.margin);
        if (!margin) {
            throw failure("bad --margin '" + text.margin + "': not a number");
        }
        if (*margin < 0.0 || *margin >= 50.0) {
            throw failure("bad --margin '" + text.margin + "': expected 0 to below 50 percent");
        }
        opts.margin = *margin;
    }
    if (!text.thumbnail.empty()) {
        if (text.sizegiven) {
            throw failure("--thumbnail SIZE sets the size: it does not go with --size");
        }
        opts.thumbnail = wholeoption("--thumbnail", text.thumbnail, 1, trel::largestside);
        opts.width = opts.thumbnail;
        opts.height = opts.thumbnail;
        // Thumbnails sit on whatever the file manager shows behind them.
        opts.transparent = opts.transparent || text.background.empty();
    }
    if (!text.depthrange.empty()) {
        opts.depthrange = parsedepthrange(text.depthrange);
    }
}

// Throws failure when the options, each good on its own, do not go together.
void checkcombination(const options &opts, const words &text) {
    if (opts.output.empty()) {
        throw failure("the output name is empty");
    }
    if (opts.depth == opts.output) {
        throw failure("the picture and the depth picture would both be '" + opts.output + "'");
    }
    if (!opts.depth.empty() && opts.engine != enginekind::engine3d) {
        throw failure("--depth needs the 3d engine: only it keeps a depth plane");
    }
    if ((opts.depthrange || opts.depth16) && opts.depth.empty()) {
        throw failure(std::string(opts.depth16 ? "--depth16" : "--depth-range") +
                      " shapes the depth picture: it needs --depth");
    }
    if (opts.outdir.empty() && opts.meshes.size() > 1) {
        throw failure("several meshes make several pictures: give --out-dir to put them in");
    }
    if (!opts.outdir.empty() && text.outputgiven) {
        throw failure("--out-dir names each picture after its mesh: it does not go with -o");
    }
}

} // namespace

std::optional<int> parseoptions(int argc, char **argv, options &opts) {
    CLI::App app{
        "trel-render: draws meshes with the trel software rasterizer and writes PNG or WebP\n"
        "pictures. "
        "With no MESH it draws the Stanford bunny.",
        "trel-render"};
    words text;
    text.size = std::to_string(opts.width) + "x" + std::to_string(opts.height);
    declareoptions(app, opts, text);
    if (const auto done = parsecommandline(app, argc, argv, text)) {
        return done;
    }
    readwords(text, opts);
    checkcombination(opts, text);
    return std::nullopt;
}

} // namespace render
