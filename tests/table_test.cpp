// The per-class statics start as plain zeroed data and grow only as engines
// need them. Runs in a process of its own, before any other engine exists.
#include <gtest/gtest.h>
#include <trel/trel.h>

namespace {

void expecttable(const int *table, int count) {
    EXPECT_EQ(table[0], 0);
    for (int i = 1; i < count; ++i) {
        ASSERT_EQ(table[i], 65536 / i) << "entry " << i;
    }
}

} // namespace

TEST(Statics, ZeroAtLoadAndGrowing) {
    EXPECT_EQ(trel::engine2d::rcpcount, 0);
    EXPECT_EQ(trel::engine2d::orgx, 0);
    EXPECT_EQ(trel::engine2d::orgy, 0);
    for (int v : trel::engine2d::rcptab) {
        ASSERT_EQ(v, 0);
    }

    trel::engine2d first(100, 50, nullptr);
    EXPECT_EQ(trel::engine2d::rcpcount, 100);
    expecttable(trel::engine2d::rcptab, 100);
    EXPECT_EQ(trel::engine2d::rcptab[1], 65536);
    EXPECT_EQ(trel::engine2d::rcptab[3], 21845);
    EXPECT_EQ(trel::engine2d::rcptab[7], 9362);
    EXPECT_EQ(trel::engine2d::rcptab[99], 661);
    EXPECT_EQ(trel::engine2d::rcptab[100], 0); // not filled yet

    // A smaller engine moves the origin but leaves the table alone.
    trel::engine2d smaller(32, 32, nullptr);
    EXPECT_EQ(trel::engine2d::rcpcount, 100);
    EXPECT_EQ(trel::engine2d::orgx, 16);
    EXPECT_EQ(trel::engine2d::orgy, -4);

    // A taller one grows it; the other classes' tables are untouched.
    trel::engine2d taller(16, 128, nullptr);
    EXPECT_EQ(trel::engine2d::rcpcount, 128);
    expecttable(trel::engine2d::rcptab, 128);
    EXPECT_EQ(trel::engine3d::rcpcount, 0);
    EXPECT_EQ(trel::engine2dxy::rcpcount, 0);

    trel::engine3d big(4096, 2, nullptr);
    EXPECT_EQ(trel::engine3d::rcpcount, 4096);
    EXPECT_EQ(trel::engine3d::rcptab[4095], 16);
    expecttable(trel::engine3d::rcptab, 4096);
    EXPECT_EQ(trel::engine2d::rcpcount, 128);
}
