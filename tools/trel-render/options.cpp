#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>

#include <CLI/CLI.hpp>
#include <sys/ioctl.h>
#include <trel/trel.h>
#include <unistd.h>

#include "failure.h"
#include "text.h"
#include "version.h"

namespace render {
namespace {

// The whole of `text` as a number of type T (finite, for a double), or nothing.
template <class T> std::optional<T> number(std::string_view text) {
    T value{};
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return value;
}

// Depths beyond this, in the mesh's units, cannot be meant: coordinates are
// themselves held within largestcoordinate.
constexpr double largestdepth = 1e15;

using trel::loader::leastmemorymib;
constexpr std::uint64_t mostmemorymib = std::uint64_t{1} << 24;

// One option as the help lists it: its names, the kind of value it takes
// (empty: a flag) and what it does.
struct optionhelp {
    const char *names;
    const char *value;
    std::string about;
};

const std::vector<optionhelp> &optionlist() {
    const std::string side = std::to_string(trel::largestside);
    static const std::vector<optionhelp> list = {
        {"MESH", "FILE...",
         "Meshes to draw: OBJ, STL, PLY, OFF, glTF, 3MF and whatever else assimp reads "
         "(default: the bunny); several need --out-dir"},
        {"-o,--output", "FILE",
         "Picture to write, .png or .webp (default render.png); - writes a PNG to standard "
         "output; with --frames, NAME-000.png, NAME-001.png, ... or one animated NAME.webp. "
         "An existing file is replaced only when it is a PNG or WebP picture or empty"},
        {"--force", "", "Replace an existing output whatever it holds"},
        {"--out-dir", "DIR",
         "Batch: write one picture per mesh into this folder, named after the mesh; files "
         "whose extension no loader reads are skipped"},
        {"-j,--jobs", "N", "Meshes drawn at once in a batch (default: one per core)"},
        {"--thumbnail", "SIZE", "A SIZE x SIZE thumbnail on a transparent background"},
        {"--engine", "NAME",
         "3d (shaded, depth-tested), 2d (shaded) or 2dxy (unshaded); default 3d"},
        {"--style", "NAME", "Faces (solid), their outlines (wire) or both; default solid"},
        {"--size", "WxH", "Picture size, at most " + side + "x" + side + " (default 800x600)"},
        {"--view", "AZ,EL|NAME",
         "AZIMUTH,ELEVATION in degrees, or front, back, left, right, top, bottom, iso "
         "(default -30,15)"},
        {"--up", "NAME", "The model's up axis: y, z, or auto (z for STL and 3MF, y otherwise)"},
        {"--margin", "PERCENT", "Percent of the picture left free on each side (default 5)"},
        {"--colour,--color", "COLOUR",
         "Mesh colour, #rrggbb, #rgb or a name (default: the file's own colours, else #f2d0a6)"},
        {"--background", "COLOUR|none",
         "Background colour, or none for a transparent one (default #242c3a)"},
        {"--edge-colour,--edge-color", "COLOUR",
         "Outline colour over the faces; alone, it asks for --style both (default #141414)"},
        {"--depth", "FILE.png",
         "Also write the depth plane as a greyscale PNG, near = bright (3d engine only)"},
        {"--depth-range", "NEAR,FAR",
         "The depths, in the mesh's units in front of its centre, that the depth picture's "
         "brightest and darkest greys stand for"},
        {"--depth16", "", "Write the depth picture as 16-bit grey"},
        {"--frames", "N", "Turntable: N pictures around the vertical axis"},
        {"--max-memory", "MIB",
         "MiB of address space the mesh may be parsed in, " + std::to_string(leastmemorymib) +
             " or more (default 4096)"},
        {"--load-timeout", "SECONDS", "Seconds the mesh may take to parse (default 30)"},
        {"--stats", "", "Print triangles, the up axis taken, and load, draw and write times"},
        {"--print-names", "", "Print the name of every file written, one a line"},
        {"--version", "", "Print the version and exit"},
        {"-h,--help", "", "Print this help and exit"},
    };
    return list;
}

// The columns the help is wrapped to: the terminal's, at most 100, else 80.
std::size_t helpwidth() {
    struct winsize size {};
    if (::isatty(STDOUT_FILENO) == 1 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 &&
        size.ws_col >= 40) {
        return std::min<std::size_t>(size.ws_col, 100);
    }
    return 80;
}

// `text` in lines of at most `width` columns, each after `indent` spaces.
std::string wrapped(const std::string &text, std::size_t indent, std::size_t width) {
    std::istringstream words(text);
    std::string out;
    std::string line;
    for (std::string word; words >> word;) {
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + std::string(indent, ' ') + line + "\n";
}

void printhelp() {
    const std::size_t width = helpwidth();
    std::string text = "Usage: trel-render [OPTIONS] [MESH...]\n\n";
    text += wrapped("Draws meshes with the trel software rasterizer and writes PNG or WebP "
                    "pictures. With no MESH it draws the Stanford bunny.",
                    0, width);
    text += "\nOptions:\n";
    for (const optionhelp &o : optionlist()) {
        std::string names = std::string("  ") + o.names;
        if (*o.value != '\0') {
            names += std::string(" ") + o.value;
        }
        text += names + "\n" + wrapped(o.about, 8, width);
    }
    std::cout << text;
}

// What the command line gives, as it gives it: every value as text, every
// occurrence kept, so that each is read and refused in trel-render's words.
struct words {
    std::map<std::string, std::vector<std::string>> values; // by the option's first long name
    std::map<std::string, std::size_t> flags;
    std::vector<std::string> meshes;
    std::vector<std::string> extras;

    // The one value of `option`, or nothing when it was not given. Throws
    // failure when it was given more than once or empty.
    std::optional<std::string> one(const std::string &option) const {
        const auto found = values.find(option);
        if (found == values.end() || found->second.empty()) {
            return std::nullopt;
        }
        if (found->second.size() > 1) {
            throw failure(option + " was given " + std::to_string(found->second.size()) +
                          " times: give it once");
        }
        if (found->second.front().empty()) {
            throw failure(option + " was given an empty value");
        }
        return found->second.front();
    }
    bool flag(const std::string &option) const {
        const auto found = flags.find(option);
        return found != flags.end() && found->second > 0;
    }
};

// The option's long name, by which `words` keeps it: "--colour" of "--colour,--color".
std::string keyof(const std::string &names) {
    const std::size_t dashes = names.find("--");
    const std::size_t end = names.find(',', dashes);
    return names.substr(dashes, end == std::string::npos ? std::string::npos : end - dashes);
}

void declare(CLI::App &app, words &text) {
    app.set_help_flag(); // the help is trel-render's own, wrapped
    for (const optionhelp &o : optionlist()) {
        const std::string names = o.names;
        if (names == "MESH") {
            app.add_option("MESH", text.meshes);
        } else if (names == "-h,--help" || names == "--version" || *o.value == '\0') {
            app.add_flag(names, text.flags[keyof(names)]);
        } else {
            app.add_option(names, text.values[keyof(names)])
                ->expected(1)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                ->allow_extra_args(false);
        }
    }
    app.allow_extras(true);
}

// Runs CLI11 over the command line; throws failure in trel-render's words.
void parsecommandline(CLI::App &app, int argc, char **argv, words &text) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch &e) {
        // "--size: 1 required TEXT missing": an option at the end without its value.
        const std::string message = e.what();
        throw failure(message.substr(0, message.find(':')) + " needs a value");
    } catch (const CLI::ParseError &e) {
        throw failure("cannot read the command line: " + oneline(e.what()));
    }
    text.extras = app.remaining();
    // "--" ends the options (thumbnailers pass it before the file name).
    text.extras.erase(std::remove(text.extras.begin(), text.extras.end(), "--"), text.extras.end());
    if (!text.extras.empty()) {
        const std::string &first = text.extras.front();
        throw failure((first.rfind('-', 0) == 0 ? "unknown option '" : "unexpected '") + first +
                      "' (see --help)");
    }
}

// `word`, the value of `option`, as a whole number from `low` to `high`;
// throws failure saying what is wrong with it.
template <class T>
T wholeoption(const std::string &option, const std::string &word, T low, T high) {
    const auto value = number<long long>(word);
    if (!value) {
        throw failure("bad " + option + " '" + word + "': not a number");
    }
    if (*value < static_cast<long long>(low) || static_cast<T>(*value) > high) {
        throw failure("bad " + option + " '" + word + "': expected " + std::to_string(low) +
                      " to " + std::to_string(high));
    }
    return static_cast<T>(*value);
}

// NEAR,FAR as two finite numbers that differ.
std::pair<double, double> parsedepthrange(const std::string &text) {
    const std::size_t comma = text.find(',');
    const auto near = number<double>(std::string_view(text).substr(0, comma));
    const auto far = comma == std::string::npos
                         ? std::nullopt
                         : number<double>(std::string_view(text).substr(comma + 1));
    if (!near || !far || *near == *far || std::fabs(*near) > largestdepth ||
        std::fabs(*far) > largestdepth) {
        throw failure("bad --depth-range '" + text +
                      "': expected NEAR,FAR, two different numbers in the mesh's units");
    }
    return {*near, *far};
}

// How the mesh is drawn: engine, style, size, colours.
void readdrawing(const words &text, options &opts) {
    trel::scene::drawsettings &d = opts.draw;
    if (const auto w = text.one("--engine")) {
        d.engine = trel::scene::parseengine(*w);
    }
    if (const auto w = text.one("--style")) {
        d.style = trel::scene::parsestyle(*w);
    }
    if (const auto w = text.one("--size")) {
        trel::scene::parsesize(*w, d.width, d.height);
    }
    if (const auto w = text.one("--colour")) {
        d.colour = trel::scene::parsecolour(*w);
        d.colourgiven = true;
    }
    const auto background = text.one("--background");
    if (background && lowercase(*background) == "none") {
        d.transparent = true;
    } else if (background) {
        d.background = trel::scene::parsecolour(*background);
    }
    if (const auto w = text.one("--edge-colour")) {
        d.edgecolour = trel::scene::parsecolour(*w);
        if (!text.one("--style")) {
            d.style = trel::scene::drawstyle::both; // outlines over the faces are asked for
        } else if (d.style != trel::scene::drawstyle::both) {
            std::cerr << "trel-render: note: --edge-colour has no effect with --style "
                      << lowercase(*text.one("--style"))
                      << ": only --style both draws outlines over the faces\n";
        }
    }
    if (const auto w = text.one("--thumbnail")) {
        if (text.one("--size")) {
            throw failure("--thumbnail SIZE sets the size: it does not go with --size");
        }
        opts.thumbnail = wholeoption("--thumbnail", *w, 1, trel::largestside);
        d.width = d.height = opts.thumbnail;
        // Thumbnails sit on whatever the file manager shows behind them.
        d.transparent = d.transparent || !background;
    }
}

// Where the mesh is seen from.
void readview(const words &text, options &opts) {
    trel::scene::viewsettings &v = opts.view;
    if (const auto w = text.one("--view")) {
        trel::scene::parseview(*w, v.azimuth, v.elevation);
    }
    if (const auto w = text.one("--up")) {
        v.up = trel::scene::parseup(*w);
    }
    if (const auto w = text.one("--margin")) {
        const auto margin = number<double>(*w);
        if (!margin) {
            throw failure("bad --margin '" + *w + "': not a number");
        }
        if (*margin < 0.0 || *margin >= 50.0) {
            throw failure("bad --margin '" + *w + "': expected 0 to below 50 percent");
        }
        v.margin = *margin;
    }
}

// What is written, and the limits the mesh is read under.
void readoutputs(const words &text, options &opts) {
    opts.meshes = text.meshes;
    opts.output = text.one("--output").value_or(opts.output);
    opts.outdir = text.one("--out-dir").value_or("");
    opts.depth = text.one("--depth").value_or("");
    opts.depth16 = text.flag("--depth16");
    opts.stats = text.flag("--stats");
    opts.force = text.flag("--force");
    opts.printnames = text.flag("--print-names");
    if (const auto w = text.one("--frames")) {
        opts.frames = wholeoption("--frames", *w, 1, 100000);
    }
    if (const auto w = text.one("--jobs")) {
        opts.jobs = wholeoption("--jobs", *w, 1, 1024);
    }
    if (const auto w = text.one("--depth-range")) {
        opts.depthrange = parsedepthrange(*w);
    }
    if (const auto w = text.one("--max-memory")) {
        const auto mib = number<long long>(*w);
        if (mib && *mib >= 0 && static_cast<std::uint64_t>(*mib) < leastmemorymib) {
            throw failure("bad --max-memory '" + *w + "': loading a mesh needs at least " +
                          std::to_string(leastmemorymib) + " MiB");
        }
        opts.limits.memorymib = wholeoption("--max-memory", *w, leastmemorymib, mostmemorymib);
    }
    if (const auto w = text.one("--load-timeout")) {
        const auto seconds = number<double>(*w);
        if (!seconds || *seconds < 0.001 || *seconds > 86400.0) {
            throw failure("bad --load-timeout '" + *w + "': expected 0.001 to 86400 seconds");
        }
        opts.limits.seconds = *seconds;
    }
}

// Throws failure when the options, each good on its own, do not go together.
void checkcombination(const options &opts, const words &text) {
    if (opts.depth == opts.output) {
        throw failure("the picture and the depth picture would both be '" + opts.output + "'");
    }
    if (!opts.depth.empty() && opts.draw.engine != trel::scene::enginekind::engine3d) {
        throw failure("--depth needs the 3d engine: only it keeps a depth plane");
    }
    if ((opts.depthrange || opts.depth16) && opts.depth.empty()) {
        throw failure(std::string(opts.depth16 ? "--depth16" : "--depth-range") +
                      " shapes the depth picture: it needs --depth");
    }
    if (opts.outdir.empty() && opts.meshes.size() > 1) {
        throw failure("several meshes make several pictures: give --out-dir to put them in");
    }
    if (!opts.outdir.empty() && text.one("--output")) {
        throw failure("--out-dir names each picture after its mesh: it does not go with -o");
    }
}

} // namespace

std::optional<int> parseoptions(int argc, char **argv, options &opts) {
    CLI::App app{"trel-render", "trel-render"};
    words text;
    declare(app, text);
    parsecommandline(app, argc, argv, text);
    if (text.flag("--help")) {
        printhelp();
        return 0;
    }
    if (text.flag("--version")) {
        std::cout << trelrenderversion << "\n";
        return 0;
    }
    readdrawing(text, opts);
    readview(text, opts);
    readoutputs(text, opts);
    checkcombination(opts, text);
    return std::nullopt;
}

} // namespace render
