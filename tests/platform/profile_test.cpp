#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/profile.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;

TEST(Profile, CreatesFileAndSection) {
  TempDir dir;
  ASSERT_TRUE(WriteProfileString(u"PARA", u"CommandString", u"/copystvar \"a b\"", dir.WinPath("qx.tmp")));
  EXPECT_EQ(ptest::ReadText(dir.Path("qx.tmp")), "[PARA]\nCommandString=/copystvar \"a b\"\n");
  EXPECT_EQ(ReadProfileString(u"para", u"commandstring", u"-", dir.WinPath("QX.TMP")),
            u"/copystvar \"a b\"");
}

TEST(Profile, ReplacesKeyAndKeepsOtherLines) {
  TempDir dir;
  ptest::WriteText(dir.Path("s.ini"),
                   "; comment\r\n[Other]\r\nKey=1\r\n\r\n[para]\r\ncommandstring = old\r\nKeep=yes\r\n");
  ASSERT_TRUE(WriteProfileString(u"PARA", u"CommandString", u"new", dir.WinPath("s.ini")));
  EXPECT_EQ(ptest::ReadText(dir.Path("s.ini")),
            "; comment\n[Other]\nKey=1\n\n[para]\nCommandString=new\nKeep=yes\n");
  ASSERT_TRUE(WriteProfileString(u"Other", u"Added", u"\u00E9", dir.WinPath("s.ini")));
  EXPECT_EQ(ReadProfileString(u"OTHER", u"added", u"", dir.WinPath("s.ini")), u"\u00E9");
  EXPECT_EQ(ReadProfileString(u"Other", u"Key", u"", dir.WinPath("s.ini")), u"1");
  // The new key went into its own section, before the blank line.
  EXPECT_NE(ptest::ReadText(dir.Path("s.ini")).find("Key=1\nAdded=\xC3\xA9\n\n[para]"), std::string::npos);
}

TEST(Profile, DefaultsAndRefusals) {
  TempDir dir;
  EXPECT_EQ(ReadProfileString(u"PARA", u"CommandString", u"dflt", dir.WinPath("none.ini")), u"dflt");
  ASSERT_TRUE(WriteProfileString(u"PARA", u"A", u"", dir.WinPath("p.ini")));
  EXPECT_EQ(ReadProfileString(u"PARA", u"A", u"dflt", dir.WinPath("p.ini")), u"");
  EXPECT_EQ(ReadProfileString(u"PARA", u"B", u"dflt", dir.WinPath("p.ini")), u"dflt");
  EXPECT_EQ(ReadProfileString(u"X", u"A", u"dflt", dir.WinPath("p.ini")), u"dflt");
  // A value with a line break would forge another entry: refused.
  EXPECT_FALSE(WriteProfileString(u"PARA", u"A", u"x\n[Evil]\nB=1", dir.WinPath("p.ini")));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadProfileString(u"Evil", u"B", u"none", dir.WinPath("p.ini")), u"none");
  EXPECT_FALSE(WriteProfileString(u"PARA", u"A", u"x", dir.WinPath("no dir\\p.ini")));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}
