// quim: the small geometry library the trel renderer takes its point, vector and
// plane types from. Every operation is written out in a fixed evaluation order so
// that shading comes out identical on every platform that uses IEEE doubles.
#ifndef QUIM_QUIM_H
#define QUIM_QUIM_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(QUIM_STATIC)
#define QUIM_API
#elif defined(QUIM_BUILDING)
#define QUIM_API __declspec(dllexport)
#else
#define QUIM_API __declspec(dllimport)
#endif
#else
#define QUIM_API __attribute__((visibility("default")))
#endif

namespace quim {

// A position in world units.
struct point {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

class QUIM_API vector {
  public:
    double x;
    double y;
    double z;

    // A vector in the x-y plane (z = 0).
    vector(const double &x, const double &y);
    vector(const double &x, const double &y, const double &z);

    // Angle to `ref` in degrees, 0 to 180, without sign.
    double sangle(const vector &ref) const;
    // Angle to `other` in degrees, 0 to 180. A zero vector gives NaN.
    double angle(const vector &other) const;
    // Scales the vector to unit length in place (a zero vector becomes NaN).
    void normalize();
};

class QUIM_API plane {
  public:
    point base;    // the first of the three points the plane was built from
    vector normal; // (b - a) x (c - a), of unit length when built with unit = true

    plane(const point &a, const point &b, const point &c, bool unit);
};

} // namespace quim

#endif
