// Clean-up and restart over the fake seam: retries without sleeping, and
// every branch of the restart without restarting anything.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "setup/setup_app.h"

namespace {

int g_exitCalls = 0;
void FakeUpkExit() { ++g_exitCalls; }

// Reaches into the run's state the way the phases before clean-up leave it.
class TestApp : public CSetupApp {
 public:
  explicit TestApp(SetupPlatform* p) : CSetupApp(p) {}
  void AsAfterHandOff() {
    m_strTempDir = u"\\tmp\\SetupTemp0\\";
    m_hUpk2 = this;  // any non-null handle; the fake frees nothing
    UPKExit = &FakeUpkExit;
    m_bTempDirCreated = true;
  }
  bool Upk2Loaded() const { return m_hUpk2 != nullptr || UPKExit != nullptr; }
  bool NtPlatform() const { return m_bNtPlatform; }
};

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override { g_exitCalls = 0; }
  size_t Pauses(uint32_t ms) const {
    return static_cast<size_t>(std::count(fake.sleeps.begin(), fake.sleeps.end(), ms));
  }
  FakeSetupPlatform fake;
};

TEST_F(CleanUpTest, RemovedAtOnceShutsUpk2DownOnce) {
  TestApp app(&fake);
  app.AsAfterHandOff();
  app.CleanUp();
  EXPECT_EQ(g_exitCalls, 1);
  EXPECT_EQ(fake.freedLibraries, 1);
  EXPECT_FALSE(app.Upk2Loaded());
  EXPECT_EQ(fake.treeCalls, 1);
  EXPECT_EQ(Pauses(25), 0u);
  // The run's paths are left as they were.
  EXPECT_EQ(app.TempDir(), u"\\tmp\\SetupTemp0\\");

  // A second clean-up neither calls UPKExit again nor touches the files.
  app.CleanUp();
  EXPECT_EQ(g_exitCalls, 1);
  EXPECT_EQ(fake.freedLibraries, 1);
  EXPECT_TRUE(fake.deletedFiles.empty());
}

TEST_F(CleanUpTest, LockedDirectoryGivesUpAfter121Attempts) {
  fake.treeSucceedsAt = 0;
  fake.existing = {u"\\tmp\\SetupTemp0\\upk3.dll"};
  TestApp app(&fake);
  app.AsAfterHandOff();
  app.CleanUp();
  EXPECT_EQ(Pauses(25), 121u);
  EXPECT_EQ(fake.treeCalls, 121);
  // The three files are retried with every pause.
  EXPECT_EQ(fake.deletedFiles.size(), 3u * 121u);
  EXPECT_EQ(fake.deletedFiles[0], u"\\tmp\\SetupTemp0\\upk2.dll");
  EXPECT_EQ(fake.deletedFiles[1], u"\\tmp\\SetupTemp0\\upk3.dll");
  EXPECT_EQ(fake.deletedFiles[2], u"\\tmp\\SetupTemp0\\upk4.dll");
  // Only upk3.dll is left for the next system start.
  ASSERT_EQ(fake.delayedDeletes.size(), 1u);
  EXPECT_EQ(fake.delayedDeletes[0], u"\\tmp\\SetupTemp0\\upk3.dll");
}

TEST_F(CleanUpTest, RetriesStopAsSoonAsTheTreeGoes) {
  fake.treeSucceedsAt = 3;
  TestApp app(&fake);
  app.AsAfterHandOff();
  app.CleanUp();
  EXPECT_EQ(fake.treeCalls, 3);
  EXPECT_EQ(Pauses(25), 2u);
  EXPECT_TRUE(fake.delayedDeletes.empty());
}

TEST_F(CleanUpTest, FailedPreparationLeavesUpk2Alone) {
  TestApp app(&fake);  // upk2 never loaded
  app.CleanUp();
  EXPECT_EQ(g_exitCalls, 0);
  EXPECT_EQ(fake.treeCalls, 0);
  EXPECT_EQ(fake.freedLibraries, 0);
}

class RestartTest : public CleanUpTest {
 protected:
  int Restart() {
    TestApp app(&fake);
    app.AsAfterHandOff();
    app.CleanUpAndRestart();
    nt_ = app.NtPlatform();
    return app.ExitCode();
  }
  bool ShownShutdownError() const {
    for (const auto& b : fake.boxes)
      if (b.text.rfind(u"Shutdown-Error\n", 0) == 0 && b.caption == u"Error") return true;
    return false;
  }
  bool nt_ = false;
};

TEST_F(RestartTest, CleansUpFirstAfterAPause) {
  EXPECT_EQ(Restart(), 1641);
  ASSERT_FALSE(fake.sleeps.empty());
  EXPECT_EQ(fake.sleeps.front(), 400u);
  EXPECT_EQ(g_exitCalls, 1);
  EXPECT_EQ(fake.treeCalls, 1);
  EXPECT_EQ(fake.restarts, std::vector<bool>{true});
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_TRUE(nt_);
}

TEST_F(RestartTest, TokenThatCannotBeOpenedStopsWith3010) {
  fake.tokenOpens = false;
  EXPECT_EQ(Restart(), 3010);
  EXPECT_TRUE(ShownShutdownError());
  EXPECT_TRUE(fake.restarts.empty());
}

TEST_F(RestartTest, MissingPrivilegeIsShownButTheRestartIsStillRequested) {
  fake.privilegeError = plat::ERROR_NOT_ALL_ASSIGNED;
  EXPECT_EQ(Restart(), 1641);
  EXPECT_TRUE(ShownShutdownError());
  EXPECT_EQ(fake.restarts.size(), 1u);
}

TEST_F(RestartTest, PrivilegeWithAlreadyExistsShowsNothing) {
  fake.privilegeError = plat::ERROR_ALREADY_EXISTS;
  EXPECT_EQ(Restart(), 1641);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(RestartTest, FailedRequestKeeps3010AndShowsTheSystemText) {
  fake.restartWorks = false;
  EXPECT_EQ(Restart(), 3010);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text,
            u"Shutdown-Error\n" + plat::FormatSystemMessage(plat::ERROR_GEN_FAILURE));
}

TEST_F(RestartTest, OutsideTheNtFamilyAPlainRebootAnd3010) {
  fake.ntFamily = false;
  EXPECT_EQ(Restart(), 3010);
  EXPECT_FALSE(nt_);
  EXPECT_EQ(fake.restarts, std::vector<bool>{false});
  EXPECT_TRUE(fake.boxes.empty());

  fake.restarts.clear();
  fake.restartWorks = false;
  EXPECT_EQ(Restart(), 3010);
  EXPECT_TRUE(ShownShutdownError());
}

TEST_F(RestartTest, NtBeforeVersion4CountsAsTheOlderFamily) {
  fake.majorVersion = 3;
  EXPECT_EQ(Restart(), 3010);
  EXPECT_EQ(fake.restarts, std::vector<bool>{false});
}

}  // namespace

namespace {

// Once another run's sweep has taken our directory, a new run's directory
// may stand under the same name: its files are never deleted by our retries.
TEST_F(CleanUpTest, RetriesEndOnceTheNameNoLongerStandsForOurDirectory) {
  fake.treeSucceedsAt = 0;
  fake.runDirectory = false;
  TestApp app(&fake);
  app.AsAfterHandOff();
  app.CleanUp();
  EXPECT_TRUE(fake.deletedFiles.empty());
  EXPECT_EQ(Pauses(25), 1u);
  EXPECT_EQ(fake.treeCalls, 1);
}

}  // namespace
