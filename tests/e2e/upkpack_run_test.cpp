// Setup on packages that upkpack built, in each of the archive's places.
#include <gtest/gtest.h>

#include <filesystem>

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

INSTANTIATE_TEST_SUITE_P(
    Places, UpkpackRunTest,
    ::testing::Values("", "--store --password 'pa ss'", "--archive data.zip",
                      "--archive data.zip --subdir disk1 --password pw",
                      "--archive 'data%d.zip' --split 1M",
                      "--archive '50%20off.zip' --subdir 'disk%d'", "--zip64",
                      "--zip64 --store --archive 'v%d.zip' --split 64k --password pw"));

}  // namespace
