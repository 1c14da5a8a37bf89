#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/code_page.h"

using namespace plat;

TEST(CodePage, AnsiTableSpotChecks) {
  EXPECT_EQ(AnsiByteToWide(0x41), u'A');
  EXPECT_EQ(AnsiByteToWide(0x80), 0x20AC);  // euro sign
  EXPECT_EQ(AnsiByteToWide(0x8A), 0x0160);  // S caron
  EXPECT_EQ(AnsiByteToWide(0x9F), 0x0178);  // Y diaeresis
  EXPECT_EQ(AnsiByteToWide(0x81), 0x0081);  // undefined in 1252: kept as C1
  EXPECT_EQ(AnsiByteToWide(0xE9), 0x00E9);
  EXPECT_EQ(AnsiByteToWide(0xFF), 0x00FF);
}

TEST(CodePage, OemTableSpotChecks) {
  EXPECT_EQ(OemByteToWide(0x80), 0x00C7);  // C cedilla
  EXPECT_EQ(OemByteToWide(0x81), 0x00FC);  // u diaeresis
  EXPECT_EQ(OemByteToWide(0x9E), 0x20A7);  // peseta
  EXPECT_EQ(OemByteToWide(0xB3), 0x2502);  // box vertical
  EXPECT_EQ(OemByteToWide(0xE1), 0x00DF);  // sharp s
  EXPECT_EQ(OemByteToWide(0xE6), 0x00B5);  // micro
  EXPECT_EQ(OemByteToWide(0xFF), 0x00A0);  // no-break space
}

TEST(CodePage, EveryAnsiByteRoundTrips) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  bool lossy = true;
  EXPECT_EQ(WideToAnsi(AnsiToWide(all), &lossy), all);
  EXPECT_FALSE(lossy);
}

TEST(CodePage, WideToAnsiMarksWhatItCannotMap) {
  bool lossy = false;
  EXPECT_EQ(WideToAnsi(u"a\u0100b", &lossy), "a?b");  // A macron is not in 1252
  EXPECT_TRUE(lossy);
  EXPECT_EQ(WideToAnsi(u"x\U0001F600y", &lossy), "x?y");  // one pair, one '?'
  EXPECT_TRUE(lossy);
  EXPECT_EQ(WideToAnsi(u"\u20AC\u00E9", &lossy), "\x80\xE9");
  EXPECT_FALSE(lossy);
}

TEST(CodePage, OemToAnsiKeepsLengthAndMapsLetters) {
  // "Müller_Ça ß│─┼░" in code page 437
  uint8_t name[] = {'M', 0x81, 'l', 'l', 'e', 'r', '_', 0x80, 'a', ' ', 0xE1, 0xB3, 0xC4, 0xC5, 0xB0};
  OemToAnsiInPlace(name, sizeof name);
  const uint8_t expected[] = {'M', 0xFC, 'l', 'l', 'e', 'r', '_', 0xC7, 'a', ' ', 0xDF, '|', '-', '+', '?'};
  EXPECT_EQ(0, std::memcmp(name, expected, sizeof name));
}

TEST(CodePage, OemToAnsiAgreesWithTheTablesWhereAnsiHasTheCharacter) {
  for (int b = 0; b < 256; ++b) {
    uint8_t byte = static_cast<uint8_t>(b);
    OemToAnsiInPlace(&byte, 1);
    char16_t oem = OemByteToWide(static_cast<uint8_t>(b));
    bool lossy = false;
    std::string ansi = WideToAnsi(WString(1, oem), &lossy);
    if (!lossy) {
      EXPECT_EQ(byte, static_cast<uint8_t>(ansi[0])) << "OEM byte " << b;
    } else {
      EXPECT_NE(byte, 0) << "OEM byte " << b << " has a best fit";
    }
  }
}

TEST(CodePage, Utf8RoundTripsWithSurrogatePairs) {
  WString text = u"plain \u00E9\u20AC \U0001F600 \u4E2D";
  std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "plain \xC3\xA9\xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\xAD");
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(CodePage, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");           // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");       // overlong '/'
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFDx");       // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82" "A"), u"\uFFFDA");        // the 'A' survives
  EXPECT_EQ(Utf16ToUtf8(WString(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(WString(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(CodePage, RandomUtf16SurvivesTheTripThroughUtf8) {
  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    WString text;
    int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) {
      char32_t cp = random() % 4 == 0 ? 0x10000 + random() % 0xFFFFF : random() % 0xD800;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        text.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
      } else {
        text.push_back(static_cast<char16_t>(cp));
      }
    }
    ASSERT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  }
}

TEST(CodePage, CollationByCodeUnitAndWithoutCase) {
  EXPECT_LT(CollateWide(u"B", u"a"), 0);  // 'B' < 'a' by code unit
  EXPECT_GT(CollateWideNoCase(u"B", u"a"), 0);
  EXPECT_EQ(CollateWideNoCase(u"UPK2.DLL", u"upk2.dll"), 0);
  EXPECT_EQ(CollateWideNoCase(u"\u00C4RGER", u"\u00E4rger"), 0);
  EXPECT_EQ(CollateWideNoCase(u"\u0160", u"\u0161"), 0);
  EXPECT_NE(CollateWideNoCase(u"\u00D7", u"\u00F7"), 0);  // multiply/divide are not letters
  EXPECT_LT(CollateWide(u"ab", u"abc"), 0);
  EXPECT_EQ(CollateWide(u"", u""), 0);
  // '_' sits between upper and lower case letters: folding moves it.
  EXPECT_LT(CollateWide(u"A", u"_"), 0);
  EXPECT_GT(CollateWideNoCase(u"A", u"_"), 0);
}

// Names are one name on Windows exactly when their units upper-case alike:
// Greek, Cyrillic and accented Latin fold as there; ß and ẞ do not, dotless
// ı upper-cases to I while dotted İ stays itself.
TEST(CodePage, NamesCompareAsWindowsUpperCasesThem) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool same;
  };
  const Case cases[] = {
      {u"\u0391\u0392\u0393\u0394/\u03A9\u03BC\u03AD\u03B3\u03B1-\u0416\u0443\u043A.txt",
       u"\u03B1\u03B2\u03B3\u03B4/\u03A9\u039C\u0388\u0393\u0391-\u0436\u0423\u041A.txt", true},
      {u"\u00C9t\u00E9 \u00C5ngstr\u00F6m", u"\u00E9T\u00C9 \u00E5NGSTR\u00D6M", true},
      {u"\u0152uvre \u0178", u"\u0153UVRE \u00FF", true},
      {u"\u03C3\u03C2", u"\u03A3\u03A3", true},     // both sigmas upper-case to one
      {u"stra\u00DFe", u"STRASSE", false},              // no full folding
      {u"\u00DF", u"\u1E9E", false},                    // ß and capital ẞ stay apart
      {u"\u0131", u"I", true},                           // dotless ı upper-cases to I
      {u"\u0131", u"i", true},
      {u"\u0130", u"i", false},                          // dotted İ is its own
      {u"\u00B5", u"\u039C", true},                     // micro sign and capital mu
      {u"\u00D7", u"\u00F7", false},
      {u"\u01C5", u"\u01C4", true},                      // title case Dž upper-cases to DŽ
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CollateWideNoCase(c.a, c.b) == 0, c.same) << Utf16ToUtf8(c.a) << " / " << Utf16ToUtf8(c.b);
    EXPECT_EQ(CollateWideNoCase(c.b, c.a) == 0, c.same) << Utf16ToUtf8(c.b);
  }
  EXPECT_EQ(UpperCaseWide(u'\u0436'), u'\u0416');
  EXPECT_EQ(UpperCaseWide(u'\u0416'), u'\u0416');
  EXPECT_EQ(UpperCaseWide(u'\uFF41'), u'\uFF21');  // fullwidth letters too
}
