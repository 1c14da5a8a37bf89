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

INSTANTIATE_TEST_SUITE_P(
    Places, UpkpackRunTest,
    ::testing::Values("", "--store --password 'pa ss'", "--archive data.zip",
                      "--archive data.zip --subdir disk1 --password pw",
                      "--archive 'data%d.zip' --split 1M", "--zip64",
                      "--zip64 --store --archive 'v%d.zip' --split 64k --password pw"));

}  // namespace
