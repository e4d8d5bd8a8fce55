// Meshes and pictures: the scene layer (the drawing trel-render does) and its
// loader, for trel.Mesh, trel.load, trel.render, trel.render_depth and
// trel.turntable. The package's Python code turns the keyword arguments into
// the settings here.
#include "engines.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include <trel/scene.h>

#if TREL_PYTHON_PNG
#include "encode.h"
#endif
#include "load.h"

namespace py = pybind11;
namespace scene = trel::scene;

namespace trelpy {

namespace {

// A mesh file that could not be loaded: trel.LoadError, an OSError.
class loaderror : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using meshptr = std::shared_ptr<const scene::mesh>;

std::shared_mutex &staticsof(scene::enginekind kind) {
    switch (kind) {
    case scene::enginekind::engine2d:
        return statics(enginekind::engine2d);
    case scene::enginekind::engine2dxy:
        return statics(enginekind::engine2dxy);
    case scene::enginekind::engine3d:
        break;
    }
    return statics(enginekind::engine3d);
}

// Everything trel.render takes, already in the scene layer's terms.
struct settings {
    scene::viewsettings view;
    scene::drawsettings draw;
};

settings makesettings(int width, int height, py::handle view, const std::string &engine,
                      const std::string &style, const std::optional<std::string> &colour,
                      const std::optional<std::string> &background, bool transparent,
                      const std::string &up, double margin,
                      const std::optional<std::string> &edge) {
    settings s;
    if (width < 1 || height < 1 || width > trel::largestside || height > trel::largestside) {
        throw py::value_error("size must be (width, height), each 1 to " +
                              std::to_string(trel::largestside) + "; got (" +
                              std::to_string(width) + ", " + std::to_string(height) + ")");
    }
    s.draw.width = width;
    s.draw.height = height;
    if (py::isinstance<py::str>(view)) {
        scene::parseview(view.cast<std::string>(), s.view.azimuth, s.view.elevation);
    } else {
        const auto pair = view.cast<std::pair<double, double>>();
        if (!std::isfinite(pair.first) || !std::isfinite(pair.second)) {
            throw py::value_error("view must be a name or (azimuth, elevation) in degrees, "
                                  "both finite");
        }
        s.view.azimuth = pair.first;
        s.view.elevation = pair.second;
    }
    s.view.up = scene::parseup(up);
    if (!(margin >= 0 && margin < 50)) {
        throw py::value_error("margin must be a percentage from 0 to below 50; got " +
                              py::repr(py::float_(margin)).cast<std::string>());
    }
    s.view.margin = margin;
    s.draw.engine = scene::parseengine(engine);
    s.draw.style = scene::parsestyle(style);
    if (colour) {
        s.draw.colour = scene::parsecolour(*colour);
        s.draw.colourgiven = true;
    }
    if (background) {
        s.draw.background = scene::parsecolour(*background);
    }
    s.draw.transparent = transparent;
    if (edge) {
        s.draw.edgecolour = scene::parsecolour(*edge);
    }
    return s;
}

// The picture as numpy: colour as rows x columns x 4 (alpha 255 where the
// picture is opaque), grey as rows x columns of uint8 or uint16.
py::array toarray(const scene::image &im) {
    const auto rows = static_cast<py::ssize_t>(im.height);
    const auto cols = static_cast<py::ssize_t>(im.width);
    const std::uint8_t *in = im.bytes.data();
    if (im.channels == 1 && im.bits == 16) {
        py::array_t<std::uint16_t> out({rows, cols});
        std::uint16_t *o = out.mutable_data();
        for (py::ssize_t i = 0; i < rows * cols; ++i, in += 2) {
            o[i] = static_cast<std::uint16_t>(in[0] << 8 | in[1]);
        }
        return out;
    }
    if (im.channels == 1) {
        py::array_t<std::uint8_t> out({rows, cols});
        std::copy(in, in + rows * cols, out.mutable_data());
        return out;
    }
    py::array_t<std::uint8_t> out({rows, cols, py::ssize_t{4}});
    std::uint8_t *o = out.mutable_data();
    const auto step = static_cast<std::size_t>(im.channels);
    for (py::ssize_t i = 0; i < rows * cols; ++i, in += step, o += 4) {
        o[0] = in[0];
        o[1] = in[1];
        o[2] = in[2];
        o[3] = step == 4 ? in[3] : 255;
    }
    return out;
}

// The PNG file trel-render writes for the picture.
py::bytes png(const scene::image &im) {
#if TREL_PYTHON_PNG
    std::vector<unsigned char> data;
    {
        py::gil_scoped_release release;
        data = trel::encode::png(im);
    }
    return py::bytes(reinterpret_cast<const char *>(data.data()), data.size());
#else
    (void)im;
    throw std::runtime_error("this build of trel has no PNG encoder");
#endif
}

enum class output { colour, depth, png };

// The class's origin as its newest engine set it.
std::pair<int, int> originof(scene::enginekind kind) {
    switch (kind) {
    case scene::enginekind::engine2d:
        return {trel::engine2d::orgx, trel::engine2d::orgy};
    case scene::enginekind::engine2dxy:
        return {trel::engine2dxy::orgx, trel::engine2dxy::orgy};
    case scene::enginekind::engine3d:
        break;
    }
    return {trel::engine3d::orgx, trel::engine3d::orgy};
}

// The canvas of the last picture of each engine class, kept for the next
// picture of the same size: drawing clears it whole, and a fresh block of
// megabytes costs more in page faults than the drawing. It is used again only
// while its class's origin is still the one it was made with (no engine of
// another size was made since). Big pictures are not kept.
struct keptcanvas {
    std::unique_ptr<scene::canvas> canvas;
    std::pair<int, int> origin;
};

constexpr long long keptpixels = 1LL << 21;

keptcanvas &keptof(scene::enginekind kind) {
    static keptcanvas kept[3];
    return kept[static_cast<int>(kind)];
}

// A canvas for `d`; the caller holds its class's statics alone.
scene::canvas &canvasfor(const scene::drawsettings &d, std::unique_ptr<scene::canvas> &owned) {
    keptcanvas &kept = keptof(d.engine);
    if (kept.canvas && kept.canvas->width() == d.width && kept.canvas->height() == d.height &&
        kept.origin == originof(d.engine)) {
        return *kept.canvas;
    }
    kept.canvas.reset();
    owned = std::make_unique<scene::canvas>(d.engine, d.width, d.height);
    if (static_cast<long long>(d.width) * d.height > keptpixels) {
        return *owned;
    }
    kept.canvas = std::move(owned);
    kept.origin = originof(d.engine);
    return *kept.canvas;
}

// Draws the mesh placed at `points` and reads the picture back: into `rgba`
// (rows x columns x 4, alpha already 255) when the background is opaque, else
// as the scene layer's RGBA image; with `depth`, the depth picture instead.
scene::image drawn(const scene::mesh &m, const settings &s,
                   const std::vector<scene::screenpoint> &points, std::uint8_t *rgba,
                   const scene::depthmapping *depth, bool wantdepth) {
    std::unique_lock lock(staticsof(s.draw.engine));
    std::unique_ptr<scene::canvas> owned;
    scene::canvas &picture = canvasfor(s.draw, owned);
    picture.draw(m, points, s.draw);
    if (wantdepth) {
        return picture.depth(depth, true);
    }
    if (rgba != nullptr) {
        picture.readrgb(rgba, 4);
        return {};
    }
    return picture.colour(s.draw.transparent);
}

py::array_t<std::uint8_t> opaque(const settings &s) {
    py::array_t<std::uint8_t> out(
        {py::ssize_t{s.draw.height}, py::ssize_t{s.draw.width}, py::ssize_t{4}});
    std::memset(out.mutable_data(), 0xFF, static_cast<std::size_t>(out.size()));
    return out;
}

// A picture drawn by `draw(rgba)` with the GIL released: when `direct`,
// straight into a new opaque array (`rgba` its bytes), which `out` then holds;
// else `rgba` is null and the picture is what `draw` returns.
template <class Draw>
scene::image drawpicture(const settings &s, bool direct, py::array_t<std::uint8_t> &out,
                         Draw draw) {
    if (direct) {
        out = opaque(s);
    }
    std::uint8_t *rgba = direct ? out.mutable_data() : nullptr;
    py::gil_scoped_release release;
    return draw(rgba);
}

// One picture of the mesh, as scene::render and scene::renderdepth draw it.
py::object render(const meshptr &m, const settings &s, output what,
                  std::optional<std::pair<double, double>> range) {
    const bool direct = what == output::colour && !s.draw.transparent;
    py::array_t<std::uint8_t> out;
    const scene::image im = drawpicture(s, direct, out, [&](std::uint8_t *rgba) {
        const scene::turntable turn(*m, s.view, 1, s.draw.width, s.draw.height);
        const std::vector<scene::screenpoint> points = turn.points(0);
        scene::depthmapping mapping;
        if (range) {
            mapping = turn.mapping(range->first, range->second, points);
        }
        return drawn(*m, s, points, rgba, range ? &mapping : nullptr, what == output::depth);
    });
    if (direct) {
        return out;
    }
    if (what == output::png) {
        return png(im);
    }
    return toarray(im);
}

// The frames of one turn, each drawn when asked for.
class turn {
  public:
    turn(meshptr m, settings s, int frames)
        : mesh_(std::move(m)), settings_(s),
          table_(*mesh_, settings_.view, frames, settings_.draw.width, settings_.draw.height) {}

    int frames() const { return table_.frames(); }

    py::array frame(int k) {
        if (k < 0 || k >= table_.frames()) {
            throw py::index_error("frame " + std::to_string(k) + " of " +
                                  std::to_string(table_.frames()));
        }
        const bool direct = !settings_.draw.transparent;
        py::array_t<std::uint8_t> out;
        const scene::image im = drawpicture(settings_, direct, out, [&](std::uint8_t *rgba) {
            return drawn(*mesh_, settings_, table_.points(k), rgba, nullptr, false);
        });
        return direct ? out : toarray(im);
    }

  private:
    meshptr mesh_;
    settings settings_;
    scene::turntable table_;
};

// The rows of `v` (each `columns` values of `E`, packed) as an array.
template <class E, std::size_t columns, class T> py::array copied(const std::vector<T> &v) {
    static_assert(sizeof(T) == columns * sizeof(E));
    py::array_t<E> out({static_cast<py::ssize_t>(v.size()), static_cast<py::ssize_t>(columns)});
    if (!v.empty()) {
        std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(T));
    }
    return out;
}

py::object colourwords(const std::vector<std::uint32_t> &c) {
    if (c.empty()) {
        return py::none();
    }
    py::array_t<std::uint32_t> out(static_cast<py::ssize_t>(c.size()));
    std::copy(c.begin(), c.end(), out.mutable_data());
    return out;
}

// A mesh from checked arrays: (n, 3) float64 vertices, (m, 3) int64 faces
// within range, colours (m,) uint32 or None.
meshptr frommarrays(py::array_t<double, py::array::c_style> vertices,
                    py::array_t<std::int64_t, py::array::c_style> faces, py::object colours,
                    const std::string &name) {
    auto m = std::make_shared<scene::mesh>();
    const auto n = static_cast<std::size_t>(vertices.shape(0));
    const double *v = vertices.data();
    m->vertices.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        m->vertices[i] = {v[3 * i], v[3 * i + 1], v[3 * i + 2]};
    }
    const auto t = static_cast<std::size_t>(faces.shape(0));
    const std::int64_t *f = faces.data();
    m->triangles.resize(t);
    for (std::size_t i = 0; i < 3 * t; ++i) {
        if (f[i] < 0 || static_cast<std::uint64_t>(f[i]) >= n) {
            throw py::value_error("faces refers to vertex " + std::to_string(f[i]) +
                                  "; there are " + std::to_string(n));
        }
        m->triangles[i / 3][i % 3] = static_cast<std::uint32_t>(f[i]);
    }
    if (!colours.is_none()) {
        const auto c = colours.cast<py::array_t<std::uint32_t, py::array::c_style>>();
        m->trianglecolours.assign(c.data(), c.data() + c.size());
    }
    scene::finish(*m, name);
    return m;
}

// trel.LoadError and meshes from arrays.
void bindmeshes(py::module_ &m) {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const scene::failure &e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
    py::register_exception<loaderror>(m, "LoadError", PyExc_OSError);

    py::class_<scene::mesh, std::shared_ptr<scene::mesh>>(m, "_Mesh")
        .def_property_readonly("vertices",
                               [](const scene::mesh &x) { return copied<double, 3>(x.vertices); })
        .def_property_readonly(
            "faces", [](const scene::mesh &x) { return copied<std::uint32_t, 3>(x.triangles); })
        .def_property_readonly(
            "lines", [](const scene::mesh &x) { return copied<std::uint32_t, 2>(x.lines); })
        .def_property_readonly("points",
                               [](const scene::mesh &x) {
                                   py::array_t<std::uint32_t> out(
                                       static_cast<py::ssize_t>(x.points.size()));
                                   std::copy(x.points.begin(), x.points.end(), out.mutable_data());
                                   return out;
                               })
        .def_property_readonly("colours",
                               [](const scene::mesh &x) { return colourwords(x.trianglecolours); })
        .def_property_readonly("zupfile", [](const scene::mesh &x) { return x.zupfile; });

    m.def("_mesh", &frommarrays, py::arg("vertices"), py::arg("faces"), py::arg("colours"),
          py::arg("name"));
}

// Meshes from files and from bytes, through trel-render's loader.
void bindloading(py::module_ &m) {
    m.def(
        "_load",
        [](const std::string &path, std::uint64_t memorymib, double seconds) {
            std::shared_ptr<scene::mesh> out;
            {
                py::gil_scoped_release release;
                try {
                    out = std::make_shared<scene::mesh>(
                        trel::loader::loadmesh(path, trel::loader::limits{memorymib, seconds}));
                } catch (const scene::failure &e) {
                    throw loaderror(e.what());
                }
            }
            return out;
        },
        py::arg("path"), py::arg("max_memory"), py::arg("timeout"));
    m.def(
        "_loadmemory",
        [](const py::bytes &data, const std::string &hint, const std::string &name) {
            const std::string bytes = data;
            try {
                return std::make_shared<scene::mesh>(trel::loader::loadmemory(
                    {reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()},
                    hint.c_str(), name));
            } catch (const scene::failure &e) {
                throw loaderror(e.what());
            }
        },
        py::arg("data"), py::arg("hint"), py::arg("name"));
}

// Settings, pictures and turntables.
void bindpictures(py::module_ &m) {
    py::class_<settings>(m, "_Settings")
        .def(py::init(&makesettings), py::arg("width"), py::arg("height"), py::arg("view"),
             py::arg("engine"), py::arg("style"), py::arg("colour"), py::arg("background"),
             py::arg("transparent"), py::arg("up"), py::arg("margin"), py::arg("edge_colour"))
        .def_property_readonly(
            "size", [](const settings &s) { return py::make_tuple(s.draw.width, s.draw.height); });
    m.def("_parsesize", [](const std::string &text) {
        int w = 0, h = 0;
        scene::parsesize(text, w, h);
        return py::make_tuple(w, h);
    });

    m.def("_render", [](const meshptr &mesh, const settings &s) {
        return render(mesh, s, output::colour, std::nullopt);
    });
    m.def("_render_png", [](const meshptr &mesh, const settings &s) {
        return render(mesh, s, output::png, std::nullopt);
    });
    m.def("_render_depth", [](const meshptr &mesh, const settings &s,
                              std::optional<std::pair<double, double>> range) {
        if (s.draw.engine != scene::enginekind::engine3d) {
            throw py::value_error("render_depth draws with engine '3d' only");
        }
        return render(mesh, s, output::depth, range);
    });
    py::class_<turn>(m, "_Turntable")
        .def(py::init<meshptr, settings, int>(), py::arg("mesh"), py::arg("settings"),
             py::arg("frames"))
        .def("__len__", &turn::frames)
        .def("frame", &turn::frame, py::arg("k"));
}

// PNG files of arrays, and the names of a batch's pictures.
void bindfiles(py::module_ &m) {
    m.def("_png", [](py::array_t<std::uint8_t, py::array::c_style> pixels) {
        // An array of rows x columns (grey) or rows x columns x 3 or 4.
        scene::image im;
        if (pixels.ndim() < 2 || pixels.ndim() > 3 ||
            (pixels.ndim() == 3 && pixels.shape(2) != 3 && pixels.shape(2) != 4)) {
            throw py::value_error("a picture is rows x columns, or rows x columns x 3 or 4");
        }
        im.height = static_cast<int>(pixels.shape(0));
        im.width = static_cast<int>(pixels.shape(1));
        im.channels = pixels.ndim() == 2 ? 1 : static_cast<int>(pixels.shape(2));
        im.bytes.assign(pixels.data(), pixels.data() + pixels.size());
        return png(im);
    });
    // The pictures trel-render's batch would write the meshes to (paths as
    // bytes of the file system's encoding; empty for the bunny).
    m.def("_batchoutputs", [](const std::vector<std::string> &meshes, const std::string &outdir) {
        std::vector<std::string> outputs;
        {
            py::gil_scoped_release release;
            outputs = trel::encode::batchoutputs(meshes, outdir);
        }
        py::list out;
        for (const std::string &path : outputs) {
            out.append(py::bytes(path));
        }
        return out;
    });
    m.def("_png16", [](py::array_t<std::uint16_t, py::array::c_style> grey) {
        if (grey.ndim() != 2) {
            throw py::value_error("a depth picture is rows x columns");
        }
        scene::image im{
            static_cast<int>(grey.shape(1)), static_cast<int>(grey.shape(0)), 1, 16, {}};
        im.bytes.resize(static_cast<std::size_t>(grey.size()) * 2);
        for (py::ssize_t i = 0; i < grey.size(); ++i) {
            im.bytes[2 * i] = static_cast<std::uint8_t>(grey.data()[i] >> 8);
            im.bytes[2 * i + 1] = static_cast<std::uint8_t>(grey.data()[i]);
        }
        return png(im);
    });
}

} // namespace

void bindscene(py::module_ &m) {
    bindmeshes(m);
    bindloading(m);
    bindpictures(m);
    bindfiles(m);
}

} // namespace trelpy
