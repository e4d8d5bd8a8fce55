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
// as unsigned long; only their low 32 bits count.
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

namespace trel {

// Writes 0, 9 and 1 into the arguments and returns "0.9.1" from a buffer owned
// by the library; every call rewrites the same buffer.
TREL_API const char *version(int &major, int &minor, int &patch);
TREL_API const char *version();

// The interface every engine is driven through. The order of the virtual
// operations is the calling interface hosts are built against: never reorder.
// Engines are destroyed through their own class, never through this one.
class TREL_API engine {
  public:
    engine() noexcept;
    engine(const engine &) noexcept;
    engine &operator=(const engine &) noexcept;

    virtual int width() = 0;
    virtual int height() = 0;
    virtual bool depth() = 0;
    virtual void clear(unsigned long colour) = 0;
    virtual void begin();
    virtual void end();
    virtual void dot(const quim::point &p, unsigned long colour) = 0;
    virtual void line(const quim::point *pts, int n, unsigned long colour) = 0;
    virtual void line(const quim::point &a, const quim::point &b, unsigned long colour) = 0;
    virtual void tri(const quim::point &a, const quim::point &b, const quim::point *pts, int n,
                     unsigned long colour) = 0;
    virtual void tri(const quim::point &a, const quim::point *pts, int n, unsigned long colour) = 0;
    virtual void tri(const quim::point &a, const quim::point &b, const quim::point &c,
                     unsigned long colour) = 0;
    virtual void text(const quim::point &p, const char *s, unsigned long colour) = 0;

  protected:
    // Not virtual: deleting an engine through this class is not supported.
    ~engine() = default;
};

// Per-class state shared by every engine of one class: the screen position of
// the world origin (moved by each construction to suit the newest engine) and
// the reciprocal table (entry i = 65536 / i) that replaces division when
// stepping. Hosts may read them; only construction writes them.
#define TREL_ENGINE_STATICS                                                                        \
    static int orgx;                                                                               \
    static int orgy;                                                                               \
    static int rcptab[4096];                                                                       \
    static int rcpcount

// X-Z plane, no depth; triangles flat-shaded against a fixed light.
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

    // Draws into `buffer` (4 * width() * height() bytes) when it is not null,
    // else into a block of its own. Sizes beyond 4096 or below 0 leave the
    // engine empty: width() and height() 0, nothing drawn.
    engine2d(int width, int height, void *buffer);
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

// X-Y plane, no depth; triangles filled with the caller's colour.
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
// lines are depth-tested. A borrowed block holds 6 * width() * height() bytes.
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

#endif
