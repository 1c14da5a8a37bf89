// Every failure that Setup reports: the codes in "qxi_setup.log" with their
// last-error values, the messages on standard error, the exit code 1603
// (1602 for a cancel) in its 8 bits, and
// the temporary directory that a failed preparation leaves to the next sweep.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "e2e_harness.h"

namespace fs = std::filesystem;
using upktest::ShellQuote;

namespace {

const char kNotFoundText[] = "Error!\nsetup file not found (deleted by an antivirus protector?)\n";
const char kCannotContinue[] = "Error!\nSetup cannot be continued.\n";

class SetupErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (upktest::BuildDir().empty()) GTEST_SKIP() << "UPK_BUILD_DIR is not set";
  }
  static std::string Fixture(const char* name) {
    return ShellQuote(e2e::Harness::Fixture(name));
  }
  static std::string QxSetup() { return ShellQuote(e2e::Harness::Built("lib/upk/QXSetup.exe")); }
  // A package whose second stage is the steerable stand-in.
  void BuildWithFixture(const char* upk2 = "upk2_fixture.so") {
    h.Build("--entry A11=" + Fixture(upk2), false);
  }
  void ExpectLog(const std::string& pattern) {
    const std::string log = h.Log();
    EXPECT_TRUE(std::regex_match(log, std::regex("Setup-ErrorCodes: " + pattern))) << log;
  }
  e2e::Harness h;
};

TEST_F(SetupErrorTest, NoMarker) {
  h.Build("--no-marker");
  const auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(2 \(-?\d+\), 1168 \(2\), )");
  // Nothing was copied, so no "UPK4.dll": no message.
  EXPECT_EQ(run.errors.find("setup file not found"), std::string::npos) << run.errors;
}

TEST_F(SetupErrorTest, MarkerBeyondTheWindow) {
  // 30706 bytes after the marker still work; one more and it is not found.
  h.Build("--tail 30706");
  EXPECT_EQ(h.Run("/exitcode=9").exitCode, 9);
  h.Build("--tail 30707");
  EXPECT_EQ(h.Run("/exitcode=9").exitCode, e2e::kFailedStatus);
  ExpectLog(R"(2 \(-?\d+\), 1168 \(2\), )");
}

TEST_F(SetupErrorTest, TrailerThatDoesNotFitTheFileCountsAsNoMarker) {
  h.Build("--library-end 2000000000");
  EXPECT_EQ(h.Run("").exitCode, e2e::kFailedStatus);
  ExpectLog(R"(2 \(-?\d+\), 1168 \(2\), )");
  h.Build("--library-start 5000 --library-end 4000");
  h.Run("");
  ExpectLog(R"(2 \(-?\d+\), 1168 \(2\), )");
  h.Build("--config-length -20 --config 'x'");
  h.Run("");
  ExpectLog(R"(2 \(-?\d+\), 1168 \(2\), )");
}

TEST_F(SetupErrorTest, Upk4NotLoadable) {
  upktest::WriteFile(h.Root("garbage.dll"), std::string(5000, 'g'));
  h.Build("--upk4 " + ShellQuote(h.Root("garbage.dll")));
  const auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(4 \(193\), 1168 \(2\), )");
  // "UPK4.dll" is there, so the missing program is announced.
  EXPECT_NE(run.errors.find(kNotFoundText), std::string::npos) << run.errors;
  // A failed preparation removes its directory as well.
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
  h.Build("");
  EXPECT_EQ(h.Run("/exitcode=4").exitCode, 4);
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
}

TEST_F(SetupErrorTest, Upk4WithoutUnpackAddsNoCodeAndSkipsUpk2) {
  h.Build("--upk4 " + Fixture("upk4_without_unpack.so"));
  const auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(1168 \(2\), )");
  EXPECT_NE(run.errors.find(kNotFoundText), std::string::npos) << run.errors;
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0/Upk2.dll")));
}

TEST_F(SetupErrorTest, Upk2Missing) {
  h.Build("--entry QXSetup.exe=" + QxSetup(), false);
  const auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(3 \(126\), 1168 \(2\), )");
}

TEST_F(SetupErrorTest, Upk2EntryPointMissing) {
  BuildWithFixture("upk2_fixture_without_init3.so");
  const std::string record = h.Root("record.txt");
  const auto run = h.Run("", "UPK2_FIXTURE_RECORD=" + ShellQuote(record));
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(5 \(127\), 1168 \(2\), )");
  // Never initialised, never shut down.
  EXPECT_FALSE(upktest::FileExists(record));
}

TEST_F(SetupErrorTest, SetupProgramMissing) {
  BuildWithFixture();
  auto run = h.Run("");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  ExpectLog(R"(1168 \(2\), )");
  EXPECT_NE(run.errors.find(kNotFoundText), std::string::npos) << run.errors;
  // The second stage ran, so the clean-up removes the directory.
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));

  // Without "UPK4.dll" the code stays and the message does not come.
  run = h.Run("", "UPK2_FIXTURE_DELETE_UPK4=1");
  ExpectLog(R"(1168 \(2\), )");
  EXPECT_EQ(run.errors.find("setup file not found"), std::string::npos) << run.errors;
}

TEST_F(SetupErrorTest, InitResults) {
  BuildWithFixture();
  const std::string report = h.Root("report.txt");
  const std::string env = "UPK2_FIXTURE_QXSETUP=" + QxSetup();
  const std::string args = ShellQuote("/report=" + report) + " /exitcode=8";

  // 0: the message, no code, the program not started.
  auto run = h.Run(args, env + " UPK2_FIXTURE_RESULT=0");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  EXPECT_NE(run.errors.find(kCannotContinue), std::string::npos) << run.errors;
  EXPECT_FALSE(h.HasLog()) << h.Log();
  EXPECT_FALSE(upktest::FileExists(report));

  // 1602: the user cancelled; code only.
  run = h.Run(args, env + " UPK2_FIXTURE_RESULT=1602");
  EXPECT_EQ(run.exitCode, e2e::kCancelledStatus);
  ExpectLog(R"(1602 \(-?\d+\), )");
  EXPECT_TRUE(run.errors.empty()) << run.errors;
  EXPECT_FALSE(upktest::FileExists(report));

  // Anything else: quietly failed.
  fs::remove(h.SysTmp("qxi_setup.log"));
  run = h.Run(args, env + " UPK2_FIXTURE_RESULT=7");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  EXPECT_TRUE(run.errors.empty()) << run.errors;
  EXPECT_FALSE(h.HasLog()) << h.Log();
  EXPECT_FALSE(upktest::FileExists(report));

  // 1: the program runs.
  run = h.Run(args, env);
  EXPECT_EQ(run.exitCode, 8) << run.errors;
  EXPECT_TRUE(upktest::FileExists(report));
}

TEST_F(SetupErrorTest, SecondStageErrorTextGoesToTheLogUnchanged) {
  BuildWithFixture();
  h.Run("", "UPK2_FIXTURE_QXSETUP=" + QxSetup() +
                " UPK2_FIXTURE_RESULT=1602 UPK2_FIXTURE_ERRORS='upk2: bad (x), '");
  ExpectLog(R"(upk2: bad \(x\), 1602 \(-?\d+\), )");
}

TEST_F(SetupErrorTest, NoFreeTemporaryDirectory) {
  // Every name taken by another user's directory.
  for (int n = 0; n < 200; ++n) fs::create_directory(h.SysTmp("SetupTemp" + std::to_string(n)));
  if (upktest::RunCommand("chown 65534 " + ShellQuote(h.SysTmp()) + "/SetupTemp* 2>/dev/null") !=
      0) {
    GTEST_SKIP() << "cannot give directories to another user here";
  }
  h.Build("");
  const auto run = h.Run("/exitcode=3");
  EXPECT_EQ(run.exitCode, e2e::kFailedStatus);
  EXPECT_NE(run.errors.find("Kein TempDir????"), std::string::npos) << run.errors;
  // No directory of its own: nothing is handed off (no "qx.tmp" with the
  // arguments in the shared path), so the log ends with code 8.
  ExpectLog(R"(8 \(-?\d+\), )");
  EXPECT_FALSE(fs::exists(h.SysTmp("qx.tmp")));
  EXPECT_FALSE(fs::exists(h.SysTmp("upk4.dll")));
  // The other user's directories are untouched.
  EXPECT_TRUE(fs::exists(h.SysTmp("SetupTemp0")));
  EXPECT_TRUE(fs::exists(h.SysTmp("SetupTemp199")));
}

}  // namespace
