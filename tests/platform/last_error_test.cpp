#include <gtest/gtest.h>

#include <cerrno>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/posix/errno_map.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;

TEST(LastError, IsPerThreadAndSettable) {
  SetLastError(1234);
  EXPECT_EQ(GetLastError(), 1234u);
  SetLastErrorFromErrno(ENOSPC);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

// The mapping as the real calls meet it: the parent's existence decides
// between "file" and "path" not found, as on Windows.
TEST(LastError, RealFailuresGiveWin32Numbers) {
  TempDir dir;
  EXPECT_EQ(OpenFileHandle(dir.win("missing.txt"), FileAccess::Read, FileShare::DenyNone,
                           FileCreate::OpenExisting), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenFileHandle(dir.win("nodir\\missing.txt"), FileAccess::Read, FileShare::DenyNone,
                           FileCreate::OpenExisting), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(OpenFileHandle(dir.win("nodir\\new.txt"), FileAccess::Write, FileShare::DenyNone,
                           FileCreate::CreateAlways), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  ptest::WriteText(dir.native("f"), "x");
  EXPECT_EQ(OpenFileHandle(dir.win("f\\below"), FileAccess::Read, FileShare::DenyNone,
                           FileCreate::OpenExisting), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  EXPECT_EQ(OpenFileHandle(dir.win(std::string(300, 'n')), FileAccess::Read, FileShare::DenyNone,
                           FileCreate::OpenExisting), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);

  std::filesystem::create_directory(dir.native("d"));
  ptest::WriteText(dir.native("d/x"), "x");
  EXPECT_FALSE(RemoveDirectory(dir.win("d")));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(CreateDirectory(dir.win("d")));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST(LastError, MessagesForEveryCodeTheSystemMeets) {
  for (uint32_t code : {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                        ERROR_SHARING_VIOLATION, ERROR_FILE_EXISTS, ERROR_DISK_FULL,
                        ERROR_ALREADY_EXISTS, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
                        ERROR_BAD_EXE_FORMAT, ERROR_NOT_FOUND, ERROR_NOT_ALL_ASSIGNED,
                        ERROR_PRIVILEGE_NOT_HELD, ERROR_INSTALL_USEREXIT, ERROR_INSTALL_FAILURE,
                        ERROR_SUCCESS_REBOOT_INITIATED, ERROR_SUCCESS_REBOOT_REQUIRED}) {
    WString text = FormatSystemMessage(code);
    ASSERT_GT(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), u"\r\n") << code;
  }
  EXPECT_TRUE(FormatSystemMessage(987654).empty());
}
