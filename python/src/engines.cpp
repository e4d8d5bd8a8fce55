// trel.Engine2D, trel.Engine2DXY and trel.Engine3D: the library's engines over
// numpy blocks, every operation of trel.h, and array forms that draw many
// triangles, lines or dots in one call without the GIL.
#include "engines.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <vector>

#include <trel/trel.h>

namespace py = pybind11;

namespace trelpy {

namespace {

using point3 = std::array<double, 3>;

quim::point topoint(const point3 &p) { return quim::point{p[0], p[1], p[2]}; }

template <class E> struct traits;
template <> struct traits<trel::engine2d> {
    static constexpr const char *name = "Engine2D";
    static constexpr bool depth = false;
    static constexpr bool redlast = false;
};
template <> struct traits<trel::engine2dxy> {
    static constexpr const char *name = "Engine2DXY";
    static constexpr bool depth = false;
    static constexpr bool redlast = false;
};
template <> struct traits<trel::engine3d> {
    static constexpr const char *name = "Engine3D";
    static constexpr bool depth = true;
    // Its triangles and lines hold red in channel 2 (channels 0 and 2
    // exchanged); pictures drawn for it keep every colour that way round.
    static constexpr bool redlast = true;
};

std::string shapetext(const py::array &a) {
    std::ostringstream out;
    out << '(';
    for (py::ssize_t i = 0; i < a.ndim(); ++i) {
        out << (i ? ", " : "") << a.shape(i);
    }
    out << (a.ndim() == 1 ? ",)" : ")");
    return out.str();
}

std::string dtypetext(const py::array &a) { return py::str(a.dtype()).cast<std::string>(); }

// The array `value` names, checked against what `arg` must be: a numpy array
// of `T` with the given shape (-1 for any length), C-contiguous and aligned
// (and writable when asked); an empty shape takes any. Anything else that is not an ndarray is
// converted, as numpy would, when `convert` allows it.
template <class T>
py::array checked(py::handle value, const char *arg, const std::vector<py::ssize_t> &shape,
                  const char *expected, bool writable, bool convert) {
    if (!py::isinstance<py::array>(value)) {
        if (!convert) {
            throw py::type_error(
                std::string(arg) + " must be a numpy.ndarray (" + expected + "), got " +
                py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
        }
        py::array converted = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(
            py::reinterpret_borrow<py::object>(value));
        if (!converted) {
            throw py::type_error(std::string(arg) + " must be " + expected);
        }
        return checked<T>(converted, arg, shape, expected, writable, false);
    }
    py::array a = py::reinterpret_borrow<py::array>(value);
    if (!a.dtype().is(py::dtype::of<T>())) {
        throw py::type_error(std::string(arg) + " must be " + expected + "; its dtype is " +
                             dtypetext(a));
    }
    bool fits = shape.empty() || a.ndim() == static_cast<py::ssize_t>(shape.size());
    for (std::size_t i = 0; fits && i < shape.size(); ++i) {
        fits = shape[i] < 0 || a.shape(static_cast<py::ssize_t>(i)) == shape[i];
    }
    if (!fits) {
        throw py::value_error(std::string(arg) + " must be " + expected + "; its shape is " +
                              shapetext(a));
    }
    const int flags = py::detail::array_proxy(a.ptr())->flags;
    if ((flags & py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_) == 0) {
        throw py::value_error(std::string(arg) +
                              " must be C-contiguous (numpy.ascontiguousarray makes a copy that "
                              "is); its strides are not");
    }
    if ((flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) == 0) {
        throw py::value_error(std::string(arg) + " must be aligned for its dtype");
    }
    if (writable && (flags & py::detail::npy_api::NPY_ARRAY_WRITEABLE_) == 0) {
        throw py::value_error(std::string(arg) + " is read-only; the engine draws into it");
    }
    return a;
}

// One colour for every element, or one uint32 colour each.
struct colours {
    unsigned long one = 0;
    const std::uint32_t *each = nullptr;
    py::object keep;

    unsigned long operator[](std::size_t i) const { return each ? each[i] : one; }
};

colours colourarg(py::handle value, py::ssize_t n) {
    colours c;
    if (py::isinstance<py::int_>(value)) {
        // Only the low 32 bits of a colour count, as in C++.
        c.one = static_cast<unsigned long>(PyLong_AsUnsignedLongLongMask(value.ptr()));
        return c;
    }
    py::array a = checked<std::uint32_t>(value, "colours", {n}, "one int or a (N,) uint32 array",
                                         false, false);
    c.each = static_cast<const std::uint32_t *>(a.data());
    c.keep = a;
    return c;
}

// Each class's origin and reciprocal table are written by construction and
// read by every drawing operation: drawing holds this shared, construction
// alone.
template <class E> std::shared_mutex &classstatics() {
    static std::shared_mutex m;
    return m;
}

template <class E> class pyengine {
  public:
    pyengine(int width, int height, py::object buffer) : columns_(width) {
        if (width < 0 || height < 0 || width > trel::largestside || height > trel::largestside) {
            throw py::value_error(std::string("trel.") + traits<E>::name + " refuses the size " +
                                  std::to_string(width) + "x" + std::to_string(height) +
                                  ": each side must be 0 to " + std::to_string(trel::largestside));
        }
        const py::ssize_t stride = (width + 3) / 4 * 4;
        words_ = stride * height * (traits<E>::depth ? 3 : 2) / 2;
        if (buffer.is_none()) {
            block_ = py::array_t<std::uint32_t>(words_);
            std::memset(block_.mutable_data(), 0, static_cast<std::size_t>(words_) * 4);
        } else {
            std::ostringstream expected;
            expected << "a writable, C-contiguous uint32 array of " << words_ << " words ("
                     << (traits<E>::depth ? "6" : "4") << " bytes a pixel, " << stride
                     << " pixels a row for width " << width << ")";
            block_ =
                checked<std::uint32_t>(buffer, "buffer", {}, expected.str().c_str(), true, false);
            if (block_.size() != words_) {
                throw py::value_error("buffer must be " + expected.str() + "; it holds " +
                                      std::to_string(block_.size()));
            }
        }
        {
            std::unique_lock lock(classstatics<E>());
            engine_ = std::make_unique<E>(width, height, block_.mutable_data());
        }
        if (words_ > 0 && engine_->pixels == nullptr) {
            throw py::value_error(std::string("trel.") + traits<E>::name + " refused the size " +
                                  std::to_string(width) + "x" + std::to_string(height));
        }
    }

    E &engine() { return *engine_; }
    int columns() const { return columns_; }
    std::mutex &drawing() { return drawing_; }

    py::array pixels() {
        return py::array_t<std::uint32_t>(
            {py::ssize_t{engine_->ysize}, py::ssize_t{engine_->xsize}},
            static_cast<std::uint32_t *>(block_.mutable_data()), block_);
    }

    py::object depth() {
        if constexpr (traits<E>::depth) {
            auto *plane = reinterpret_cast<std::int16_t *>(
                static_cast<std::uint32_t *>(block_.mutable_data()) +
                py::ssize_t{engine_->xsize} * engine_->ysize);
            return py::array_t<std::int16_t>(
                {py::ssize_t{engine_->ysize}, py::ssize_t{engine_->xsize}}, plane, block_);
        } else {
            return py::none();
        }
    }

    // Rows x requested columns x 4 bytes, red first. Alpha is the fourth byte
    // of the word inverted: 255 for words whose fourth byte is 0 (every
    // shaded face, engine3d's lines, colours given with it 0), 0 where a clear
    // with fourth byte 0xFF has not been drawn over.
    py::array torgba() {
        const py::ssize_t rows = engine_->ysize;
        const py::ssize_t cols = engine_->ysize > 0 ? columns_ : 0;
        py::array_t<std::uint8_t> out({rows, cols, py::ssize_t{4}});
        std::uint8_t *o = out.mutable_data();
        const auto *words = static_cast<const std::uint32_t *>(block_.data());
        {
            py::gil_scoped_release release;
            std::lock_guard lock(drawing_);
            for (py::ssize_t y = 0; y < rows; ++y) {
                const std::uint32_t *row = words + y * engine_->xsize;
                for (py::ssize_t x = 0; x < cols; ++x, o += 4) {
                    const std::uint32_t w = row[x];
                    const std::uint8_t c0 = static_cast<std::uint8_t>(w);
                    const std::uint8_t c2 = static_cast<std::uint8_t>(w >> 16);
                    o[0] = traits<E>::redlast ? c2 : c0;
                    o[1] = static_cast<std::uint8_t>(w >> 8);
                    o[2] = traits<E>::redlast ? c0 : c2;
                    o[3] = static_cast<std::uint8_t>(~(w >> 24));
                }
            }
        }
        return out;
    }

  private:
    py::array block_; // the words drawn into: the caller's array or one of ours
    py::ssize_t words_ = 0;
    std::unique_ptr<E> engine_;
    int columns_;
    std::mutex drawing_; // one drawing call at a time on this engine
};

// Runs `draw` on the engine under the class's shared lock and the engine's own.
template <class E, class F> void drawing(pyengine<E> &pe, F &&draw) {
    std::shared_lock statics(classstatics<E>());
    std::lock_guard lock(pe.drawing());
    draw(pe.engine());
}

template <class E, class F> void drawingreleased(pyengine<E> &pe, F &&draw) {
    py::gil_scoped_release release;
    drawing(pe, std::forward<F>(draw));
}

// The block: construction, the views of the pixels and depth, the sizes.
template <class E> py::class_<pyengine<E>> bindblock(py::module_ &m, const char *doc) {
    using P = pyengine<E>;
    return py::class_<P>(m, traits<E>::name, doc)
        .def(py::init<int, int, py::object>(), py::arg("width"), py::arg("height"),
             py::arg("buffer") = py::none(),
             "An engine of width x height pixels over `buffer` (a writable, C-contiguous "
             "uint32 array of the block's size, kept alive by the engine) or over a zeroed "
             "block of its own. Constructing it moves the class's origin for every engine "
             "of the class.")
        .def_property_readonly("pixels", &P::pixels,
                               "The colour plane: height() x width() uint32, no copy.")
        .def_property_readonly("depth", &P::depth,
                               "The depth plane, height() x width() int16 (no copy), or None "
                               "for engines without one.")
        .def("to_rgba", &P::torgba,
             "The picture as rows x columns x 4 uint8, red, green, blue, alpha.")
        .def_property_readonly("columns", &P::columns, "The width asked for.")
        .def(
            "width", [](P &p) { return p.engine().width(); }, "The stride: width rounded up to 4.")
        .def("height", [](P &p) { return p.engine().height(); })
        .def(
            "has_depth", [](P &p) { return p.engine().depth(); },
            "Whether the engine keeps a depth plane (trel.h's depth()).");
}

// The operations of trel.h that clear, dot and draw lines, one call each.
template <class E> void bindoperations(py::class_<pyengine<E>> &c) {
    using P = pyengine<E>;
    c.def(
         "clear",
         [](P &p, unsigned long colour) { drawingreleased(p, [&](E &e) { e.clear(colour); }); },
         py::arg("colour"))
        .def("begin", [](P &p) { drawing(p, [](E &e) { e.begin(); }); })
        .def("end", [](P &p) { drawing(p, [](E &e) { e.end(); }); })
        .def(
            "dot",
            [](P &p, const point3 &a, unsigned long colour) {
                drawing(p, [&](E &e) { e.dot(topoint(a), colour); });
            },
            py::arg("p"), py::arg("colour"))
        .def(
            "line",
            [](P &p, const point3 &a, const point3 &b, unsigned long colour) {
                drawing(p, [&](E &e) { e.line(topoint(a), topoint(b), colour); });
            },
            py::arg("a"), py::arg("b"), py::arg("colour"), "One segment from a to b.")
        .def(
            "line",
            [](P &p, py::handle pts, unsigned long colour) {
                py::array a =
                    checked<double>(pts, "pts", {-1, 3}, "a (n, 3) float64 array", false, true);
                const auto *q = static_cast<const quim::point *>(a.data());
                const auto n = static_cast<int>(std::min<py::ssize_t>(a.shape(0), INT32_MAX));
                static_assert(sizeof(quim::point) == 3 * sizeof(double));
                drawingreleased(p, [&](E &e) { e.line(q, n, colour); });
            },
            py::arg("pts"), py::arg("colour"),
            "The polyline through the rows of pts, (n, 3) float64.");
}

// The triangle operations, and the reserved forms that draw nothing.
template <class E> void bindtriangles(py::class_<pyengine<E>> &c) {
    using P = pyengine<E>;
    c.def(
         "tri",
         [](P &p, const point3 &a, const point3 &b, const point3 &c, unsigned long colour) {
             drawing(p, [&](E &e) { e.tri(topoint(a), topoint(b), topoint(c), colour); });
         },
         py::arg("a"), py::arg("b"), py::arg("c"), py::arg("colour"), "One filled triangle.")
        .def(
            "tri",
            [](P &p, const point3 &a, const point3 &b, py::handle pts, unsigned long colour) {
                py::array q =
                    checked<double>(pts, "pts", {-1, 3}, "a (n, 3) float64 array", false, true);
                const auto n = static_cast<int>(std::min<py::ssize_t>(q.shape(0), INT32_MAX));
                drawing(p, [&](E &e) {
                    e.tri(topoint(a), topoint(b), static_cast<const quim::point *>(q.data()), n,
                          colour);
                });
            },
            py::arg("a"), py::arg("b"), py::arg("pts"), py::arg("colour"),
            "Reserved form: draws nothing.")
        .def(
            "tri",
            [](P &p, const point3 &a, py::handle pts, unsigned long colour) {
                py::array q =
                    checked<double>(pts, "pts", {-1, 3}, "a (n, 3) float64 array", false, true);
                const auto n = static_cast<int>(std::min<py::ssize_t>(q.shape(0), INT32_MAX));
                drawing(p, [&](E &e) {
                    e.tri(topoint(a), static_cast<const quim::point *>(q.data()), n, colour);
                });
            },
            py::arg("a"), py::arg("pts"), py::arg("colour"), "Reserved form: draws nothing.")
        .def(
            "text",
            [](P &p, const point3 &a, std::optional<std::string> s, unsigned long colour) {
                drawing(p, [&](E &e) { e.text(topoint(a), s ? s->c_str() : nullptr, colour); });
            },
            py::arg("p"), py::arg("s"), py::arg("colour"), "Reserved: draws nothing.");
}

// Many triangles, segments or dots in one call, without the GIL.
template <class E> void bindarraycalls(py::class_<pyengine<E>> &c) {
    using P = pyengine<E>;
    c.def(
         "triangles",
         [](P &p, py::handle corners, py::handle colour) {
             py::array c = checked<double>(corners, "corners", {-1, 3, 3},
                                           "an (N, 3, 3) float64 array", false, true);
             const colours col = colourarg(colour, c.shape(0));
             const auto *q = static_cast<const quim::point *>(c.data());
             const auto n = static_cast<std::size_t>(c.shape(0));
             drawingreleased(p, [&](E &e) {
                 for (std::size_t i = 0; i < n; ++i, q += 3) {
                     e.tri(q[0], q[1], q[2], col[i]);
                 }
             });
         },
         py::arg("corners"), py::arg("colours"),
         "N triangles, (N, 3, 3) float64 corners, in order; one colour or (N,) uint32.")
        .def(
            "lines",
            [](P &p, py::handle ends, py::handle colour) {
                py::array c = checked<double>(ends, "ends", {-1, 2, 3},
                                              "an (N, 2, 3) float64 array", false, true);
                const colours col = colourarg(colour, c.shape(0));
                const auto *q = static_cast<const quim::point *>(c.data());
                const auto n = static_cast<std::size_t>(c.shape(0));
                drawingreleased(p, [&](E &e) {
                    for (std::size_t i = 0; i < n; ++i, q += 2) {
                        e.line(q[0], q[1], col[i]);
                    }
                });
            },
            py::arg("ends"), py::arg("colours"),
            "N segments, (N, 2, 3) float64 ends, in order; one colour or (N,) uint32.")
        .def(
            "dots",
            [](P &p, py::handle points, py::handle colour) {
                py::array c = checked<double>(points, "points", {-1, 3}, "an (N, 3) float64 array",
                                              false, true);
                const colours col = colourarg(colour, c.shape(0));
                const auto *q = static_cast<const quim::point *>(c.data());
                const auto n = static_cast<std::size_t>(c.shape(0));
                drawingreleased(p, [&](E &e) {
                    for (std::size_t i = 0; i < n; ++i) {
                        e.dot(q[i], col[i]);
                    }
                });
            },
            py::arg("points"), py::arg("colours"),
            "N dots, (N, 3) float64 points; one colour or (N,) uint32.");
}

template <class E> void bindengine(py::module_ &m, const char *doc) {
    py::class_<pyengine<E>> c = bindblock<E>(m, doc);
    bindoperations<E>(c);
    bindtriangles<E>(c);
    bindarraycalls<E>(c);
    c.def_property_readonly_static(
        "origin",
        [](py::object) {
            std::shared_lock lock(classstatics<E>());
            return py::make_tuple(E::orgx, E::orgy);
        },
        "The class's screen position of the world origin (orgx, orgy), set by the newest "
        "engine of the class.");
}

} // namespace

std::shared_mutex &statics(enginekind kind) {
    switch (kind) {
    case enginekind::engine2d:
        return classstatics<trel::engine2d>();
    case enginekind::engine2dxy:
        return classstatics<trel::engine2dxy>();
    case enginekind::engine3d:
        break;
    }
    return classstatics<trel::engine3d>();
}

void bindengines(py::module_ &m) {
    bindengine<trel::engine2d>(
        m, "The X-Z plane (x right, z up), no depth; triangles shaded against a fixed light.");
    bindengine<trel::engine2dxy>(
        m, "The X-Y plane (x right, y up), no depth; triangles in the caller's colour.");
    bindengine<trel::engine3d>(
        m, "The X-Z plane with world y as depth (smaller is nearer); shaded, depth-tested "
           "triangles. Its triangles and lines store red in channel 2.");
}

} // namespace trelpy
