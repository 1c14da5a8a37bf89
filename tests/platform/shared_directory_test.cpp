// The rules for directories that others can write: a run's directory appears
// only already locked, names with a NUL name nothing, creating never follows
// a link, attributes change on the file itself, and a name matched without
// regard to case never leads to an object of another user.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "framework/file.h"
#include "platform/dir_tree.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/posix/resolve_path.h"
#include "platform/profile.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
namespace fs = std::filesystem;

namespace {

TEST(CreateLocked, NewDirectoryIsPrivateAndLockedFromTheStart) {
  TempDir dir;
  DirectoryLock lock;
  ASSERT_TRUE(lock.CreateLocked(dir.WinPath("SetupTemp0")));
  EXPECT_TRUE(lock.IsHeld());
  EXPECT_TRUE(IsPrivateDirectory(dir.WinPath("SetupTemp0")));
  EXPECT_FALSE(DeleteTree(dir.WinPath("SetupTemp0")));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // Nothing of the making is left beside it.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);
  lock.Release();
  EXPECT_TRUE(DeleteTree(dir.WinPath("SetupTemp0")));
}

TEST(CreateLocked, AnythingUnderTheNameIsNeverUsed) {
  TempDir dir;
  fs::create_directory(dir.Path("SetupTemp0"));  // even an empty one of ours
  ptest::WriteText(dir.Path("SetupTemp1"), "file");
  fs::create_directory_symlink(dir.path(), dir.Path("SetupTemp2"));
  fs::create_symlink(dir.Path("nowhere"), dir.Path("SetupTemp3"));
  fs::create_directory(dir.Path("setuptemp4"));  // the same name on Windows
  for (const char* name : {"SetupTemp0", "SetupTemp1", "SetupTemp2", "SetupTemp3", "SetupTemp4"}) {
    DirectoryLock lock;
    EXPECT_FALSE(lock.CreateLocked(dir.WinPath(name))) << name;
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << name;
    EXPECT_FALSE(lock.IsHeld());
  }
  EXPECT_FALSE(ptest::Exists(dir.Path("nowhere")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 5u);  // no staging directory left behind
}

// A sweep that runs all the time beside the creation never finds a new
// directory unlocked: it can take none of them.
TEST(CreateLocked, SweepRunningAlongsideNeverTakesANewDirectory) {
  TempDir dir;
  const WString name = dir.WinPath("SetupTemp0");
  std::atomic<bool> done{false};
  std::thread sweeper([&] {
    while (!done) DeleteTree(name);
  });
  int lost = 0;
  for (int i = 0; i < 1500; ++i) {
    DirectoryLock lock;
    if (!lock.CreateLocked(name)) continue;  // the sweeper's leftover removal in progress
    if (!lock.IsHeld() || !IsPrivateDirectory(name) ||
        !ptest::Exists(dir.Path("SetupTemp0/.upk-inuse")))
      ++lost;
    lock.Release();
  }
  done = true;
  sweeper.join();
  EXPECT_EQ(lost, 0);
}

TEST(PrivateDirectory, OnlyARealDirectoryOfOursClosedToOthers) {
  TempDir dir;
  fs::create_directory(dir.Path("open"));
  fs::permissions(dir.Path("open"), fs::perms::owner_all | fs::perms::group_read);
  fs::create_directory(dir.Path("closed"));
  fs::permissions(dir.Path("closed"), fs::perms::owner_all);
  fs::create_directory_symlink(dir.Path("closed"), dir.Path("link"));
  EXPECT_TRUE(IsPrivateDirectory(dir.WinPath("closed")));
  EXPECT_FALSE(IsPrivateDirectory(dir.WinPath("open")));
  EXPECT_FALSE(IsPrivateDirectory(dir.WinPath("link")));
  EXPECT_FALSE(IsPrivateDirectory(dir.WinPath("missing")));
}

TEST(NulInName, NamesNothingInAnyFileOperation) {
  TempDir dir;
  ptest::WriteText(dir.Path("upk4.dll"), "loaded image");
  const WString withNul = dir.WinPath("upk4.dll") + WString(u"\0.txt", 5);
  EXPECT_EQ(ResolveNativePath(withNul), "");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(PathFileExists(withNul));
  EXPECT_FALSE(DeleteFile(withNul));
  EXPECT_FALSE(SetFileAttributes(withNul, FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(OpenFileHandle(withNul, FileAccess::Write, FileShare::Exclusive,
                           FileCreate::CreateAlways),
            kInvalidFile);
  EXPECT_FALSE(CopyFile(dir.WinPath("upk4.dll"), withNul, false));
  EXPECT_FALSE(WriteProfileString(u"PARA", u"CommandString", u"x", withNul));
  EXPECT_FALSE(CreateDirectory(dir.WinPath("d") + WString(u"\0x", 2)));
  DirectoryLock lock;
  EXPECT_FALSE(lock.Acquire(dir.WinPath() + WString(u"\0", 1)));
  EXPECT_EQ(ptest::ReadText(dir.Path("upk4.dll")), "loaded image");
  EXPECT_EQ(ptest::PermsOf(dir.Path("upk4.dll")) & fs::perms::owner_write,
            fs::perms::owner_write);
}

// Creating a file replaces whatever file or link stands under the name:
// the old file's contents (a loaded library's image) and a link's target
// are never written.
TEST(CreateAlways, ReplacesFileOrLinkNeverWritesThroughThem) {
  TempDir dir;
  ptest::WriteText(dir.Path("victim"), "keep");
  fs::create_symlink(dir.Path("victim"), dir.Path("link"));
  fs::create_symlink(dir.Path("new-victim"), dir.Path("dangling"));
  ptest::WriteText(dir.Path("old"), "old image");
  fs::create_hard_link(dir.Path("old"), dir.Path("old-mapped"));
  for (const char* name : {"link", "dangling", "old"}) {
    CFile file;
    ASSERT_TRUE(file.Open(dir.WinPath(name), CFile::modeCreate | CFile::modeWrite)) << name;
    file.Write("new", 3);
    file.Close();
    EXPECT_FALSE(fs::is_symlink(dir.Path(name))) << name;
    EXPECT_EQ(ptest::ReadText(dir.Path(name)), "new") << name;
  }
  EXPECT_EQ(ptest::ReadText(dir.Path("victim")), "keep");
  EXPECT_FALSE(ptest::Exists(dir.Path("new-victim")));
  EXPECT_EQ(ptest::ReadText(dir.Path("old-mapped")), "old image");
}

TEST(LinksInSharedDirectories, NoWriteOrAttributeChangeReachesTheTarget) {
  TempDir dir;
  ptest::WriteText(dir.Path("victim"), "keep");
  fs::permissions(dir.Path("victim"), fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(dir.Path("victim"), dir.Path("qxi_setup.log"));
  fs::create_symlink(dir.Path("victim"), dir.Path("qx.tmp"));
  fs::create_symlink(dir.Path("victim"), dir.Path("stvar.ini"));
  ptest::WriteText(dir.Path("source.ini"), "settings");

  EXPECT_TRUE(SetFileAttributes(dir.WinPath("qxi_setup.log"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(WriteProfileString(u"PARA", u"CommandString", u"x", dir.WinPath("qx.tmp")));
  EXPECT_TRUE(CopyFile(dir.WinPath("source.ini"), dir.WinPath("stvar.ini"), false));
  EXPECT_TRUE(SetFileTimes(dir.WinPath("qxi_setup.log"), nullptr, nullptr, nullptr));

  EXPECT_EQ(ptest::ReadText(dir.Path("victim")), "keep");
  EXPECT_EQ(ptest::PermsOf(dir.Path("victim")), fs::perms::owner_read | fs::perms::group_read);
  for (const char* name : {"qx.tmp", "stvar.ini"})
    EXPECT_FALSE(fs::is_symlink(dir.Path(name))) << name;
  EXPECT_EQ(ptest::ReadText(dir.Path("qx.tmp")), "[PARA]\nCommandString=x\n");
  EXPECT_EQ(ptest::ReadText(dir.Path("stvar.ini")), "settings");
  // A link whose target is missing is still a name to be removed first.
  fs::create_symlink(dir.Path("missing"), dir.Path("dangling"));
  EXPECT_TRUE(PathFileExists(dir.WinPath("dangling")));
  EXPECT_TRUE(DeleteFile(dir.WinPath("dangling")));
  EXPECT_FALSE(ptest::Exists(dir.Path("dangling")));
}

}  // namespace
