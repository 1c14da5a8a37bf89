// The run's phases over the fake seam: the hand-off up to the setup
// program's exit code, the end of the run (restart, or "stvar.ini" back, and
// the clean-up, in that order), and the error report's messages and log.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fake_platform.h"
#include "platform/code_page.h"
#include "setup/setup_app.h"

namespace {

int g_initResult = 1;
int g_exitCalls = 0;
int32_t FakeUpkInit(const char16_t*, const char16_t*, int32_t, int32_t, int32_t) {
  return g_initResult;
}
const char* FakeInitErrors() { return ""; }
void FakeUpkExit() { ++g_exitCalls; }

// The state the preparation leaves behind when upk2 is loaded.
class TestApp : public CSetupApp {
 public:
  explicit TestApp(SetupPlatform* p, bool copyStvar = false) : CSetupApp(p) {
    m_strTempDir = u"\\tmp\\SetupTemp0\\";
    m_strModuleDir = u"\\pkg\\";
    m_bTempDirCreated = true;
    m_bCopyStvar = copyStvar;
    m_hUpk2 = this;  // any non-null handle; the fake frees nothing
    UPKInit = &FakeUpkInit;
    UPKInitGetErrors = &FakeInitErrors;
    UPKExit = &FakeUpkExit;
  }
  void SetArguments(plat::WStringView text) { m_lpCmdLine = plat::WString(text); }
  void DiscardTempDir() { m_bDiscardTempDir = true; }
  bool ProgramRan() const { return m_bProgramRan; }
};

class PhasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_initResult = 1;
    g_exitCalls = 0;
  }
  bool Before(const std::string& first, const std::string& second) const {
    const int a = fake.Find(first), b = fake.Find(second);
    return a >= 0 && b >= 0 && a < b;
  }
  FakeSetupPlatform fake;
};

TEST_F(PhasesTest, EndOfTheRunRestartsOrCarriesStvarBackAndCleansUpOnce) {
  const struct {
    const char* name;
    std::optional<int32_t> programExitCode;
    bool copyBack, restart;
  } cases[] = {
      {"program ended", 0, true, false},
      {"reboot required is only an exit code", 3010, true, false},
      {"restart requested", 1641, false, true},
      {"hand-off ended before the program", std::nullopt, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake = FakeSetupPlatform();
    g_exitCalls = 0;
    TestApp app(&fake, /*copyStvar=*/true);
    app.EndRun(c.programExitCode);

    ASSERT_EQ(fake.copies.size(), c.copyBack ? 1u : 0u);
    if (c.copyBack) {
      EXPECT_EQ(fake.copies[0].from, u"\\tmp\\SetupTemp0\\stvar.ini");
      EXPECT_EQ(fake.copies[0].to, u"\\pkg\\stvar.ini");
      EXPECT_TRUE(Before("CopyFile", "DeleteTree"));
    }
    EXPECT_EQ(fake.restarts.size(), c.restart ? 1u : 0u);
    if (c.restart) {
      EXPECT_EQ(fake.sleeps.front(), 400u);
      EXPECT_TRUE(Before("DeleteTree", "RequestRestart"));
    }
    // The clean-up's work is done once, whatever the way.
    EXPECT_EQ(g_exitCalls, 1);
    EXPECT_EQ(fake.freedLibraries, 1);
    EXPECT_EQ(fake.treeCalls, 1);
  }
}

TEST_F(PhasesTest, SecondCleanUpLeavesADiscardedDirectoryAlone) {
  TestApp app(&fake);
  app.DiscardTempDir();
  app.CleanUp();
  const std::vector<std::string> first = fake.calls;
  fake.existing.push_back(u"\\tmp\\SetupTemp0");  // by now another run's
  app.CleanUp();
  EXPECT_EQ(fake.treeCalls, 1);
  EXPECT_EQ(g_exitCalls, 1);
  // Only the plain removal of an empty directory, on the same name.
  EXPECT_EQ(std::vector<std::string>(fake.calls.begin() + first.size(), fake.calls.end()),
            std::vector<std::string>{"RemoveDirectory"});
  EXPECT_EQ(fake.removedDirectories,
            (std::vector<plat::WString>{u"\\tmp\\SetupTemp0", u"\\tmp\\SetupTemp0"}));
  EXPECT_EQ(app.TempDir(), u"\\tmp\\SetupTemp0\\");
}

// Where no one sees the boxes, the restart's error reaches the log, which is
// written before the request and again after it.
TEST_F(PhasesTest, RestartErrorsReachTheLogThroughTheSeam) {
  fake.windowStationVisible = false;
  fake.restartWorks = false;
  TestApp app(&fake);
  app.AddErrorCode(1168);
  app.CleanUpAndRestart();
  EXPECT_EQ(app.ExitCode(), 3010);
  ASSERT_EQ(fake.newFiles.size(), 2u);
  EXPECT_TRUE(Before("WriteNewFile", "RequestRestart"));
  EXPECT_EQ(fake.newFiles[1].path, u"\\tmp\\qxi_setup.log");
  const std::vector<uint8_t>& log = fake.newFiles[1].bytes;
  const plat::WString text(reinterpret_cast<const char16_t*>(log.data()), log.size() / 2);
  EXPECT_EQ(text.rfind(u"Setup-ErrorCodes: 1168 (", 0), 0u) << plat::Utf16ToUtf8(text);
  EXPECT_NE(text.find(u"Shutdown-Error\n"), plat::WString::npos);
  ASSERT_EQ(fake.boxes.size(), 1u);
}

TEST_F(PhasesTest, LogGoesToTheSystemTemporaryPathReplacingTheOldOne) {
  fake.tempPath = u"\\var\\tmp";  // without its separator
  TestApp app(&fake);
  app.WriteErrorLog();
  EXPECT_TRUE(fake.calls.empty());  // nothing to report: nothing written
  app.AddErrorCode(2);
  app.WriteErrorLog();
  EXPECT_EQ(fake.deletedFiles, std::vector<plat::WString>{u"\\var\\tmp\\qxi_setup.log"});
  ASSERT_EQ(fake.newFiles.size(), 1u);
  EXPECT_TRUE(Before("DeleteFile", "WriteNewFile"));
  // No temporary path that can be named: no log at all.
  fake = FakeSetupPlatform();
  fake.tempPath.clear();
  TestApp nowhere(&fake);
  nowhere.AddErrorCode(2);
  nowhere.WriteErrorLog();
  EXPECT_TRUE(fake.newFiles.empty());
}

TEST_F(PhasesTest, HandOffGivesTheProgramsExitCodeOnlyWhenItsTurnCame) {
  const plat::WString program = u"\\tmp\\SetupTemp0\\QXSetup.exe";
  const struct {
    const char* name;
    int initResult;
    bool programPresent, upk4Present, programStarts;
    std::optional<int32_t> exitCode;
    const char16_t* errors;  // start of the error list
    const char16_t* box;     // start of the message, or null for none
  } cases[] = {
      {"go on", 1, true, true, true, 42, u"", nullptr},
      {"program cannot start", 1, true, true, false, 0, u"1603 (2), ", nullptr},
      {"cancelled", 1602, true, true, true, std::nullopt, u"1602 (", nullptr},
      {"failure reported", 0, true, true, true, std::nullopt, u"", u"Error!\nSetup cannot be"},
      {"failure kept quiet", 7, true, true, true, std::nullopt, u"", nullptr},
      {"program removed", 1, false, true, true, std::nullopt, u"1168 (",
       u"Error!\nsetup file not found"},
      {"nothing extracted", 0, false, false, true, std::nullopt, u"1168 (", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake = FakeSetupPlatform();
    fake.programExitCode = 42;
    fake.programStarts = c.programStarts;
    if (!c.programPresent) fake.missing.push_back(program);
    if (!c.upk4Present) fake.missing.push_back(u"\\tmp\\SetupTemp0\\UPK4.dll");
    g_initResult = c.initResult;
    TestApp app(&fake, /*copyStvar=*/true);
    app.SetArguments(u"/a \"b c\"");

    EXPECT_EQ(app.HandOff(), c.exitCode);
    EXPECT_EQ(app.ErrorCodes().substr(0, std::char_traits<char16_t>::length(c.errors)),
              c.errors);
    ASSERT_EQ(fake.boxes.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(fake.boxes[0].text.rfind(c.box, 0), 0u);
    }
    // "qx.tmp" is made new, with the arguments as typed.
    ASSERT_EQ(fake.profiles.size(), 1u);
    EXPECT_EQ(fake.profiles[0].path, u"\\tmp\\SetupTemp0\\qx.tmp");
    EXPECT_EQ(fake.profiles[0].value, u"/a \"b c\"");
    EXPECT_TRUE(Before("DeleteFile", "WriteNewProfileFile"));
    if (!c.exitCode) {
      EXPECT_TRUE(fake.started.empty());
      EXPECT_TRUE(fake.copies.empty());
      continue;
    }
    // "stvar.ini" in, the program alone (its arguments are in "qx.tmp"),
    // then the system temporary path.
    EXPECT_EQ(app.ProgramRan(), c.programStarts);
    EXPECT_EQ(fake.started, std::vector<plat::WString>{program});
    ASSERT_EQ(fake.copies.size(), 1u);
    EXPECT_EQ(fake.copies[0].to, u"\\tmp\\SetupTemp0\\stvar.ini");
    EXPECT_TRUE(Before("CopyFile", "RunProcessAndWait"));
    EXPECT_TRUE(Before("RunProcessAndWait", "SetCurrentDirectory"));
    EXPECT_EQ(fake.currentDirectory, plat::WString(u"\\tmp\\"));
  }
}

// A clean-up that starts inside our directory leaves it first, so that the
// directory can go.
TEST_F(PhasesTest, CleanUpLeavesTheTemporaryDirectoryBeforeRemovingIt) {
  fake.currentDirectory = u"\\TMP\\setuptemp0";
  TestApp app(&fake);
  app.CleanUp();
  EXPECT_EQ(fake.currentDirectory, plat::WString(u"\\tmp\\"));
  EXPECT_TRUE(Before("SetCurrentDirectory", "DeleteTree"));
}

}  // namespace
