// Setup on packages that upkpack built, in each of the archive's places.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace fs = std::filesystem;
using upktest::ShellQuote;

namespace {

class UpkpackRunTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UpkpackRunTest, RunsTheSetupProgramAndCleansUp) {
  const std::string upkpack = e2e::Harness::Built("bin/upkpack");
  if (upktest::BuildDir().empty() || !upktest::FileExists(upkpack)) GTEST_SKIP();
  e2e::Harness h;
  upktest::WriteFile(h.Root("payload/readme.txt"), upktest::MakeTextLikeData(200000, 7));
  ASSERT_EQ(upktest::RunCommand(ShellQuote(upkpack) + " -q -o " + ShellQuote(h.Pkg("Setup")) + " " +
                                GetParam() + " " + ShellQuote(h.Root("payload"))),
            0);
  const std::string report = h.Root("report.txt");
  const auto run = h.Run(ShellQuote("/report=" + report) + " /exitcode=12");
  EXPECT_EQ(run.exitCode, 12) << run.errors << h.Log();
  EXPECT_FALSE(h.HasLog()) << h.Log();
  EXPECT_EQ(h.Report(report).at("directory"), h.SysTmp("SetupTemp0"));
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
}

// Saved as "Setup%20x64" into a folder "dl%20x%d" (as a browser may name
// them): nothing in the package's own path is taken for a pattern.
TEST_P(UpkpackRunTest, RunsFromAnyFolderUnderAnyName) {
  const std::string upkpack = e2e::Harness::Built("bin/upkpack");
  if (upktest::BuildDir().empty() || !upktest::FileExists(upkpack)) GTEST_SKIP();
  e2e::Harness h;
  upktest::WriteFile(h.Root("payload/readme.txt"), "hello");
  const std::string folder = h.Root("dl%20x%d");
  fs::create_directories(folder);
  ASSERT_EQ(upktest::RunCommand(ShellQuote(upkpack) + " -q -o " +
                                ShellQuote(folder + "/Setup%20x64") + " " + GetParam() + " " +
                                ShellQuote(h.Root("payload"))),
            0);
  const int code = upktest::RunCommand(
      "cd " + ShellQuote(folder) + " && env TMPDIR=" + ShellQuote(h.SysTmp()) +
      " UPK_RESTART_COMMAND=true ./Setup%20x64 /exitcode=12 >/dev/null 2>&1");
  EXPECT_EQ(code, 12) << h.Log();
  EXPECT_FALSE(h.HasLog()) << h.Log();
  EXPECT_TRUE(fs::is_empty(h.SysTmp()));
}

// Names beyond ASCII are stored in UTF-8 (flag bit 11), read back whole by
// a real reader, by the upk4 tool and by Setup's second stage; links in the
// payload are refused unless --dereference takes what they point to.
TEST(UpkpackNames, GreekCyrillicAndAccentedNamesRoundTripThroughSetup) {
  const std::string upkpack = e2e::Harness::Built("bin/upkpack");
  if (upktest::BuildDir().empty() || !upktest::FileExists(upkpack)) GTEST_SKIP();
  e2e::Harness h;
  const std::vector<std::string> names = {
      "\u00dcn\u00efc\u00f6d\u00e9 dir/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/\u03b1.txt",
      "\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430.txt", "plain.txt"};
  for (const std::string& name : names) upktest::WriteFile(h.Root("payload/" + name), name);
  fs::create_symlink(h.Root("payload/plain.txt"), h.Root("payload/link.txt"));
  const std::string pack = ShellQuote(upkpack) + " -q -o " + ShellQuote(h.Pkg("Setup")) + " " +
                           ShellQuote(h.Root("payload") + "/.");
  std::string out;
  EXPECT_NE(upktest::RunCommand(pack + " 2>&1", &out), 0);
  EXPECT_NE(out.find("--dereference"), std::string::npos) << out;
  EXPECT_EQ(out.back(), '\n');
  ASSERT_EQ(upktest::RunCommand(pack + " --dereference 2>&1", &out), 0) << out;

  // A real reader sees the names whole, marked as UTF-8.
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    if i.filename not in ('A11', 'QXSetup.exe'):\n"
      "        print(i.filename, i.flag_bits & 0x800, z.read(i).decode() if not i.is_dir() else '')\n";
  upktest::WriteFile(h.Root("read.py"), script);
  ASSERT_EQ(upktest::RunCommand("python3 " + ShellQuote(h.Root("read.py")) + " " +
                                ShellQuote(h.Pkg("Setup")), &out), 0);
  for (const std::string& name : names) {
    const bool ascii = name == "plain.txt";
    EXPECT_NE(out.find(name + (ascii ? " 0 " : " 2048 ") + name), std::string::npos) << out;
  }
  EXPECT_NE(out.find("link.txt 0 plain.txt"), std::string::npos) << out;

  const std::string tool = e2e::Harness::Built("bin/upk4");
  ASSERT_EQ(upktest::RunCommand(ShellQuote(tool) + " extract " + ShellQuote(h.Pkg("Setup")) + " " +
                                ShellQuote(h.Root("out") + "/") + " >/dev/null 2>&1"), 0);
  for (const std::string& name : names) EXPECT_EQ(upktest::ReadFile(h.Root("out/" + name)), name);

  const auto run = h.Run("/exitcode=7");
  EXPECT_EQ(run.exitCode, 7) << run.errors << h.Log();
  EXPECT_FALSE(h.HasLog()) << h.Log();
}

INSTANTIATE_TEST_SUITE_P(
    Places, UpkpackRunTest,
    ::testing::Values("", "--store --password 'pa ss'", "--archive data.zip",
                      "--archive data.zip --subdir disk1 --password pw",
                      "--archive 'data%d.zip' --split 1M",
                      "--archive '50%20off.zip' --subdir 'disk%d'", "--zip64",
                      "--zip64 --store --archive 'v%d.zip' --split 64k --password pw"));

}  // namespace
