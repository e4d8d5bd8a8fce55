#include <gtest/gtest.h>
#include <trel/trel.h>
TEST(Version, Text) { EXPECT_STREQ(trel::version(), "0.9.1"); }
