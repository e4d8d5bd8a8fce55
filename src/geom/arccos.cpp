// A correctly rounded arc cosine from integer arithmetic.
//
// acos(x) is evaluated in binary fixed point on arrays of 32-bit words with a
// bound on its error, and rounded to a double only when every value within
// the bound rounds to the same double. Otherwise the evaluation is repeated
// with more words. Only integer operations are used (and the exact double
// operations 1 - x, 1 + x and halving), so the result is the same on every
// platform and compiler.
//
// The series. With S(z) = asin(sqrt z) / sqrt z = sum a_n z^n,
// a_n = (2n)! / (4^n (n!)^2 (2n + 1)), 0 < a_n <= 1:
//   |x| <= 1/2:  acos(x) = pi/2 - x S(x^2)
//   x > 1/2:     acos(x) = 2 sqrt(z) S(z),       z = (1 - x) / 2
//   x < -1/2:    acos(x) = pi - 2 sqrt(z) S(z),  z = (1 + x) / 2
// so z <= 1/4 always, each term gains at least two bits, and S(z) lies in
// [1, pi/3]. pi itself is 3 S(1/4), from the same series.
//
// Fixed point. A number of n words has f = 32n - 4 fraction bits (values
// below 16); "an ulp" below is 2^-f. Every product is truncated (floored),
// which errs by less than an ulp.
//
// Error bounds, in ulps:
// - Coefficients: t_0 = 1, t_(k+1) = t_k (2k + 1) / (2k + 2) floored errs by
//   at most k after k steps; a_k = t_k / (2k + 1) floored then errs by less
//   than k / (2k + 1) + 1 < 1.5.
// - Horner, S_k = a_k + z S_(k+1) over as many terms as z calls for (at most
//   f/2 + 1; see series): each step adds at
//   most (a truncated product) 1 + (a coefficient) 1.5 + (z itself
//   truncated, times S_(k+1) <= 4/3) 4/3, and shrinks the error before it by
//   z <= 1/4: at most 3.84 / (3/4) < 5.2 in all. The terms left out add
//   less than an ulp: |S~ - S| < 6.2.
// - pi/2 = 3 S(1/4) / 2 (z exact): S~ errs by < (1 + 1.5) / (3/4) + 1 < 4.4,
//   so pi/2~ by < 3 * 4.4 / 2 + 1 < 7.7.
// - |x| <= 1/2: x S~ floored errs by < 6.2 / 2 + 1; with pi/2~, < 11.8.
//   Bound used: 16.
// - x > 1/2: Q = sqrt(z) scaled to [1/2, 1) errs by < 1 + 1/8 (see
//   seededroot; < 1 digit by digit), and R = floor(Q S~) by
//   < 1.125 * 1.05 + 1 * 6.2 + 1 < 8.4 in its own ulps. Bound used: 16.
// - x < -1/2: R scaled down (by 2^(28 - j) <= 2) errs by < 2 * 8.4 + 1, and
//   with 2 pi/2~ by < 17.8 + 15.4 = 33.2. Bound used: 64.
#include "geom/arccos.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quim::detail {
namespace {

using word = std::uint32_t;
using wide = std::uint64_t;

// A double's bits and back (memcpy rather than std::bit_cast, which not
// every standard library the project builds with has).
wide bitsof(double d) {
    wide b = 0;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double frombits(wide b) {
    double d = 0.0;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

// Fraction bits and series terms at a precision of n words.
constexpr int fraction(int n) { return 32 * n - 4; }
constexpr int terms(int n) { return fraction(n) / 2 + 1; }

// Numbers are arrays of words, least significant first.

constexpr void zero(word *a, int n) {
    for (int i = 0; i < n; ++i) {
        a[i] = 0;
    }
}

constexpr void copy(word *to, const word *from, int n) {
    for (int i = 0; i < n; ++i) {
        to[i] = from[i];
    }
}

// a += b; the carry out is dropped (callers keep values in range).
constexpr void add(word *a, const word *b, int n) {
    wide carry = 0;
    for (int i = 0; i < n; ++i) {
        carry += static_cast<wide>(a[i]) + b[i];
        a[i] = static_cast<word>(carry);
        carry >>= 32;
    }
}

// a -= b for a >= b.
constexpr void subtract(word *a, const word *b, int n) {
    wide borrow = 0;
    for (int i = 0; i < n; ++i) {
        const wide d = static_cast<wide>(a[i]) - b[i] - borrow;
        a[i] = static_cast<word>(d);
        borrow = (d >> 32) != 0 ? 1 : 0;
    }
}

// a += v or a -= v for a small v (a - v >= 0).
constexpr void addsmall(word *a, int n, word v) {
    wide carry = v;
    for (int i = 0; i < n && carry != 0; ++i) {
        carry += a[i];
        a[i] = static_cast<word>(carry);
        carry >>= 32;
    }
}

constexpr void subtractsmall(word *a, int n, word v) {
    wide borrow = v;
    for (int i = 0; i < n && borrow != 0; ++i) {
        const wide d = static_cast<wide>(a[i]) - borrow;
        a[i] = static_cast<word>(d);
        borrow = (d >> 32) != 0 ? 1 : 0;
    }
}

// a *= v; the carry out is dropped.
constexpr void multiplysmall(word *a, int n, word v) {
    wide carry = 0;
    for (int i = 0; i < n; ++i) {
        carry += static_cast<wide>(a[i]) * v;
        a[i] = static_cast<word>(carry);
        carry >>= 32;
    }
}

// a = floor(a / v).
constexpr void dividesmall(word *a, int n, word v) {
    wide rest = 0;
    for (int i = n - 1; i >= 0; --i) {
        rest = (rest << 32) | a[i];
        a[i] = static_cast<word>(rest / v);
        rest %= v;
    }
}

// p (na + nb words) = a * b.
constexpr void multiply(word *p, const word *a, int na, const word *b, int nb) {
    zero(p, na + nb);
    for (int i = 0; i < na; ++i) {
        wide carry = 0;
        for (int j = 0; j < nb; ++j) {
            carry += static_cast<wide>(a[i]) * b[j] + p[i + j];
            p[i + j] = static_cast<word>(carry);
            carry >>= 32;
        }
        p[i + nb] = static_cast<word>(carry);
    }
}

// The 32 bits of a (n words) from bit `at` up; bits outside a are 0.
constexpr word bitsat(const word *a, int n, int at) {
    const int q = at >= 0 ? at / 32 : -((-at + 31) / 32);
    const int r = at - 32 * q;
    const word lo = (q >= 0 && q < n) ? a[q] : 0;
    const word hi = (q + 1 >= 0 && q + 1 < n) ? a[q + 1] : 0;
    return r == 0 ? lo : static_cast<word>((lo >> r) | (static_cast<wide>(hi) << (32 - r)));
}

// out (n words) = floor(in * 2^shift), the words above n dropped.
constexpr void place(word *out, int n, const word *in, int nin, int shift) {
    for (int k = 0; k < n; ++k) {
        out[k] = bitsat(in, nin, 32 * k - shift);
    }
}

// Fixed point: out = floor(a * b) for n-word numbers; p holds 2n words.
constexpr void multiplyfixed(word *out, const word *a, const word *b, int n, word *p) {
    multiply(p, a, n, b, n);
    for (int k = 0; k < n; ++k) {
        out[k] = static_cast<word>((p[n - 1 + k] >> 28) | (static_cast<wide>(p[n + k]) << 4));
    }
}

// -1, 0 or 1 as a < b, a = b or a > b.
constexpr int compare(const word *a, const word *b, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

// The index of a's highest set bit, -1 for zero.
constexpr int topbit(const word *a, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (a[i] != 0) {
            return 32 * i + 31 - std::countl_zero(a[i]);
        }
    }
    return -1;
}

// s = S(z) by Horner's rule over the coefficients c (terms(n) rows of n
// words); p holds 2n words. With z < 2^-b the terms from K on add less than
// z^K / (1 - z) < 2^(1 - bK), under an ulp once bK >= f + 1; b >= 2 always.
constexpr void series(word *s, const word *z, const word *c, int n, word *p) {
    int last = terms(n) - 1;
    const int b = fraction(n) - 1 - topbit(z, n); // z < 2^-b
    if (b > 2) {
        const int count = (fraction(n) + b) / b; // ceil((f + 1) / b)
        last = count - 1 < last ? count - 1 : last;
    }
    copy(s, c + last * n, n);
    for (int k = last - 1; k >= 0; --k) {
        multiplyfixed(s, s, z, n, p);
        add(s, c + k * n, n);
    }
}

// The coefficients a_k at n words into c; t holds n + 1 words.
constexpr void coefficients(word *c, int n, word *t) {
    zero(t, n + 1);
    t[n - 1] = word{1} << 28; // 1.0
    for (int k = 0; k < terms(n); ++k) {
        const auto odd = static_cast<word>(2 * k + 1);
        copy(c + k * n, t, n);
        dividesmall(c + k * n, n, odd);
        multiplysmall(t, n + 1, odd);
        dividesmall(t, n + 1, odd + 1);
    }
}

// pi/2 = 3 S(1/4) / 2 at n words; s and z hold n words, p 2n.
constexpr void halfpi(word *h, const word *c, int n, word *z, word *p) {
    zero(z, n);
    z[n - 1] = word{1} << 26; // 1/4
    series(h, z, c, n, p);
    multiplysmall(h, n, 3);
    dividesmall(h, n, 2);
}

// The tables of one precision, built by the compiler for the precisions
// every call tries first.
template <int N> struct tables {
    std::array<word, static_cast<std::size_t>(terms(N) * N)> c{};
    std::array<word, N> halfpi{};
};

template <int N> constexpr tables<N> maketables() {
    tables<N> t;
    std::array<word, N + 1> scratch{};
    std::array<word, 2 * N> p{};
    coefficients(t.c.data(), N, scratch.data());
    halfpi(t.halfpi.data(), t.c.data(), N, scratch.data(), p.data());
    return t;
}

constexpr tables<3> tables3 = maketables<3>();
constexpr tables<8> tables8 = maketables<8>();

// floor(sqrt(a)) for a of na words, into q of nq words, digit by digit (two
// bits of a per bit of q). rest and trial hold nq + 1 words each.
void squareroot(word *q, int nq, const word *a, int na, word *rest, word *trial) {
    zero(q, nq);
    zero(rest, nq + 1);
    const int m = nq + 1;
    for (int i = topbit(a, na) / 2; i >= 0; --i) {
        // rest = 4 rest + the next two bits of a; trial = 4 q + 1.
        for (int k = m - 1; k > 0; --k) {
            rest[k] = (rest[k] << 2) | (rest[k - 1] >> 30);
        }
        rest[0] = (rest[0] << 2) | ((a[(2 * i) / 32] >> ((2 * i) % 32)) & 3U);
        trial[m - 1] = q[m - 2] >> 30;
        for (int k = m - 2; k > 0; --k) {
            trial[k] = (q[k] << 2) | (q[k - 1] >> 30);
        }
        trial[0] = (q[0] << 2) | 1U;
        bool fits = true;
        for (int k = m - 1; k >= 0; --k) {
            if (rest[k] != trial[k]) {
                fits = rest[k] > trial[k];
                break;
            }
        }
        for (int k = nq - 1; k > 0; --k) {
            q[k] = (q[k] << 1) | (q[k - 1] >> 31);
        }
        q[0] <<= 1;
        if (fits) {
            subtract(rest, trial, m);
            q[0] |= 1U;
        }
    }
}

// sqrt(k) 2^g for 2^52 <= k < 2^54 and 26 <= g <= 75, within 1 + 1/8, into
// q (n words, 2 or more); w holds max(n, 8) words. k is exact as a double, and s = sqrt(k)
// rounded lies within 2^-27 of sqrt(k), so D = k - s^2 (exact) is at most 2
// and sqrt(k) = s + D / (sqrt(k) + s). D / (2 s) rounded differs from the
// last term by at most 2^-80 + 2^-79 < 2^-78, which is 1/8 at 2^g for
// g <= 75; the floor adds less than 1.
void seededroot(word *q, int n, wide k, int g, word *w) {
    const double s = std::sqrt(static_cast<double>(k));
    const wide m = (bitsof(s) & ((wide{1} << 52) - 1)) | (wide{1} << 52); // s 2^26
    const word kw[2] = {static_cast<word>(k), static_cast<word>(k >> 32)};
    const word mw[2] = {static_cast<word>(m), static_cast<word>(m >> 32)};
    word *kk = w;     // k 2^52
    word *mm = w + 4; // m^2 = s^2 2^52
    place(kk, 4, kw, 2, 52);
    multiply(mm, mw, 2, mw, 2);
    const bool below = compare(kk, mm, 4) < 0; // D < 0
    if (below) {
        subtract(mm, kk, 4);
    } else {
        subtract(kk, mm, 4);
    }
    const word *dw = below ? mm : kk; // |D| 2^52 <= 2^53
    const double d = static_cast<double>((static_cast<wide>(dw[1]) << 32) | dw[0]);
    // (D / (2 s)) 2^g, exactly scaled by a power of two.
    const double scale = frombits(static_cast<wide>(g - 52 + 1023) << 52);
    const double v = (below ? -d : d) / (2.0 * s) * scale; // |v| < 2^50
    auto t = static_cast<std::int64_t>(v);
    if (static_cast<double>(t) > v) {
        --t; // the floor
    }
    // q = m 2^(g - 26) + t.
    place(q, n, mw, 2, g - 26);
    if (t >= 0) {
        const word tw[2] = {static_cast<word>(t), static_cast<word>(static_cast<wide>(t) >> 32)};
        word *tq = w;
        zero(tq, n);
        copy(tq, tw, 2);
        add(q, tq, n);
    } else {
        const wide u = static_cast<wide>(-t);
        const word tw[2] = {static_cast<word>(u), static_cast<word>(u >> 32)};
        word *tq = w;
        zero(tq, n);
        copy(tq, tw, 2);
        subtract(q, tq, n);
    }
}

// The double nearest a * 2^e (a > 0, n words), ties to even. The value lies
// in the normal range.
double nearest(const word *a, int n, int e) {
    const int t = topbit(a, n);
    const int low = t - 52; // the bit of a that becomes the last of the double
    wide m = (static_cast<wide>(bitsat(a, n, low + 32) & 0x1FFFFFU) << 32) | bitsat(a, n, low);
    if (low > 0) {
        const bool half = ((bitsat(a, n, low - 1) & 1U) != 0);
        bool below = false;
        for (int i = 0; i < n && 32 * i < low - 1; ++i) {
            const int bits = low - 1 - 32 * i; // bits of word i below the half bit
            const word mask = bits >= 32 ? ~word{0} : ((word{1} << bits) - 1);
            below = below || (a[i] & mask) != 0;
        }
        if (half && (below || (m & 1U) != 0)) {
            ++m;
        }
    }
    int exponent = t + e;
    if (m == (wide{1} << 53)) {
        m >>= 1;
        ++exponent;
    }
    const wide bits = (static_cast<wide>(exponent + 1023) << 52) | (m & ((wide{1} << 52) - 1));
    return frombits(bits);
}

// Working storage of one evaluation at n words.
constexpr int workwords(int n) { return 12 * n + 16; }

// The widest precision tried.
constexpr int widest = 16;

// One evaluation of acos(x), -1 <= x < 1, at n words with coefficients c and
// pi/2 h; `work` holds workwords(n) words. Returns whether the rounding is
// decided; `result` is the nearest double to the low end of the bound either
// way.
bool evaluate(double x, int n, const word *c, const word *h, word *work, double &result) {
    const int f = fraction(n);
    word *s = work;          // n: S(z)
    word *z = s + n;         // n: z
    word *r = z + n;         // n + 1: the result before rounding
    word *p = r + n + 1;     // 2n + 4: products
    word *q = p + 2 * n + 4; // n: the square root
    word *a = q + n;         // 2n + 2: the radicand
    word *t1 = a + 2 * n + 2;
    word *t2 = t1 + n + 1; // n + 1 each: square root working space

    const wide bits = bitsof(x);
    const bool negative = (bits >> 63) != 0;
    int e = 0;      // the result is r * 2^e
    word bound = 0; // ... within bound * 2^e
    zero(r, n + 1);
    if (x >= -0.5 && x <= 0.5) {
        // pi/2 - x S(x^2), with |x| = m 2^ex.
        const int biased = static_cast<int>((bits >> 52) & 0x7FF);
        const wide frac = bits & ((wide{1} << 52) - 1);
        const wide m = biased == 0 ? frac : (frac | (wide{1} << 52));
        const int ex = biased == 0 ? -1074 : biased - 1075;
        const word mw[2] = {static_cast<word>(m), static_cast<word>(m >> 32)};
        word mm[4] = {};
        multiply(mm, mw, 2, mw, 2);
        place(z, n, mm, 4, 2 * ex + f);
        series(s, z, c, n, p);
        multiply(p, s, n, mw, 2);
        place(q, n, p, n + 2, ex); // |x| S
        copy(r, h, n);
        if (negative) {
            add(r, q, n);
        } else {
            subtract(r, q, n);
        }
        e = -f;
        bound = 16;
    } else {
        // 2 sqrt(z) S(z), z = k 2^-(2j) with 2^52 <= k < 2^54.
        const double zd = negative ? (1.0 + x) / 2.0 : (1.0 - x) / 2.0;
        if (zd == 0.0) {
            // x = -1: pi.
            copy(r, h, n);
            add(r, h, n);
            e = -f;
            bound = 64;
        } else {
            const wide zb = bitsof(zd);
            wide k = (zb & ((wide{1} << 52) - 1)) | (wide{1} << 52);
            int twoj = 1075 - static_cast<int>((zb >> 52) & 0x7FF);
            if ((twoj & 1) != 0) {
                k <<= 1;
                ++twoj;
            }
            const int j = twoj / 2;
            const word kw[2] = {static_cast<word>(k), static_cast<word>(k >> 32)};
            place(z, n, kw, 2, f - twoj);
            series(s, z, c, n, p);
            // q = floor(sqrt(k) 2^(f - 27)), in [2^(f-1), 2^f), or within
            // 1 + 1/8 of it from the rounded square root.
            if (f - 27 <= 75) {
                seededroot(q, n, k, f - 27, p);
            } else {
                place(a, 2 * n + 2, kw, 2, 2 * f - 54);
                squareroot(q, n, a, 2 * n + 2, t1, t2);
            }
            multiplyfixed(s, q, s, n, p); // sqrt(z) S(z) = s 2^(27 - j - f)
            if (!negative) {
                copy(r, s, n);
                e = 28 - j - f;
                bound = 16;
            } else {
                place(q, n, s, n, 28 - j);
                copy(r, h, n);
                add(r, h, n);
                subtract(r, q, n);
                e = -f;
                bound = 64;
            }
        }
    }
    // Every value within the bound rounds to the same double, or the
    // precision does not decide.
    copy(a, r, n + 1);
    subtractsmall(a, n + 1, bound);
    addsmall(r, n + 1, bound);
    result = nearest(a, n + 1, e);
    return nearest(r, n + 1, e) == result;
}

// Evaluation at one of the tabled precisions, without allocating.
template <int N> bool evaluatetabled(double x, const tables<N> &t, double &result) {
    std::array<word, workwords(N)> work{};
    return evaluate(x, N, t.c.data(), t.halfpi.data(), work.data(), result);
}

// Arguments with an answer of their own: NaN, outside [-1, 1], and 1 (whose
// arc cosine, 0, no precision would decide).
bool special(double x, double &result) {
    if (!(x >= -1.0 && x <= 1.0)) {
        result = x != x ? x : std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (x == 1.0) {
        result = 0.0;
        return true;
    }
    return false;
}

} // namespace

bool arccosat(double x, int limbs, double &result) {
    if (special(x, result)) {
        return true;
    }
    if (limbs == 3) {
        return evaluatetabled(x, tables3, result);
    }
    if (limbs == 8) {
        return evaluatetabled(x, tables8, result);
    }
    // Other precisions build their tables here, on the stack.
    const int n = limbs < 2 ? 2 : (limbs > widest ? widest : limbs);
    std::array<word, static_cast<std::size_t>(terms(widest) * widest)> c; // rows filled below
    std::array<word, widest> h{};
    std::array<word, workwords(widest)> work{};
    coefficients(c.data(), n, work.data());
    halfpi(h.data(), c.data(), n, work.data(), work.data() + n);
    return evaluate(x, n, c.data(), h.data(), work.data(), result);
}

double arccos(double x) {
    double result = 0.0;
    if (special(x, result) || evaluatetabled(x, tables3, result) ||
        evaluatetabled(x, tables8, result)) {
        return result;
    }
    // 92 bits decide all but about one argument in 2^30, 252 bits all but
    // the very hardest. acos(x) is transcendental for every x in (-1, 1),
    // so it is never a rounding boundary itself and some precision decides;
    // the widest here, 508 bits, is far beyond what the hardest doubles of
    // this function are known to need. Should it still not decide, its
    // nearest double is the answer.
    arccosat(x, widest, result);
    return result;
}

} // namespace quim::detail
