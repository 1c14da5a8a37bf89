// The Win32 backend where others can write: the run directory's own access
// list and hold, ownership, replacing files by new ones, and removal of
// trees past MAX_PATH without reaching outside them. Run under Wine in CI;
// what Wine reports of access lists it derives partly from file modes.
#include "platform/win32/security.h"

#include <gtest/gtest.h>

#include "platform/dir_tree.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/profile.h"
#include "windows_test_util.h"

using namespace plat;
using wintest::TempDir;

namespace {

TEST(Win32RunDirectory, IsOwnedByTheUserAndGrantsNothingToEveryoneOrUsers) {
  TempDir dir;
  DirectoryLock lock;
  ASSERT_TRUE(lock.CreateLocked(dir.Path("SetupTemp0")));
  win32::ScopedHandle h(::CreateFileW(win32::SystemPath(dir.Path("SetupTemp0")).c_str(),
                                      READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(h.valid());
  std::string owner;
  std::vector<AccessEntry> entries;
  ASSERT_TRUE(win32::ReadOwnerAndAccess(h.get(), &owner, &entries));
  EXPECT_EQ(owner, win32::TokenUserSid());
  std::string reported;
  for (const AccessEntry& e : entries) {
    reported += (e.allows ? " allow " : " deny ") + e.sid;
    if (!e.allows || e.mask == 0) continue;
    for (const char* open : {"S-1-1-0", "S-1-5-32-545", "S-1-5-11"}) EXPECT_NE(e.sid, open);
  }
  std::printf("run directory owner %s, entries:%s\n", owner.c_str(), reported.c_str());
  EXPECT_TRUE(IsOwnedByCurrentUser(dir.Path("SetupTemp0")));
  EXPECT_FALSE(lock.IsUnprotected());
}

TEST(Win32RunDirectory, AHeldRunDirectoryIsNeverSweptAndGoesOnceReleased) {
  TempDir dir;
  DirectoryLock lock;
  ASSERT_TRUE(lock.CreateLocked(dir.Path("SetupTemp1")));
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("SetupTemp1\\upk4.dll"), "live"));
  EXPECT_FALSE(DeleteTree(dir.Path("SetupTemp1")));
  EXPECT_EQ(wintest::ReadBytes(dir.Path("SetupTemp1\\upk4.dll")), "live");
  lock.Release();
  EXPECT_TRUE(lock.Names(dir.Path("SetupTemp1")));
  EXPECT_TRUE(DeleteTree(dir.Path("SetupTemp1")));
  EXPECT_FALSE(PathFileExists(dir.Path("SetupTemp1")));
  // The tombstone it went through is gone too.
  for (const WString& name : ListDirectoryNames(dir.Path())) ADD_FAILURE() << Utf16ToUtf8(name);
}

TEST(Win32Files, ReplacingAFileMakesANewOneAndNeverOpensThePlantedOne) {
  TempDir dir;
  const WString planted = dir.Path("upk4.dll");
  ASSERT_TRUE(wintest::WriteBytes(planted, "planted"));
  {
    // The planter keeps a handle that shares everything, ready to rewrite:
    // the name stays until that handle closes, so the creation fails and
    // nothing of ours ever goes into the planted file.
    win32::ScopedHandle planter(::CreateFileW(
        win32::SystemPath(planted).c_str(), GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(planter.valid());
    EXPECT_EQ(OpenFileHandle(planted, FileAccess::Write, FileShare::Exclusive,
                             FileCreate::CreateAlways), kInvalidFile);
    EXPECT_NE(plat::GetLastError(), plat::ERROR_SUCCESS);
  }
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("plain.txt"), "old"));
  const FileHandle h = OpenFileHandle(dir.Path("plain.txt"), FileAccess::Write,
                                      FileShare::Exclusive, FileCreate::CreateAlways);
  ASSERT_NE(h, kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);  // as CREATE_ALWAYS says
  ASSERT_EQ(WriteFileHandle(h, "ours", 4), 4);
  CloseFileHandle(h);
  EXPECT_EQ(wintest::ReadBytes(dir.Path("plain.txt")), "ours");

  // A read-only file and a directory refuse, as CREATE_ALWAYS refuses them.
  ASSERT_TRUE(SetFileAttributes(dir.Path("plain.txt"), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(OpenFileHandle(dir.Path("plain.txt"), FileAccess::Write, FileShare::Exclusive,
                           FileCreate::CreateAlways), kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CreateDirectory(dir.Path("sub")));
  EXPECT_EQ(OpenFileHandle(dir.Path("sub"), FileAccess::Write, FileShare::Exclusive,
                           FileCreate::CreateAlways), kInvalidFile);
}

TEST(Win32Profile, QxTmpIsWrittenWholeAsANewFileAndNeverMerged) {
  TempDir dir;
  const WString ini = dir.Path("qx.tmp");
  const WString value = u"/serial=\u00E9\u03A9\u0416 \"two words\"";
  ASSERT_TRUE(WriteNewProfileFile(u"PARA", u"CommandString", value, ini));
  EXPECT_EQ(ReadProfileString(u"PARA", u"CommandString", u"", ini), value);
  // Reappeared after the deletion: the write fails, nothing is merged.
  EXPECT_FALSE(WriteNewProfileFile(u"PARA", u"CommandString", u"/other", ini));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadProfileString(u"PARA", u"CommandString", u"", ini), value);
}

TEST(Win32Removal, ATreePastMaxPathGoesWholeAndTheCurrentDirectoryStays) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectory(dir.Path("cwd")));
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("cwd\\a.txt"), "must survive"));
  ASSERT_TRUE(CreateDirectory(dir.Path("cwd\\.git")));
  ASSERT_TRUE(SetCurrentDirectory(dir.Path("cwd")));

  WString path = dir.Path("SetupTemp2");
  ASSERT_TRUE(CreateDirectory(path));
  const WString root = path;
  for (int level = 1; level <= 14; ++level) {
    path += u"\\directory_level_" + W(std::to_string(level));
    ASSERT_TRUE(CreateDirectory(path)) << level;
  }
  ASSERT_GT(path.size(), 300u);
  ASSERT_TRUE(wintest::WriteBytes(path + u"\\deep_file_name.txt", "deep"));
  ASSERT_TRUE(wintest::WriteBytes(root + u"\\a.txt", "in the tree"));
  ASSERT_TRUE(SetFileAttributes(root + u"\\a.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(wintest::ReadBytes(path + u"\\deep_file_name.txt"), "deep");

  EXPECT_TRUE(DeleteTree(root));
  EXPECT_FALSE(PathFileExists(root));
  EXPECT_EQ(wintest::ReadBytes(dir.Path("cwd\\a.txt")), "must survive");
  EXPECT_TRUE(PathFileExists(dir.Path("cwd\\.git")));
  SetCurrentDirectory(GetTempPath());
}

}  // namespace
