#include "platform/foundation/format.h"

#include <gtest/gtest.h>

using namespace foundation;

TEST(Format, ObjectsAndPositions) {
    EXPECT_EQ(format("%@ has %@ new", "Ann", 3), "Ann has 3 new");
    EXPECT_EQ(format("%2$@ %1$@", "World", "Hello"), "Hello World");
    EXPECT_EQ(format("%1$@-%1$@", "x"), "x-x");
    EXPECT_EQ(format("%@", Value()), "(null)");
    EXPECT_EQ(format("%@/%@", 2.5, true), "2.5/1");
    EXPECT_EQ(format("[%@]"), "[(null)]");  // missing argument, no garbage
    EXPECT_EQ(format("%5@|%-4@|", "ab", "c"), "   ab|c   |");
    // Precision counts UTF-16 units and does not cut the emoji in half.
    EXPECT_EQ(format("%.2@", "a\xF0\x9F\x98\x80"), "a");
}

TEST(Format, Integers) {
    EXPECT_EQ(format("%d items", 42), "42 items");
    EXPECT_EQ(format("%ld %lld %lu", int64_t{-5}, int64_t{1} << 40, 7), "-5 1099511627776 7");
    EXPECT_EQ(format("%d", int64_t{0x1'0000'0005}), "5");  // plain %d is 32 bits wide
    EXPECT_EQ(format("%u", -1), "4294967295");
    EXPECT_EQ(format("%lu", int64_t{-1}), "18446744073709551615");
    EXPECT_EQ(format("%x %X %08x", 255, 255, 0xbeef), "ff FF 0000beef");
    EXPECT_EQ(format("%05d|%-4d|%+d", 42, 7, 3), "00042|7   |+3");
    EXPECT_EQ(format("%d", "12abc"), "12");
    EXPECT_EQ(format("%hhd", 300), "44");
    EXPECT_EQ(format("%*d", 5, 1), "    1");
    EXPECT_EQ(format("%2$*1$d", 4, 9), "   9");
}

TEST(Format, FloatsTextAndPercent) {
    EXPECT_EQ(format("%f", 1.5), "1.500000");
    EXPECT_EQ(format("%.2f", 2.345678), "2.35");
    EXPECT_EQ(format("%.4F", 3), "3.0000");
    EXPECT_EQ(format("%.1f%%", 99.95), "100.0%");
    EXPECT_EQ(format("%s and %s", "a", 5), "a and 5");
    EXPECT_EQ(format("%c", 0x20AC), "\xE2\x82\xAC");
    EXPECT_EQ(format("100%% sure"), "100% sure");
    EXPECT_EQ(format("%e", 12345.0), "1.234500e+04");
}

TEST(Format, MalformedSpecsAreCopiedNotRead) {
    EXPECT_EQ(format("50%"), "50%");
    EXPECT_EQ(format("%k%d", 1), "%k1");
    EXPECT_EQ(format("%99999999999d", 1).size(), 100000u);  // absurd widths are capped
    EXPECT_EQ(format("%3$@", "a"), "(null)");
}
