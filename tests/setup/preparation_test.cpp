// Preparation steps on real directories: the temporary directory's choice
// and sweep, the library copy, the errors and the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "framework/file.h"
#include "platform/code_page.h"
#include "platform/dir_tree.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "setup/setup_app.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class TestApp : public CSetupApp {
 public:
  explicit TestApp(SetupPlatform* p) : CSetupApp(p) {}
  using CSetupApp::ApplyCommandLine;
  void SetTempBase(const std::string& native) { m_strTempDir = upktest::WinPath(native); }
  void SetArguments(plat::WStringView text) { m_lpCmdLine = plat::WString(text); }
  bool CopyStvar() const { return m_bCopyStvar; }
  void SetWorkBuffer() { m_pWorkBuffer = std::make_unique<uint8_t[]>(kWorkBufferSize); }
};

// Every test gets its own system temporary path.
class SetupDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    hadTmp_ = old != nullptr;
    sysTmp_ = dir_.Path("systemp");
    fs::create_directory(sysTmp_);
    setenv("TMPDIR", sysTmp_.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmp_)
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::string Temp(int n) const { return sysTmp_ + "/SetupTemp" + std::to_string(n); }
  std::string Choose(TestApp& app) {
    app.SetTempBase(sysTmp_ + "/");
    EXPECT_FALSE(app.ChooseTempDirectory());
    return upktest::NativePath(app.TempDir());
  }

  upktest::TempDir dir_;
  std::string sysTmp_, oldTmp_;
  bool hadTmp_ = false;
  RecordingPlatform platform_;
};

TEST_F(SetupDirTest, LeftoverDirectoryIsSweptAndReused) {
  upktest::WriteFile(Temp(0) + "/upk4.dll", "old");
  upktest::WriteFile(Temp(5) + "/deep/Upk2.dll", "old");
  TestApp app(&platform_);
  EXPECT_EQ(Choose(app), Temp(0) + "/");
  EXPECT_FALSE(fs::exists(Temp(0) + "/upk4.dll"));
  EXPECT_FALSE(fs::exists(Temp(5)));
  // Created by this run, private to the user.
  const auto perms = fs::status(Temp(0)).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all);
}

TEST_F(SetupDirTest, SweepMatchesNamesWithoutCaseAndOnlyAsFormatted) {
  upktest::WriteFile(sysTmp_ + "/setuptemp0/upk4.dll", "old");
  upktest::WriteFile(sysTmp_ + "/SETUPTEMP7/x", "old");
  upktest::WriteFile(sysTmp_ + "/SetupTemp01/keep", "not ours");   // "%ld" never writes 01
  upktest::WriteFile(sysTmp_ + "/SetupTemp200/keep", "not ours");  // beyond the 200 names
  upktest::WriteFile(sysTmp_ + "/SetupTempX/keep", "not ours");
  TestApp app(&platform_);
  const std::string chosen = Choose(app);
  EXPECT_EQ(upktest::WinPath(chosen).size(), upktest::WinPath(Temp(0) + "/").size());
  EXPECT_FALSE(fs::exists(sysTmp_ + "/setuptemp0/upk4.dll"));
  EXPECT_FALSE(fs::exists(sysTmp_ + "/SETUPTEMP7"));
  for (const char* kept : {"SetupTemp01", "SetupTemp200", "SetupTempX"})
    EXPECT_TRUE(fs::exists(sysTmp_ + "/" + kept + "/keep")) << kept;
}

TEST_F(SetupDirTest, LiveRunsDirectoryIsNeitherSweptNorUsed) {
  upktest::WriteFile(Temp(0) + "/upk2.dll", "in use");
  plat::DirectoryLock other;
  ASSERT_TRUE(other.Acquire(upktest::WinPath(Temp(0))));
  TestApp app(&platform_);
  EXPECT_EQ(Choose(app), Temp(1) + "/");
  EXPECT_TRUE(fs::exists(Temp(0) + "/upk2.dll"));
}

TEST_F(SetupDirTest, LinkUnderTheNameIsRemovedNeverFollowed) {
  const std::string target = dir_.Path("victim");
  upktest::WriteFile(target + "/precious", "keep");
  fs::create_directory_symlink(target, Temp(0));
  TestApp app(&platform_);
  EXPECT_EQ(Choose(app), Temp(0) + "/");
  EXPECT_FALSE(fs::is_symlink(Temp(0)));
  EXPECT_TRUE(fs::is_directory(Temp(0)));
  EXPECT_EQ(upktest::ReadFile(target + "/precious"), "keep");
}

TEST_F(SetupDirTest, ForeignDirectoryIsSkipped) {
  fs::create_directory(Temp(0));
  upktest::WriteFile(Temp(0) + "/planted", "x");
  if (upktest::RunCommand("chown 65534 " + upktest::ShellQuote(Temp(0)) + " 2>/dev/null") != 0) {
    GTEST_SKIP() << "cannot give a directory to another user here";
  }
  TestApp app(&platform_);
  EXPECT_EQ(Choose(app), Temp(1) + "/");
  EXPECT_TRUE(fs::exists(Temp(0) + "/planted"));
}

// Another user's "setuptemp0" link is not our "SetupTemp0" without regard
// to case: nothing is created, removed or deleted through it.
TEST_F(SetupDirTest, ForeignLookAlikeNameIsNeverResolvedToOurs) {
  const std::string victim = dir_.Path("victim");
  upktest::WriteFile(victim + "/upk2.dll", "theirs");
  fs::create_directory_symlink(victim, sysTmp_ + "/setuptemp0");
  if (upktest::RunCommand("chown -h 65534 " + upktest::ShellQuote(sysTmp_ + "/setuptemp0") +
                          " 2>/dev/null") != 0) {
    GTEST_SKIP() << "cannot give a link to another user here";
  }
  const plat::WString ours = upktest::WinPath(Temp(0));
  EXPECT_FALSE(plat::DeleteFile(ours + u"\\upk2.dll"));
  EXPECT_TRUE(plat::DeleteTree(ours));
  TestApp app(&platform_);
  EXPECT_EQ(Choose(app), Temp(0) + "/");
  EXPECT_TRUE(fs::is_directory(Temp(0)) && !fs::is_symlink(Temp(0)));
  EXPECT_EQ(upktest::ReadFile(victim + "/upk2.dll"), "theirs");
}

// A system temporary path that cannot be had: no directory at the root.
TEST_F(SetupDirTest, NoTemporaryPathGivesCode8AndNothingAtTheRoot) {
  TestApp app(&platform_);
  app.SetTempBase("");
  EXPECT_TRUE(app.ChooseTempDirectory());
  EXPECT_EQ(app.ErrorCodes().substr(0, 3), u"8 (");
  EXPECT_FALSE(fs::exists("/SetupTemp0"));
}

TEST_F(SetupDirTest, NoFreeNameGivesCode8AndLeavesTheSystemPath) {
  for (int n = 0; n < 200; ++n) {
    fs::create_directory(Temp(n));
    upktest::RunCommand("chown 65534 " + upktest::ShellQuote(Temp(n)) + " 2>/dev/null");
  }
  if (fs::status(Temp(0)).permissions() == fs::perms::none) GTEST_SKIP();
  TestApp app(&platform_);
  app.SetTempBase(sysTmp_ + "/");
  const bool failed = app.ChooseTempDirectory();
  if (!failed) GTEST_SKIP() << "directories could not be made foreign (not root)";
  EXPECT_EQ(upktest::NativePath(app.TempDir()), sysTmp_ + "/");
  EXPECT_EQ(app.ErrorCodes().substr(0, 3), u"8 (");

  // The whole run then hands nothing off into the shared path: no "qx.tmp"
  // with the arguments (a password among them), no library copy; the log
  // is all that appears, and it ends with code 8.
  TestApp run(&platform_);
  run.SetArguments(u"/password=secret");
  EXPECT_FALSE(run.InitInstance());
  std::vector<std::string> appeared;
  for (const auto& entry : fs::directory_iterator(sysTmp_)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("SetupTemp", 0) != 0) appeared.push_back(name);
  }
  EXPECT_EQ(appeared, std::vector<std::string>{"qxi_setup.log"});
  EXPECT_EQ(run.ErrorCodes().substr(0, 3), u"8 (");
  EXPECT_EQ(run.ErrorCodes().find(u"1168"), plat::WString::npos) << plat::Utf16ToUtf8(run.ErrorCodes());
  for (int n : {0, 199}) EXPECT_TRUE(fs::is_empty(Temp(n))) << n;
}

TEST_F(SetupDirTest, CopyStvarSwitchInAnyCaseAndInsideAWord) {
  TestApp app(&platform_);
  for (const char16_t* args : {u"/copystvar", u"/COPYSTVAR", u"a /CopyStVar b", u"x/copystvarx"}) {
    app.SetArguments(args);
    app.ApplyCommandLine();
    EXPECT_TRUE(app.CopyStvar()) << plat::Utf16ToUtf8(args);
  }
  app.SetArguments(u"/copystva r");
  app.ApplyCommandLine();
  EXPECT_FALSE(app.CopyStvar());
}

class CopyLibraryTest : public SetupDirTest {
 protected:
  // A source file whose bytes are their offsets; copies [start, end).
  bool Copy(TestApp& app, int32_t start, int32_t end, size_t sourceLength = 20000) {
    std::string bytes(sourceLength, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    source_ = bytes;
    upktest::WriteFile(dir_.Path("Setup"), bytes);
    CFile file;
    EXPECT_TRUE(file.Open(upktest::WinPath(dir_.Path("Setup")), CFile::modeRead));
    return app.CopyLibraryImage(file, upktest::WinPath(dir_.Path("upk4.dll")), start, end);
  }
  std::string source_;
};

TEST_F(CopyLibraryTest, ChunkBoundariesCopyByteForByte) {
  TestApp app(&platform_);
  app.SetWorkBuffer();
  for (auto [start, end] : {std::pair{100, 100 + 12288}, {5, 5 + 6145}, {0, 6144}, {7, 8},
                            {19999, 20000}}) {
    ASSERT_TRUE(Copy(app, start, end));
    EXPECT_EQ(upktest::ReadFile(dir_.Path("upk4.dll")), source_.substr(start, end - start))
        << start << ".." << end;
  }
  // An empty range makes an empty library file.
  ASSERT_TRUE(Copy(app, 300, 300));
  EXPECT_EQ(upktest::ReadFile(dir_.Path("upk4.dll")), "");
  EXPECT_TRUE(app.ErrorCodes().empty());
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(CopyLibraryTest, RangePastTheEndIsAReadErrorNotPadding) {
  TestApp app(&platform_);
  EXPECT_FALSE(Copy(app, 15000, 25000));
  ASSERT_EQ(platform_.boxes.size(), 1u);
  EXPECT_EQ(platform_.boxes[0].rfind(u"Read-/Write-Error!", 0), 0u);
}

TEST_F(CopyLibraryTest, UncreatableDestinationIsCode7) {
  TestApp app(&platform_);
  upktest::WriteFile(dir_.Path("Setup"), "abc");
  CFile file;
  ASSERT_TRUE(file.Open(upktest::WinPath(dir_.Path("Setup")), CFile::modeRead));
  EXPECT_FALSE(app.CopyLibraryImage(file, upktest::WinPath(dir_.Path("no/such/upk4.dll")),
                                    0, 3));
  EXPECT_EQ(app.ErrorCodes().substr(0, 3), u"7 (");
}

// The error list, the messages and the log.
TEST_F(SetupDirTest, ErrorEntriesCarryTheLastErrorOfTheirMoment) {
  TestApp app(&platform_);
  plat::SetLastError(5);
  app.AddErrorCode(2);
  plat::SetLastError(2);
  app.AddErrorCode(1168);
  EXPECT_EQ(app.ErrorCodes(), u"2 (5), 1168 (2), ");
}

TEST_F(SetupDirTest, LogIsUtf16WithoutBomAndReplacedEachTime) {
  const std::string log = sysTmp_ + "/qxi_setup.log";
  {
    TestApp quiet(&platform_);
    upktest::WriteFile(log, "older");
    quiet.WriteErrorLog();
    EXPECT_EQ(upktest::ReadFile(log), "older");  // nothing failed: untouched
  }
  TestApp app(&platform_);
  plat::SetLastError(0);
  app.AddErrorCode(3);
  app.WriteErrorLog();
  const std::string text = "Setup-ErrorCodes: 3 (0), ";
  std::string expected;
  for (char c : text) {
    expected += c;
    expected += '\0';
  }
  EXPECT_EQ(upktest::ReadFile(log), expected);
  plat::SetLastError(126);
  app.AddErrorCode(4);
  app.WriteErrorLog();
  EXPECT_EQ(upktest::ReadFile(log).size(), 2 * std::string("Setup-ErrorCodes: 3 (0), 4 (126), ").size());
}

TEST_F(SetupDirTest, LogNeverWritesThroughAPlantedLink) {
  const std::string victim = dir_.Path("victim.txt");
  upktest::WriteFile(victim, "precious");
  fs::create_symlink(victim, sysTmp_ + "/qxi_setup.log");
  TestApp app(&platform_);
  app.AddErrorCode(2);
  app.WriteErrorLog();
  EXPECT_EQ(upktest::ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(sysTmp_ + "/qxi_setup.log"));
}

TEST(ShowError, NothingForCodes0And183) {
  FakeSetupPlatform fake;
  CSetupApp app(&fake);
  app.ShowError(0, u"text");
  app.ShowError(183, u"Kein TempDir????");
  EXPECT_TRUE(fake.boxes.empty());
  app.ShowError(1603, u"Kein TempDir????");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].caption, u"Error");
  EXPECT_EQ(fake.boxes[0].style, 0x52010u);
  const plat::WString system = plat::FormatSystemMessage(1603);
  ASSERT_FALSE(system.empty());
  EXPECT_EQ(fake.boxes[0].text, u"Kein TempDir????" + system);
  // A code the system has no text for still says which code it was.
  app.ShowError(0x7FFF1234, u"x");
  EXPECT_NE(fake.boxes.back().text.find(u"2147422772"), plat::WString::npos);
}

}  // namespace
