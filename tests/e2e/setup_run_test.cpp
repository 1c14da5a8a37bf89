// The real Setup on working packages: exit codes, the arguments through
// "qx.tmp", "stvar.ini", the temporary directory, the restart, and the
// archive inside, beside, in a subdirectory, encrypted and split.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_harness.h"
#include "platform/dir_tree.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;
using upktest::ShellQuote;

namespace {

class SetupRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (upktest::BuildDir().empty()) GTEST_SKIP() << "UPK_BUILD_DIR is not set";
    ASSERT_NE(std::getenv("UPK_RESTART_COMMAND"), nullptr);
  }
  std::string ReportArg() { return ShellQuote("/report=" + report_); }
  e2e::Harness h;
  std::string report_ = h.Root("report.txt");
};

TEST_F(SetupRunTest, ExitCodeOfTheSetupProgramBecomesSetups) {
  h.Build("");
  // POSIX carries the low 8 bits of an exit code.
  for (int code : {0, 42, 3010}) {
    const auto run = h.Run(ReportArg() + " /exitcode=" + std::to_string(code));
    EXPECT_EQ(run.exitCode, code & 0xFF) << code << run.errors;
  }
  const auto report = h.Report(report_);
  EXPECT_EQ(report.at("exitcode"), "3010");
  // A clean run: no log, no message, the temporary directory gone.
  EXPECT_FALSE(h.HasLog());
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
}

TEST_F(SetupRunTest, ArgumentsReachTheProgramExactlyAsTyped) {
  h.Build("");
  const auto run = h.Run(ReportArg() + " 'Hello World' MiXeD '' 'say \"hi\"'");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const auto report = h.Report(report_);
  EXPECT_EQ(report.at("commandstring"),
            "/report=" + report_ + " \"Hello World\" MiXeD \"\" \"say \\\"hi\\\"\"");
  EXPECT_EQ(report.at("argument"), "/report=" + report_ + "\nHello World\nMiXeD\n\nsay \"hi\"");
  // It ran from the private temporary directory, with "qx.tmp" beside it.
  EXPECT_EQ(report.at("directory"), h.SysTmp("SetupTemp0"));
  EXPECT_EQ(report.at("qx.tmp"), "present");
}

TEST_F(SetupRunTest, SecondStageIsCalledWithThePackagesValues) {
  h.Build("--entry A11=" + ShellQuote(e2e::Harness::Fixture("upk2_fixture.so")) +
              " --init-value 4242 --open-value 9",
          false);
  const std::string record = h.Root("record.txt");
  const auto run = h.Run("a  B", "UPK2_FIXTURE_RECORD=" + ShellQuote(record) +
                                     " UPK2_FIXTURE_QXSETUP=" +
                                     ShellQuote(e2e::Harness::Built("lib/upk/QXSetup.exe")));
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const std::string calls = upktest::ReadFile(record);
  const auto setupSize = fs::file_size(e2e::Harness::Built("bin/Setup"));
  const auto libSize = fs::file_size(e2e::Harness::Built("lib/libupk4.so"));
  const std::string expected = "init setup=" + h.Pkg("Setup") + " temp=" + h.SysTmp("SetupTemp0/") +
                               " sum=" + std::to_string(2 * setupSize + libSize) +
                               " initvalue=4242 reserved=0 cwd=" + h.SysTmp("SetupTemp0") + "\n";
  EXPECT_EQ(calls.substr(0, expected.size()), expected);
  // "qx.tmp" was written before UPKInit; the shell passed "a" and "B".
  EXPECT_NE(calls.find("CommandString=a B"), std::string::npos) << calls;
  // UPKInitGetErrors right after UPKInit, UPKExit at the end; the other two
  // are bound but never called.
  EXPECT_NE(calls.find("\nerrors\nexit\n"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("expand"), std::string::npos);
  EXPECT_EQ(calls.find("init3"), std::string::npos);
}

TEST_F(SetupRunTest, EmptyArgumentTextGivesAnEmptyCommandString) {
  h.Build("--entry A11=" + ShellQuote(e2e::Harness::Fixture("upk2_fixture.so")), false);
  const std::string record = h.Root("record.txt");
  h.Run("", "UPK2_FIXTURE_RECORD=" + ShellQuote(record));
  const std::string calls = upktest::ReadFile(record);
  EXPECT_NE(calls.find("CommandString=\n"), std::string::npos) << calls;
}

TEST_F(SetupRunTest, CopyStvarCarriesTheSettingsInAndBack) {
  h.Build("");
  upktest::WriteFile(h.Pkg("stvar.ini"), "A");
  auto run = h.Run("/COPYstvar " + ReportArg() + " /writestvar=B");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(h.Report(report_).at("stvar.ini"), "present");
  EXPECT_EQ(upktest::ReadFile(h.Pkg("stvar.ini")), "B");

  // Without the switch nothing travels either way.
  run = h.Run(ReportArg() + " /writestvar=C");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(h.Report(report_).at("stvar.ini"), "absent");
  EXPECT_EQ(upktest::ReadFile(h.Pkg("stvar.ini")), "B");

  // No "stvar.ini" beside Setup: the first copy fails quietly, the one the
  // program writes comes back.
  fs::remove(h.Pkg("stvar.ini"));
  run = h.Run("/copystvar " + ReportArg() + " /writestvar=D");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(h.Report(report_).at("stvar.ini"), "absent");
  EXPECT_EQ(upktest::ReadFile(h.Pkg("stvar.ini")), "D");
}

TEST_F(SetupRunTest, LeftoverTemporaryDirectoryIsSweptAndReused) {
  h.Build("");
  upktest::WriteFile(h.SysTmp("SetupTemp0/upk4.dll"), "left over");
  upktest::WriteFile(h.SysTmp("SetupTemp3/sub/Upk2.dll"), "left over");
  const auto run = h.Run(ReportArg());
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(h.Report(report_).at("directory"), h.SysTmp("SetupTemp0"));
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp3")));
}

TEST_F(SetupRunTest, LiveRunsDirectoryIsNeverSwept) {
  h.Build("");
  upktest::WriteFile(h.SysTmp("SetupTemp0/upk2.dll"), "in use");
  plat::DirectoryLock live;
  ASSERT_TRUE(live.Acquire(upktest::WinPath(h.SysTmp("SetupTemp0"))));
  const auto run = h.Run(ReportArg());
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(h.Report(report_).at("directory"), h.SysTmp("SetupTemp1"));
  EXPECT_EQ(upktest::ReadFile(h.SysTmp("SetupTemp0/upk2.dll")), "in use");
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp1")));
}

TEST_F(SetupRunTest, BlankInTheTemporaryPathCannotStartAnotherProgram) {
  // Unquoted, "<root>/sys tmp/SetupTemp0/QXSetup.exe" would start "<root>/sys".
  h.SetSysTmp(h.Root("sys tmp"));
  fs::create_directories(h.SysTmp());
  const std::string decoy = h.Root("sys");
  upktest::WriteFile(decoy, "#!/bin/sh\ntouch " + ShellQuote(h.Root("decoy-ran")) + "\nexit 99\n");
  fs::permissions(decoy, fs::perms::owner_all);
  h.Build("");
  const auto run = h.Run(ReportArg() + " /exitcode=5");
  EXPECT_EQ(run.exitCode, 5) << run.errors;
  EXPECT_FALSE(fs::exists(h.Root("decoy-ran")));
  EXPECT_EQ(h.Report(report_).at("directory"), h.SysTmp("SetupTemp0"));
}

TEST_F(SetupRunTest, RestartRequestedBySetupProgram) {
  h.Build("");
  const std::string flag = h.Root("restarted");
  auto run = h.Run("/exitcode=1641 /copystvar /writestvar=X", "", "touch " + ShellQuote(flag));
  EXPECT_EQ(run.exitCode, 1641 & 0xFF) << run.errors;
  EXPECT_TRUE(fs::exists(flag));
  // The clean-up ran before the restart: directory gone, and so nothing to
  // copy back.
  EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
  EXPECT_FALSE(fs::exists(h.Pkg("stvar.ini")));

  run = h.Run("/exitcode=1641", "", "false");
  EXPECT_EQ(run.exitCode, 3010 & 0xFF) << run.errors;
  EXPECT_NE(run.errors.find("Shutdown-Error\n"), std::string::npos) << run.errors;
}

class ArchiveLocationTest : public SetupRunTest {
 protected:
  void ExpectRuns() {
    const auto run = h.Run(ReportArg() + " /exitcode=3");
    EXPECT_EQ(run.exitCode, 3) << run.errors << h.Log();
    EXPECT_FALSE(h.HasLog()) << h.Log();
    EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0")));
  }
};

TEST_F(ArchiveLocationTest, Inside) {
  h.Build("--stored");
  ExpectRuns();
}

TEST_F(ArchiveLocationTest, InsideEncrypted) {
  h.Build("--password s3cret --config 'x|s3cret'");
  ExpectRuns();
}

TEST_F(ArchiveLocationTest, Beside) {
  h.Build("--archive data.zip --config '.|-|data.zip'");
  ExpectRuns();
}

TEST_F(ArchiveLocationTest, InASubdirectoryEncrypted) {
  h.Build("--archive disk1/data.zip --password pw --config 'disk1\\|pw|data.zip'");
  ExpectRuns();
}

TEST_F(ArchiveLocationTest, SplitIntoVolumes) {
  h.Build("--archive 'data%d.zip' --split 1m --flags 1 --config '.|-|data%d.zip'");
  ASSERT_TRUE(fs::exists(h.Pkg("data2.zip"))) << "the payload should span volumes";
  ExpectRuns();
}

TEST(PackageImages, NoProgramImageCarriesTheMarker) {
  if (upktest::BuildDir().empty()) GTEST_SKIP();
  // Any of these may lie in a package's last 30720 bytes.
  const std::string marker = std::string(">QXI") + "NST_" + "SETUP<";
  for (const char* image : {"bin/Setup", "lib/libupk4.so", "lib/upk/upk2.so",
                            "lib/upk/QXSetup.exe"}) {
    const std::string path = e2e::Harness::Built(image);
    if (!upktest::FileExists(path)) continue;
    EXPECT_EQ(upktest::ReadFile(path).find(marker), std::string::npos) << image;
  }
}

}  // namespace
