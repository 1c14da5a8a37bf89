#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/last_error.h"
#include "platform/library.h"
#include "platform/restart.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;

namespace {

// Every restart test runs with a harmless command in place of the reboot;
// it is set here as well as by the test runner.
class Restart : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("UPK_RESTART_COMMAND", "true", 1); }
  void TearDown() override { ::setenv("UPK_RESTART_COMMAND", "true", 1); }
};

}  // namespace

TEST_F(Restart, RunsTheConfiguredCommand) {
  TempDir dir;
  std::string marker = dir.Path("restarted");
  ::setenv("UPK_RESTART_COMMAND", ("echo done > '" + marker + "'").c_str(), 1);
  EXPECT_TRUE(RequestRestart(true));
  EXPECT_EQ(ptest::ReadText(marker), "done\n");
}

TEST_F(Restart, AFailingCommandIsAFailedRestart) {
  ::setenv("UPK_RESTART_COMMAND", "exit 3", 1);
  SetLastError(0);
  EXPECT_FALSE(RequestRestart(true));
  EXPECT_NE(GetLastError(), 0u);
}

TEST_F(Restart, AnEmptyCommandDoesNothing) {
  ::setenv("UPK_RESTART_COMMAND", "", 1);
  EXPECT_TRUE(RequestRestart(true));
}

TEST_F(Restart, VersionAndPrivilege) {
  EXPECT_TRUE(IsNtFamily());
  EXPECT_GE(GetMajorVersion(), 4u);
  SetLastError(12345);
  EXPECT_TRUE(EnableShutdownPrivilege());
  uint32_t error = GetLastError();
  EXPECT_TRUE(error == ERROR_SUCCESS || error == ERROR_NOT_ALL_ASSIGNED) << error;
}

TEST(Library, LoadsByPathWhateverTheCase) {
  TempDir dir;
  std::filesystem::copy_file(UPK_TEST_MODULE, dir.Path("upk4.dll"));
  LibraryHandle lib = LoadLibrary(dir.WinPath("Upk4.DLL"));
  ASSERT_NE(lib, nullptr);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(lib, "upk_test_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(GetProcAddress(lib, "UPKInit3"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(lib));
}

TEST(Library, FailuresAreNamedAsWindowsNamesThem) {
  TempDir dir;
  EXPECT_EQ(LoadLibrary(dir.WinPath("upk2.dll")), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  ptest::WriteText(dir.Path("upk2.dll"), "MZ this is no library");
  EXPECT_EQ(LoadLibrary(dir.WinPath("upk2.dll")), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_FALSE(RestrictLibrarySearchPath());
}

// A system library by its bare name, as the loader finds a dependency: a
// path, even a relative one, is refused, and the current directory is not
// searched.
TEST(Library, SystemLibrariesByNameOnly) {
  LibraryHandle zlib = LoadSystemLibrary("libz.so.1");
  ASSERT_NE(zlib, nullptr);
  EXPECT_NE(GetProcAddress(zlib, "zlibVersion"), nullptr);
  EXPECT_TRUE(FreeLibrary(zlib));

  TempDir dir;
  std::filesystem::copy_file(UPK_TEST_MODULE, dir.Path("libupkprobe.so"));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const char* name : {"libupkprobe.so", "./libupkprobe.so", "", "libnothing-upk.so.9"}) {
    EXPECT_EQ(LoadSystemLibrary(name), nullptr) << name;
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << name;
  }
  EXPECT_EQ(LoadSystemLibrary(dir.Path("libupkprobe.so").c_str()), nullptr);
  std::filesystem::current_path(before);
}
