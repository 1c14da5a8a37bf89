#include <gtest/gtest.h>

#include <random>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
using Args = std::vector<WString>;

TEST(CommandLine, SplitsByTheRuntimeRules) {
  EXPECT_EQ(SplitCommandLine(u"  a  b\tc "), (Args{u"a", u"b", u"c"}));
  EXPECT_EQ(SplitCommandLine(u"\"a b\" c"), (Args{u"a b", u"c"}));
  EXPECT_EQ(SplitCommandLine(u"a\\\\b c\\"), (Args{u"a\\\\b", u"c\\"}));   // literal backslashes
  EXPECT_EQ(SplitCommandLine(u"a\\\"b"), (Args{u"a\"b"}));                // \" is a quote
  EXPECT_EQ(SplitCommandLine(u"a\\\\\"b c\""), (Args{u"a\\b c"}));        // \\" halves, then quotes
  EXPECT_EQ(SplitCommandLine(u"a\\\\\\\"b"), (Args{u"a\\\"b"}));          // \\\" -> \"
  EXPECT_EQ(SplitCommandLine(u"\"\" x"), (Args{u"", u"x"}));              // empty argument
  EXPECT_EQ(SplitCommandLine(u"\"a\"\"b\" c"), (Args{u"a\"b", u"c"}));     // "" inside quotes
  EXPECT_EQ(SplitCommandLine(u"ab\"c d\"e f"), (Args{u"abc de", u"f"}));
  EXPECT_EQ(SplitCommandLine(u"\"open"), (Args{u"open"}));
  EXPECT_TRUE(SplitCommandLine(u"   ").empty());
  EXPECT_EQ(SplitCommandLine(u"\\tmp\\x\\QXSetup.exe /s"), (Args{u"\\tmp\\x\\QXSetup.exe", u"/s"}));
}

TEST(CommandLine, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(QuoteArgument(u"plain"), u"plain");
  EXPECT_EQ(QuoteArgument(u"C:\\dir\\"), u"C:\\dir\\");
  EXPECT_EQ(QuoteArgument(u""), u"\"\"");
  EXPECT_EQ(QuoteArgument(u"a b"), u"\"a b\"");
  EXPECT_EQ(QuoteArgument(u"dir with space\\"), u"\"dir with space\\\\\"");
  EXPECT_EQ(QuoteArgument(u"say \"hi\""), u"\"say \\\"hi\\\"\"");
  EXPECT_EQ(JoinCommandLine({u"/copystvar", u"x y", u""}), u"/copystvar \"x y\" \"\"");
}

// Any argument list survives joining and splitting: the hand-off of
// arguments through "qx.tmp" relies on it.
TEST(CommandLine, JoinThenSplitGivesTheArgumentsBack) {
  const char16_t alphabet[] = u"ab \\\"\t\u00E9x\\\\\"";
  std::mt19937 random(2024);
  for (int round = 0; round < 3000; ++round) {
    Args args(random() % 5);
    for (WString& arg : args) {
      size_t length = random() % 8;
      for (size_t i = 0; i < length; ++i) arg.push_back(alphabet[random() % (std::size(alphabet) - 1)]);
    }
    WString line = JoinCommandLine(args);
    ASSERT_EQ(SplitCommandLine(line), args) << plat::Utf16ToUtf8(line);
  }
}

TEST(CommandLine, ArgumentTextOfThisProcess) {
  char prog[] = "Setup";
  char a1[] = "/copystvar";
  char a2[] = "two words";
  char a3[] = "";
  char a4[] = "q\"uote";
  char* argv[] = {prog, a1, a2, a3, a4, nullptr};
  SetProcessArguments(5, argv);
  EXPECT_EQ(GetArgumentText(), u"/copystvar \"two words\" \"\" \"q\\\"uote\"");
  EXPECT_EQ(SplitCommandLine(GetArgumentText()), (Args{u"/copystvar", u"two words", u"", u"q\"uote"}));
  SetProcessArguments(1, argv);
  EXPECT_EQ(GetArgumentText(), u"");
}

TEST(RunProcess, ExitCodesComeBack) {
  uint32_t code = 12345;
  ASSERT_TRUE(RunProcessAndWait(u"\\bin\\sh -c \"exit 7\"", &code));
  EXPECT_EQ(code, 7u);
  ASSERT_TRUE(RunProcessAndWait(u"\\BIN\\SH -c \"exit 0\"", &code));  // case resolved
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(RunProcessAndWait(u"\\bin\\sh -c \"kill -TERM $$\"", &code));
  EXPECT_EQ(code, 128u + 15u);
}

TEST(RunProcess, ArgumentsAndDirectoryReachTheChild) {
  TempDir dir;
  ASSERT_TRUE(SetCurrentDirectory(dir.WinPath()));
  uint32_t code = 1;
  ASSERT_TRUE(RunProcessAndWait(
      u"\\bin\\sh -c \"printf '%s|' \\\"$@\\\" > out.txt; pwd >> out.txt\" sh \"a b\" \"\" \"c\\\"d\"",
      &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ptest::ReadText(dir.Path("out.txt")),
            "a b||c\"d|" + std::filesystem::canonical(dir.path()).string() + "\n");
  SetCurrentDirectory(u"\\");
}

TEST(RunProcess, FailuresToStartAreReported) {
  TempDir dir;
  uint32_t code = 99;
  EXPECT_FALSE(RunProcessAndWait(dir.WinPath("missing.exe"), &code));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(RunProcessAndWait(u"\"" + dir.WinPath("no dir\\missing.exe") + u"\"", &code));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  ptest::WriteText(dir.Path("plain.txt"), "not a program");
  EXPECT_FALSE(RunProcessAndWait(dir.WinPath("plain.txt"), &code));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  ptest::WriteText(dir.Path("garbage.exe"), std::string("\x7f" "ELF-not-really", 15));
  std::filesystem::permissions(dir.Path("garbage.exe"), std::filesystem::perms::owner_all);
  EXPECT_FALSE(RunProcessAndWait(dir.WinPath("garbage.exe"), &code));
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(code, 99u);

  EXPECT_FALSE(RunProcessAndWait(u"  ", &code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
