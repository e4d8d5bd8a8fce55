// The geometry library's own arc cosine: the double nearest the true value,
// computed with integer arithmetic only, so that every platform gets the same
// bits whatever its C library's acos does.
#ifndef QUIM_GEOM_ARCCOS_H
#define QUIM_GEOM_ARCCOS_H

namespace quim::detail {

// acos(x) in radians, rounded to the nearest double, for every double x in
// [-1, 1]; NaN for NaN and for arguments outside [-1, 1].
double arccos(double x);

// One attempt at a working precision of `limbs` 32-bit words (2 or more):
// returns true and stores the correctly rounded acos(x) in `result` when the
// error bound at that precision decides the rounding, false otherwise.
// arccos tries 3 words first and falls back to 8 and 16; other counts are
// taken as 2 to 16.
bool arccosat(double x, int limbs, double &result);

} // namespace quim::detail

#endif
