// Engines as objects: version, the interface's slot order, construction,
// the per-class origin, clearing, dots, the empty engine and block ownership.

// The ownership tests assign engines to themselves and destroy them through
// their own class from unique_ptr on purpose; clang warns of both, the second
// inside <memory>, so before it is included.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wself-assign-overloaded"
#pragma clang diagnostic ignored "-Wdelete-non-abstract-non-virtual-dtor"
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include <gtest/gtest.h>
#include <trel/trel.h>

#include "support.h"

using trel::test::guardedblock;

TEST(Version, NumbersAndSharedBuffer) {
    int major = -1;
    int minor = -1;
    int patch = -1;
    const char *first = trel::version(major, minor, patch);
    EXPECT_EQ(major, TREL_PROJECT_VERSION_MAJOR);
    EXPECT_EQ(minor, TREL_PROJECT_VERSION_MINOR);
    EXPECT_EQ(patch, TREL_PROJECT_VERSION_PATCH);
    EXPECT_STREQ(first, TREL_PROJECT_VERSION);
    major = minor = patch = 7;
    EXPECT_EQ(trel::version(major, minor, patch), first);
    EXPECT_EQ(major, TREL_PROJECT_VERSION_MAJOR);
    EXPECT_EQ(trel::version(), first);
    EXPECT_STREQ(trel::version(), TREL_PROJECT_VERSION);
}

// Hosts call through the table of virtual operations, so the slot of every
// operation is part of the interface. On the Itanium C++ ABI (GCC and Clang on
// x86) a pointer to a virtual member function holds 1 + the slot's byte offset.
#if defined(__GXX_ABI_VERSION) && (defined(__x86_64__) || defined(__i386__))
template <class F> std::ptrdiff_t slotof(F member) {
    struct representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } rep{};
    static_assert(sizeof(F) == sizeof(rep));
    std::memcpy(&rep, &member, sizeof rep);
    return static_cast<std::ptrdiff_t>((rep.ptr - 1) / sizeof(void *));
}

TEST(Interface, SlotOrder) {
    using quim::point;
    using trel::engine;
    EXPECT_EQ(slotof(&engine::width), 0);
    EXPECT_EQ(slotof(&engine::height), 1);
    EXPECT_EQ(slotof(&engine::depth), 2);
    EXPECT_EQ(slotof(&engine::clear), 3);
    EXPECT_EQ(slotof(&engine::begin), 4);
    EXPECT_EQ(slotof(&engine::end), 5);
    EXPECT_EQ(slotof(&engine::dot), 6);
    EXPECT_EQ(
        slotof(static_cast<void (engine::*)(const point *, int, unsigned long)>(&engine::line)), 7);
    EXPECT_EQ(slotof(static_cast<void (engine::*)(const point &, const point &, unsigned long)>(
                  &engine::line)),
              8);
    EXPECT_EQ(slotof(static_cast<void (engine::*)(const point &, const point &, const point *, int,
                                                  unsigned long)>(&engine::tri)),
              9);
    EXPECT_EQ(
        slotof(static_cast<void (engine::*)(const point &, const point *, int, unsigned long)>(
            &engine::tri)),
        10);
    EXPECT_EQ(slotof(static_cast<void (engine::*)(const point &, const point &, const point &,
                                                  unsigned long)>(&engine::tri)),
              11);
    EXPECT_EQ(slotof(&engine::text), 12);
}
#endif

TEST(Construction, SizesStrideAndOrigin) {
    trel::engine2d e2(100, 50, nullptr);
    EXPECT_EQ(e2.width(), 100);
    EXPECT_EQ(e2.height(), 50);
    EXPECT_FALSE(e2.depth());
    EXPECT_EQ(e2.bpp, 32);
    EXPECT_FALSE(e2.extbuf);
    EXPECT_EQ(e2.npixels, 5000);
    EXPECT_EQ(trel::engine2d::orgx, 50);
    EXPECT_EQ(trel::engine2d::orgy, 5); // 20 rows above the middle

    trel::engine2dxy exy(101, 51, nullptr);
    EXPECT_EQ(exy.width(), 104);
    EXPECT_EQ(exy.height(), 51);
    EXPECT_EQ(trel::engine2dxy::orgx, 52);
    EXPECT_EQ(trel::engine2dxy::orgy, 25);

    guardedblock block(trel::test::blockwords(64, 48, true));
    trel::engine3d e3(64, 48, block.data());
    EXPECT_TRUE(e3.depth());
    EXPECT_TRUE(e3.extbuf);
    EXPECT_EQ(static_cast<void *>(e3.pixels), block.data());
    EXPECT_EQ(reinterpret_cast<char *>(e3.zbuf) - static_cast<char *>(block.data()), 12288);
    EXPECT_EQ(trel::engine3d::orgx, 32);
    EXPECT_EQ(trel::engine3d::orgy, 24);

    // Widths round up to a multiple of 4; the table is the class's own.
    EXPECT_EQ(trel::engine2d(1, 1, nullptr).width(), 4);
    EXPECT_EQ(trel::engine2d(4, 1, nullptr).width(), 4);
    EXPECT_EQ(e2.rcp, trel::engine2d::rcptab);
    EXPECT_EQ(exy.rcp, trel::engine2dxy::rcptab);
    EXPECT_EQ(e3.rcp, trel::engine3d::rcptab);
}

TEST(Construction, OriginPerClass) {
    trel::engine2d a(200, 100, nullptr);
    trel::engine2dxy b(40, 30, nullptr);
    trel::engine2d c(100, 50, nullptr);
    // The newest engine2d moved its class's origin, and every engine2d maps
    // through it, the older one included.
    a.clear(0);
    a.dot({0.0, 0.0, 0.0}, 7);
    EXPECT_EQ(a.pixels[5 * 200 + 50], 7U);
    // Constructing engines of other classes moves neither of the others.
    trel::engine3d d(64, 48, nullptr);
    EXPECT_EQ(trel::engine2d::orgx, 50);
    EXPECT_EQ(trel::engine2d::orgy, 5);
    EXPECT_EQ(trel::engine2dxy::orgx, 20);
    EXPECT_EQ(trel::engine2dxy::orgy, 15);

    trel::engine2d low(100, 30, nullptr); // origin's row above the picture
    EXPECT_EQ(trel::engine2d::orgy, -5);
    low.clear(0);
    low.dot({0.0, 0.0, 0.0}, 1);
    low.dot({0.0, 0.0, -5.0}, 2);
    EXPECT_EQ(trel::test::written(low.pixels, 100, 30, 0).size(), 1U);
    EXPECT_EQ(low.pixels[50], 2U);
}

TEST(Dots, MappingAndTruncation) {
    guardedblock block(100 * 50);
    trel::engine2d e(100, 50, block.data());
    e.clear(0);
    e.dot({0.0, 0.0, 0.0}, 1);
    EXPECT_EQ(block.words()[5 * 100 + 50], 1U);
    e.dot({10.9, 99.0, -3.5}, 2); // y ignored, truncation toward zero
    EXPECT_EQ(block.words()[8 * 100 + 60], 2U);
    // The origin's column is two world units wide.
    e.dot({-0.9, 0.0, 5.0}, 3);
    EXPECT_EQ(block.words()[0 * 100 + 50], 3U);
    e.dot({-1.0, 0.0, 5.0}, 4);
    EXPECT_EQ(block.words()[0 * 100 + 49], 4U);
    // Last column and row draw; one beyond does not.
    e.dot({49.0, 0.0, -44.0}, 5);
    EXPECT_EQ(block.words()[49 * 100 + 99], 5U);
    e.clear(0);
    for (double x : {-51.0, 50.0, 1e9, -1e9, 1e300, -1e300, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        e.dot({x, 0.0, 0.0}, 9);
    }
    for (double z : {6.0, -45.0, 1e12, -1e12, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        e.dot({0.0, 0.0, z}, 9);
    }
    EXPECT_TRUE(trel::test::written(block.words(), 100, 50, 0).empty());
    EXPECT_TRUE(block.intact());

    // The X-Y engine uses y as its vertical axis, and column 103 of a width
    // of 101 is inside the picture.
    guardedblock xyblock(104 * 51);
    trel::engine2dxy xy(101, 51, xyblock.data());
    xy.clear(0);
    xy.dot({51.0, 3.0, 1000.0}, 6);
    EXPECT_EQ(xyblock.words()[22 * 104 + 103], 6U);
    EXPECT_TRUE(xyblock.intact());
}

TEST(Dots, ColourWordsAndDepthUntouched) {
    guardedblock block(trel::test::blockwords(64, 48, true));
    trel::engine3d e(64, 48, block.data());
    e.clear(0xFF123456UL);
    for (int i = 0; i < 64 * 48; ++i) {
        ASSERT_EQ(e.pixels[i], 0xFF123456U);
        ASSERT_EQ(e.zbuf[i], -32000);
    }
    // Dots keep the caller's channel order and leave the depth plane alone.
    e.dot({1.0, -500.0, 1.0}, 0xAB00FF11UL);
    EXPECT_EQ(e.pixels[23 * 64 + 33], 0xAB00FF11U);
    EXPECT_EQ(e.zbuf[23 * 64 + 33], -32000);
    if constexpr (sizeof(unsigned long) > 4) {
        // Only the low 32 bits of a colour count.
        e.clear(static_cast<unsigned long>(0x7700000000ULL | 0x01020304ULL));
        EXPECT_EQ(e.pixels[0], 0x01020304U);
        e.dot({0.0, 0.0, 0.0}, static_cast<unsigned long>(0xFF00000000ULL | 0x0A0B0C0DULL));
        EXPECT_EQ(e.pixels[24 * 64 + 32], 0x0A0B0C0DU);
    }
    EXPECT_TRUE(block.intact());
}

TEST(Clear, WholeStrideAndBothPlanes) {
    // A width of 101 has a stride of 104: the padding columns are part of the
    // picture and are cleared too.
    guardedblock block(104 * 3);
    trel::engine2dxy e(101, 3, block.data());
    e.clear(0xFF123456UL);
    for (std::size_t i = 0; i < block.size(); ++i) {
        ASSERT_EQ(block.words()[i], 0xFF123456U);
    }
    EXPECT_TRUE(block.intact());

    guardedblock block3(trel::test::blockwords(8, 5, true));
    trel::engine3d e3(5, 5, block3.data());
    e3.clear(0x11);
    const auto *depth = reinterpret_cast<const std::uint16_t *>(block3.words() + 40);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(depth[i], 0x8300U);
    }
    EXPECT_TRUE(block3.intact());
}

TEST(Construction, RefusedAndEmptySizes) {
    trel::engine2d reference(60, 40, nullptr);
    const int orgx = trel::engine2d::orgx;
    const int orgy = trel::engine2d::orgy;
    const int count = trel::engine2d::rcpcount;
    guardedblock block(16);
    for (auto [w, h] : {std::pair{4097, 10}, std::pair{10, 4097}, std::pair{-1, 10},
                        std::pair{10, -1}, std::pair{std::numeric_limits<int>::max(), 1},
                        std::pair{std::numeric_limits<int>::min(), 1}}) {
        trel::engine2d e(w, h, block.data());
        EXPECT_EQ(e.width(), 0);
        EXPECT_EQ(e.height(), 0);
        EXPECT_EQ(e.pixels, nullptr);
        e.clear(1);
        e.dot({0.0, 0.0, 0.0}, 1);
        e.line({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, 1);
        e.tri({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, {5.0, 0.0, -5.0}, 1);
        trel::engine3d e3(w, h, nullptr);
        EXPECT_EQ(e3.width(), 0);
        e3.clear(1);
        e3.tri({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, {5.0, 0.0, -5.0}, 1);
    }
    // Refused sizes leave the class's origin and table as they were.
    EXPECT_EQ(trel::engine2d::orgx, orgx);
    EXPECT_EQ(trel::engine2d::orgy, orgy);
    EXPECT_EQ(trel::engine2d::rcpcount, count);
    for (std::size_t i = 0; i < block.size(); ++i) {
        EXPECT_EQ(block.words()[i], guardedblock::guard);
    }
    EXPECT_TRUE(block.intact());

    // The largest accepted picture, and one with no pixels at all, which is
    // valid, moves the origin and draws nothing.
    EXPECT_EQ(trel::engine2dxy(4096, 1, nullptr).width(), 4096);
    trel::engine2d none(0, 50, nullptr);
    EXPECT_EQ(none.width(), 0);
    EXPECT_EQ(none.height(), 50);
    EXPECT_EQ(trel::engine2d::orgx, 0);
    EXPECT_EQ(trel::engine2d::orgy, 5);
    none.clear(1);
    none.dot({0.0, 0.0, 0.0}, 1);
    none.line({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, 1);
    none.tri({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, {5.0, 0.0, -5.0}, 1);
    trel::engine3d flat(8, 0, block.data());
    EXPECT_EQ(flat.width(), 8);
    EXPECT_EQ(flat.height(), 0);
    flat.clear(1);
    flat.line({-5.0, 0.0, -5.0}, {5.0, 0.0, 5.0}, 1);
    flat.tri({-500.0, 0.0, -500.0}, {500.0, 0.0, 500.0}, {500.0, 0.0, -500.0}, 1);
    for (std::size_t i = 0; i < block.size(); ++i) {
        EXPECT_EQ(block.words()[i], guardedblock::guard);
    }
}

TEST(Reserved, DrawNothing) {
    guardedblock block(trel::test::blockwords(16, 16, true));
    trel::engine3d e(16, 16, block.data());
    e.clear(0x42);
    const std::vector<std::uint32_t> before(block.words(), block.words() + block.size());
    const quim::point p{1.0, 1.0, 1.0};
    const quim::point pts[2] = {p, p};
    trel::engine &base = e;
    base.begin();
    base.tri(p, p, pts, 2, 1);
    base.tri(p, p, nullptr, 5, 1);
    base.tri(p, pts, 2, 1);
    base.tri(p, nullptr, -1, 1);
    base.text(p, "hello", 1);
    base.text(p, nullptr, 1);
    base.end();
    EXPECT_TRUE(std::equal(before.begin(), before.end(), block.words()));
    EXPECT_TRUE(block.intact());
}

// Copies share the block; an owned block is freed once, by the last engine
// holding it. valgrind and LeakSanitizer run these for leaks and double frees.
TEST(Ownership, CopiesShareTheBlock) {
    trel::engine2d a(16, 8, nullptr);
    trel::engine2d b(a);
    EXPECT_EQ(b.pixels, a.pixels);
    EXPECT_EQ(b.width(), 16);
    b.clear(5);
    EXPECT_EQ(a.pixels[0], 5U);
    {
        trel::engine3d c(8, 8, nullptr);
        trel::engine3d d(c);
        EXPECT_EQ(d.zbuf, c.zbuf);
    }
    trel::engine2dxy x(8, 8, nullptr);
    auto y = std::make_unique<trel::engine2dxy>(x);
    y.reset(); // the copy goes first
    x.clear(3);
    EXPECT_EQ(x.pixels[63], 3U);
}

TEST(Ownership, DestroyInEveryOrder) {
    for (int order = 0; order < 6; ++order) {
        auto a = std::make_unique<trel::engine3d>(12, 4, nullptr);
        auto b = std::make_unique<trel::engine3d>(*a);
        auto c = std::make_unique<trel::engine3d>(*b);
        std::unique_ptr<trel::engine3d> *slots[3] = {&a, &b, &c};
        const int sequence[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                    {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
        for (int step = 0; step < 3; ++step) {
            slots[sequence[order][step]]->reset();
            for (auto *s : slots) {
                if (*s) {
                    (*s)->clear(static_cast<unsigned long>(order)); // still drawable
                    EXPECT_EQ((*s)->zbuf[47], -32000);
                }
            }
        }
    }
}

TEST(Ownership, AssignmentGivesUpTheOldBlock) {
    trel::engine2d a(16, 16, nullptr);
    trel::engine2d b(8, 8, nullptr);
    b = a; // b's own block is freed here: it was the last holder
    EXPECT_EQ(b.pixels, a.pixels);
    EXPECT_EQ(b.width(), 16);
    b = b;
    a = a;
    trel::engine2d c(a);
    c = b; // the same block: nothing freed
    a.clear(9);
    EXPECT_EQ(c.pixels[255], 9U);

    // Assigning a borrowed block over an owned one and back.
    guardedblock block(4 * 4);
    trel::engine2d borrowed(4, 4, block.data());
    trel::engine2d owner(4, 4, nullptr);
    trel::engine2d keep(owner);
    owner = borrowed;
    EXPECT_TRUE(owner.extbuf);
    keep.clear(1);
    borrowed = keep;
    EXPECT_FALSE(borrowed.extbuf);
    EXPECT_EQ(borrowed.pixels[0], 1U);
    EXPECT_TRUE(block.intact());

    // The empty engine copies and assigns like any other.
    trel::engine3d empty(-1, 5, nullptr);
    trel::engine3d full(4, 4, nullptr);
    full = empty;
    EXPECT_EQ(full.width(), 0);
    trel::engine3d copy(empty);
    EXPECT_EQ(copy.pixels, nullptr);
}
