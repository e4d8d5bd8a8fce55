// trel: a small, exact software rasterizer.
//
// A host creates one of three raster engines over a block of 32-bit pixels (its
// own, or one the engine allocates) and draws into it in world coordinates, one
// world unit per pixel:
//   engine2d    shows the X-Z plane (X right, Z up), shades its triangles;
//   engine2dxy  shows the X-Y plane (X right, Y up), fills triangles unshaded;
//   engine3d    shows the X-Z plane with world Y as depth in a 16-bit depth
//               plane kept after the pixels (6 bytes per pixel in all).
// Pixel words are row-major with a stride of width() words. Colours are passed
// as unsigned long; only their low 32 bits count. docs/api.md says the same at
// length.
//
// Colour words. Channel 0 is bits 0-7, channel 1 bits 8-15, channel 2 bits
// 16-23, and bits 24-31 are a fourth byte. clear, dot (every engine, engine3d
// included), the lines of engine2d and engine2dxy and the triangles of
// engine2dxy store the colour unchanged, all 32 bits. The triangles of
// engine2d store it shaded; those of engine3d shaded with channels 0 and 2
// exchanged; the lines of engine3d with channels 0 and 2 exchanged. Shading
// and the exchange set the fourth byte to 0.
//
// Threads. The library starts no threads and takes no locks. Drawing on
// separate engines from several threads is safe once they are constructed:
// drawing reads the class's origin and table and writes only its own block.
// Constructing an engine writes its class's statics, so it must not overlap
// drawing on an engine of the same class; engines that share a block (copies)
// draw into one picture; version() rewrites one buffer.
//
// A shaded triangle's intensity is 180 minus the whole degrees between its
// plane's normal and the light (1, 1, -1). It is the same on every platform:
// the angle comes from the geometry library's own arc cosine, correctly
// rounded and computed with integer arithmetic, and from a table of cosines
// written out as exact constants, never from the C library's acos or cos,
// whose last bits differ between platforms and would move a face lying
// within rounding of a whole degree to the next intensity.
#ifndef TREL_TREL_H
#define TREL_TREL_H

#include <cstdint>

#include <quim/quim.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(TREL_STATIC)
#define TREL_API
#elif defined(TREL_BUILDING)
#define TREL_API __declspec(dllexport)
#else
#define TREL_API __declspec(dllimport)
#endif
#else
#define TREL_API __attribute__((visibility("default")))
#endif

// The engines have virtual operations and non-virtual destructors (see
// engine below), which -Wnon-virtual-dtor reports in every file that includes
// this header. Hosts built with that warning as an error can include it all
// the same: the warning is off for these declarations only.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace trel {

// Writes 0, 9 and 1 into the arguments and returns "0.9.1" from a buffer owned
// by the library; every call rewrites the same buffer (not safe to call from
// two threads at once).
TREL_API const char *version(int &major, int &minor, int &patch);
TREL_API const char *version();

// The largest width() (the stride) and height an engine accepts; a larger
// size leaves the engine empty. Also the number of entries in each class's
// reciprocal table.
constexpr int largestside = 4096;

// The depth clear writes into every word of engine3d's depth plane (0x8300).
// Only a strictly greater depth is drawn over it, so after a clear a depth
// word above fardepth was written by a triangle or a line.
constexpr std::int16_t fardepth = -32000;

// How many depth units engine3d draws a line behind a face at the same world
// y: a line point's depth is -linedepthoffset - trunc(y).
constexpr int linedepthoffset = 10;

// The interface every engine is driven through. The order of the virtual
// operations is the calling interface hosts are built against: never reorder.
// Engines are destroyed through their own class, never through this one.
class TREL_API engine {
  public:
    engine() noexcept;
    engine(const engine &) noexcept;
    engine &operator=(const engine &) noexcept;

    // The stride (the width rounded up to a multiple of 4), the height, and
    // whether the engine keeps a depth plane.
    virtual int width() = 0;
    virtual int height() = 0;
    virtual bool depth() = 0;
    // Every word of the colour plane, padding columns included, becomes the
    // colour unchanged; engine3d then sets every depth word to fardepth.
    virtual void clear(unsigned long colour) = 0;
    // Draw nothing, in every engine.
    virtual void begin();
    virtual void end();
    // The one pixel p projects to, when it lies inside the picture; the colour
    // unchanged. No depth test and no depth written, in engine3d too.
    virtual void dot(const quim::point &p, unsigned long colour) = 0;
    // The polyline: n - 1 segments pts[i] to pts[i + 1], each drawn through
    // the engine's own two-point line (depth-tested in engine3d, each segment
    // against what the earlier ones wrote). Nothing for n <= 1 or a null
    // array; the last point is not joined back to the first.
    virtual void line(const quim::point *pts, int n, unsigned long colour) = 0;
    // One segment, clipped to the picture, one pixel per column (per row when
    // steeper than 45 degrees; a 45-degree line steps along x).
    virtual void line(const quim::point &a, const quim::point &b, unsigned long colour) = 0;
    // Reserved forms: they draw nothing, in every engine, for any arguments
    // (a null array included).
    virtual void tri(const quim::point &a, const quim::point &b, const quim::point *pts, int n,
                     unsigned long colour) = 0;
    virtual void tri(const quim::point &a, const quim::point *pts, int n, unsigned long colour) = 0;
    // One filled triangle, clipped to the picture. engine2d and engine3d shade
    // it once from the face normal N = (b - a) x (c - a) and the fixed light
    // L = (1, 1, -1): intensity I = 180 - trunc(angle(N, L) in degrees), each
    // channel c becomes c * I / 180. A face flat in the picture is brighter
    // (I = 126) with its corners clockwise on the screen than counter-
    // clockwise (I = 55). A degenerate triangle is shaded at I = 180.
    virtual void tri(const quim::point &a, const quim::point &b, const quim::point &c,
                     unsigned long colour) = 0;
    // Reserved: draws nothing, in every engine (a null string included).
    virtual void text(const quim::point &p, const char *s, unsigned long colour) = 0;

  protected:
    // Not virtual: deleting an engine through this class is not supported.
    ~engine() = default;
};

// Per-class state shared by every engine of one class: the screen position of
// the world origin and the reciprocal table (entry i = 65536 / i) that
// replaces division when stepping. Every construction that succeeds (a size
// that is not refused, a block that could be allocated) moves its class's
// origin to suit the newest engine: orgx = width() / 2, orgy = height() / 2
// (minus 20 for engine2d), and every engine of the class, older ones
// included, maps points through it from then on. Copying and destroying
// engines move nothing; the three classes' statics are separate.
// Hosts may read them; only construction writes them.
#define TREL_ENGINE_STATICS                                                                        \
    static int orgx;                                                                               \
    static int orgy;                                                                               \
    static int rcptab[largestside];                                                                \
    static int rcpcount

// X-Z plane, no depth; triangles flat-shaded against a fixed light. A point
// (x, y, z) lands on column orgx + trunc(x), row orgy - trunc(z), truncating
// toward zero; y is not shown. The origin is 20 rows above the middle of the
// picture.
class TREL_API engine2d : public engine {
  public:
    bool extbuf = false;             // the block is the caller's and is never freed
    std::uint32_t *pixels = nullptr; // colour plane, xsize * ysize words
    int *rcp = nullptr;              // this class's reciprocal table
    int npixels = 0;
    int xsize = 0; // width rounded up to a multiple of 4, also the row stride
    int ysize = 0;
    int bpp = 32;

    TREL_ENGINE_STATICS;

    // Draws into `buffer` (4 * width() * height() bytes, with the stride
    // width(), not the requested width) when it is not null, else into a
    // block of its own, uninitialised until clear. A borrowed block is never
    // freed. Sizes beyond largestside or below 0 leave the engine empty:
    // width() and height() 0, nothing drawn.
    engine2d(int width, int height, void *buffer);
    // Copies share the block: both engines draw into the same pixels. A block
    // the engine allocated is freed when the last engine sharing it goes.
    engine2d(const engine2d &other) noexcept;
    engine2d &operator=(const engine2d &other) noexcept;
    ~engine2d();

    int width() override;
    int height() override;
    bool depth() override;
    void clear(unsigned long colour) override;
    void dot(const quim::point &p, unsigned long colour) override;
    void line(const quim::point *pts, int n, unsigned long colour) override;
    void line(const quim::point &a, const quim::point &b, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point *pts, int n,
             unsigned long colour) override;
    void tri(const quim::point &a, const quim::point *pts, int n, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point &c,
             unsigned long colour) override;
    void text(const quim::point &p, const char *s, unsigned long colour) override;
};

// X-Y plane, no depth; triangles filled with the caller's colour, unshaded. A
// point (x, y, z) lands on column orgx + trunc(x), row orgy - trunc(y); z is
// not shown. The origin is the middle of the picture. Blocks and copies as
// for engine2d.
class TREL_API engine2dxy : public engine {
  public:
    bool extbuf = false;
    std::uint32_t *pixels = nullptr;
    int *rcp = nullptr;
    int npixels = 0;
    int xsize = 0;
    int ysize = 0;
    int bpp = 32;

    TREL_ENGINE_STATICS;

    engine2dxy(int width, int height, void *buffer);
    engine2dxy(const engine2dxy &other) noexcept;
    engine2dxy &operator=(const engine2dxy &other) noexcept;
    ~engine2dxy();

    int width() override;
    int height() override;
    bool depth() override;
    void clear(unsigned long colour) override;
    void dot(const quim::point &p, unsigned long colour) override;
    void line(const quim::point *pts, int n, unsigned long colour) override;
    void line(const quim::point &a, const quim::point &b, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point *pts, int n,
             unsigned long colour) override;
    void tri(const quim::point &a, const quim::point *pts, int n, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point &c,
             unsigned long colour) override;
    void text(const quim::point &p, const char *s, unsigned long colour) override;

  private:
    friend struct cutpointsaccess; // lets the library's own tests reach the clipper

    // Projects a and b and clips them against the picture, writing the
    // endpoints that start inside (when flagged) and then every crossing it
    // computes, inside the picture or not. Returns the number written, 0 to 4.
    int cutpoints(int *xs, int *ys, const quim::point &a, const quim::point &b, bool wanta,
                  bool wantb);
    // The same, also carrying trunc(z) along as an interpolated attribute.
    int cutpoints(int *xs, int *ys, int *zs, const quim::point &a, const quim::point &b, bool wanta,
                  bool wantb);
};

// X-Z plane with world Y as depth (smaller y is nearer); shaded triangles and
// lines are depth-tested. A borrowed block holds 6 * width() * height() bytes:
// the colour plane, then the depth plane. The origin is the middle of the
// picture; copies share the block as for engine2d.
//
// Depth words are signed 16-bit, larger is nearer. clear writes fardepth. A
// triangle corner's depth is -trunc(y), a line point's -10 - trunc(y), so a
// line lies 10 units behind a face at the same y. A pixel is written only
// where the new depth is strictly greater: at equal depth the first drawn
// stays. Dots ignore depth. Depths wrap beyond 16 bits: keep trunc(y) within
// -32767 ... 31999 for faces (-32777 ... 31989 for lines) to be drawn over a
// cleared plane.
class TREL_API engine3d : public engine {
  public:
    bool extbuf = false;
    std::uint32_t *pixels = nullptr;
    std::int16_t *zbuf = nullptr; // depth plane, directly after the colour plane
    int *rcp = nullptr;
    int npixels = 0;
    int xsize = 0;
    int ysize = 0;
    int bpp = 32;

    TREL_ENGINE_STATICS;

    engine3d(int width, int height, void *buffer);
    engine3d(const engine3d &other) noexcept;
    engine3d &operator=(const engine3d &other) noexcept;
    ~engine3d();

    int width() override;
    int height() override;
    bool depth() override;
    void clear(unsigned long colour) override;
    void dot(const quim::point &p, unsigned long colour) override;
    void line(const quim::point *pts, int n, unsigned long colour) override;
    void line(const quim::point &a, const quim::point &b, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point *pts, int n,
             unsigned long colour) override;
    void tri(const quim::point &a, const quim::point *pts, int n, unsigned long colour) override;
    void tri(const quim::point &a, const quim::point &b, const quim::point &c,
             unsigned long colour) override;
    void text(const quim::point &p, const char *s, unsigned long colour) override;
};

#undef TREL_ENGINE_STATICS

} // namespace trel

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
