#include <gtest/gtest.h>

#include <random>

#include "framework/safe_format.h"

TEST(FormatIntegers, SubstitutesIntegerConversions) {
  EXPECT_EQ(FormatIntegers(u"%d", {42}), u"42");
  EXPECT_EQ(FormatIntegers(u"%i|%u", {-7, -1}), u"-7|4294967295");
  EXPECT_EQ(FormatIntegers(u"%5d|", {42}), u"   42|");
  EXPECT_EQ(FormatIntegers(u"%-3d|", {7}), u"7  |");
  EXPECT_EQ(FormatIntegers(u"%05lx", {0xAB}), u"000ab");
  EXPECT_EQ(FormatIntegers(u"%X %#x %#x", {0xBEEF, 255, 0}), u"BEEF 0xff 0");
  EXPECT_EQ(FormatIntegers(u"%lld", {-9000000000LL}), u"-9000000000");
  EXPECT_EQ(FormatIntegers(u"%+d % d %+d", {5, 5, -5}), u"+5  5 -5");
  EXPECT_EQ(FormatIntegers(u"%.3d %.0d|", {7, 0}), u"007 |");
  EXPECT_EQ(FormatIntegers(u"%08.3d", {-7}), u"    -007");
  EXPECT_EQ(FormatIntegers(u"%03d", {-7}), u"-07");
  EXPECT_EQ(FormatIntegers(u"%hd %hhu", {70000, 257}), u"4464 1");
  // "l" is 32 bits, as where the patterns were written.
  EXPECT_EQ(FormatIntegers(u"%lx %x", {-1, -1}), u"ffffffff ffffffff");
  EXPECT_EQ(FormatIntegers(u"%ld", {-2147483648LL}), u"-2147483648");
}

TEST(FormatIntegers, VolumeNamePatterns) {
  EXPECT_EQ(FormatIntegers(u"\\tmp\\pkg.z%02d", {3}), u"\\tmp\\pkg.z03");
  EXPECT_EQ(FormatIntegers(u"\\tmp\\Setup (100%).exe", {}), u"\\tmp\\Setup (100%).exe");
  EXPECT_EQ(FormatIntegers(u"disk%d of %d", {1, 2}), u"disk1 of 2");
}

TEST(FormatIntegers, EverythingElseIsCopiedLiterally) {
  EXPECT_EQ(FormatIntegers(u"%s %n %ls %p %f", {1, 2, 3}), u"%s %n %ls %p %f");
  EXPECT_EQ(FormatIntegers(u"100%", {1}), u"100%");
  EXPECT_EQ(FormatIntegers(u"%%d is %d", {5}), u"%d is 5");
  EXPECT_EQ(FormatIntegers(u"%", {}), u"%");
  EXPECT_EQ(FormatIntegers(u"%5", {1}), u"%5");
  EXPECT_EQ(FormatIntegers(u"%ll", {1}), u"%ll");
  EXPECT_EQ(FormatIntegers(u"%*d", {1, 2}), u"%*d");
  EXPECT_EQ(FormatIntegers(u"%I64d", {1}), u"%I64d");
  // Too few arguments: the conversion stays as text.
  EXPECT_EQ(FormatIntegers(u"%d-%d", {1}), u"1-%d");
  EXPECT_EQ(FormatIntegers(u"%d", {}), u"%d");
  // Absurd widths are not honoured.
  EXPECT_EQ(FormatIntegers(u"%999999999d", {1}), u"%999999999d");
  EXPECT_EQ(FormatIntegers(u"%.99999999999999999999d", {1}), u"%.99999999999999999999d");
}

TEST(FormatIntegers, NoPatternCanBreakIt) {
  const char16_t pieces[] = u"%%dsnlhx.-+#0 9*\u00E9\\";
  std::mt19937 random(99);
  for (int round = 0; round < 20000; ++round) {
    plat::WString pattern;
    size_t length = random() % 12;
    for (size_t i = 0; i < length; ++i) pattern.push_back(pieces[random() % (std::size(pieces) - 1)]);
    plat::WString out = FormatIntegers(pattern, {static_cast<int64_t>(random()) - 1000000000, -1});
    ASSERT_LT(out.size(), pattern.size() * 600 + 64) << round;
  }
}
