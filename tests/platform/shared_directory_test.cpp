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
  ASSERT_TRUE(lock.CreateLocked(dir.win("SetupTemp0")));
  EXPECT_TRUE(lock.IsHeld());
  EXPECT_TRUE(IsPrivateDirectory(dir.win("SetupTemp0")));
  EXPECT_FALSE(DeleteTree(dir.win("SetupTemp0")));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // Nothing of the making is left beside it.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.native())) ++entries;
  EXPECT_EQ(entries, 1u);
  lock.Release();
  EXPECT_TRUE(DeleteTree(dir.win("SetupTemp0")));
}

TEST(CreateLocked, AnythingUnderTheNameIsNeverUsed) {
  TempDir dir;
  fs::create_directory(dir.native("SetupTemp0"));  // even an empty one of ours
  ptest::WriteText(dir.native("SetupTemp1"), "file");
  fs::create_directory_symlink(dir.native(), dir.native("SetupTemp2"));
  fs::create_symlink(dir.native("nowhere"), dir.native("SetupTemp3"));
  fs::create_directory(dir.native("setuptemp4"));  // the same name on Windows
  for (const char* name : {"SetupTemp0", "SetupTemp1", "SetupTemp2", "SetupTemp3", "SetupTemp4"}) {
    DirectoryLock lock;
    EXPECT_FALSE(lock.CreateLocked(dir.win(name))) << name;
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << name;
    EXPECT_FALSE(lock.IsHeld());
  }
  EXPECT_FALSE(ptest::Exists(dir.native("nowhere")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.native())) ++entries;
  EXPECT_EQ(entries, 5u);  // no staging directory left behind
}

// A sweep that runs all the time beside the creation never finds a new
// directory unlocked: it can take none of them.
TEST(CreateLocked, SweepRunningAlongsideNeverTakesANewDirectory) {
  TempDir dir;
  const WString name = dir.win("SetupTemp0");
  std::atomic<bool> done{false};
  std::thread sweeper([&] {
    while (!done) DeleteTree(name);
  });
  int lost = 0;
  for (int i = 0; i < 1500; ++i) {
    DirectoryLock lock;
    if (!lock.CreateLocked(name)) continue;  // the sweeper's leftover removal in progress
    if (!lock.IsHeld() || !IsPrivateDirectory(name) ||
        !ptest::Exists(dir.native("SetupTemp0/.upk-inuse")))
      ++lost;
    lock.Release();
  }
  done = true;
  sweeper.join();
  EXPECT_EQ(lost, 0);
}

TEST(PrivateDirectory, OnlyARealDirectoryOfOursClosedToOthers) {
  TempDir dir;
  fs::create_directory(dir.native("open"));
  fs::permissions(dir.native("open"), fs::perms::owner_all | fs::perms::group_read);
  fs::create_directory(dir.native("closed"));
  fs::permissions(dir.native("closed"), fs::perms::owner_all);
  fs::create_directory_symlink(dir.native("closed"), dir.native("link"));
  EXPECT_TRUE(IsPrivateDirectory(dir.win("closed")));
  EXPECT_FALSE(IsPrivateDirectory(dir.win("open")));
  EXPECT_FALSE(IsPrivateDirectory(dir.win("link")));
  EXPECT_FALSE(IsPrivateDirectory(dir.win("missing")));
}

TEST(NulInName, NamesNothingInAnyFileOperation) {
  TempDir dir;
  ptest::WriteText(dir.native("upk4.dll"), "loaded image");
  const WString withNul = dir.win("upk4.dll") + WString(u"\0.txt", 5);
  EXPECT_EQ(ResolveNativePath(withNul), "");
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(PathFileExists(withNul));
  EXPECT_FALSE(DeleteFile(withNul));
  EXPECT_FALSE(SetFileAttributes(withNul, FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(OpenFileHandle(withNul, FileAccess::Write, FileShare::Exclusive,
                           FileCreate::CreateAlways),
            kInvalidFile);
  EXPECT_FALSE(CopyFile(dir.win("upk4.dll"), withNul, false));
  EXPECT_FALSE(WriteProfileString(u"PARA", u"CommandString", u"x", withNul));
  EXPECT_FALSE(CreateDirectory(dir.win("d") + WString(u"\0x", 2)));
  DirectoryLock lock;
  EXPECT_FALSE(lock.Acquire(dir.win() + WString(u"\0", 1)));
  EXPECT_EQ(ptest::ReadText(dir.native("upk4.dll")), "loaded image");
  EXPECT_EQ(ptest::PermsOf(dir.native("upk4.dll")) & fs::perms::owner_write,
            fs::perms::owner_write);
}

// Creating a file replaces whatever file or link stands under the name:
// the old file's contents (a loaded library's image) and a link's target
// are never written.
TEST(CreateAlways, ReplacesFileOrLinkNeverWritesThroughThem) {
  TempDir dir;
  ptest::WriteText(dir.native("victim"), "keep");
  fs::create_symlink(dir.native("victim"), dir.native("link"));
  fs::create_symlink(dir.native("new-victim"), dir.native("dangling"));
  ptest::WriteText(dir.native("old"), "old image");
  fs::create_hard_link(dir.native("old"), dir.native("old-mapped"));
  for (const char* name : {"link", "dangling", "old"}) {
    CFile file;
    ASSERT_TRUE(file.Open(dir.win(name), CFile::modeCreate | CFile::modeWrite)) << name;
    file.Write("new", 3);
    file.Close();
    EXPECT_FALSE(fs::is_symlink(dir.native(name))) << name;
    EXPECT_EQ(ptest::ReadText(dir.native(name)), "new") << name;
  }
  EXPECT_EQ(ptest::ReadText(dir.native("victim")), "keep");
  EXPECT_FALSE(ptest::Exists(dir.native("new-victim")));
  EXPECT_EQ(ptest::ReadText(dir.native("old-mapped")), "old image");
}

TEST(LinksInSharedDirectories, NoWriteOrAttributeChangeReachesTheTarget) {
  TempDir dir;
  ptest::WriteText(dir.native("victim"), "keep");
  fs::permissions(dir.native("victim"), fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(dir.native("victim"), dir.native("qxi_setup.log"));
  fs::create_symlink(dir.native("victim"), dir.native("qx.tmp"));
  fs::create_symlink(dir.native("victim"), dir.native("stvar.ini"));
  ptest::WriteText(dir.native("source.ini"), "settings");

  EXPECT_TRUE(SetFileAttributes(dir.win("qxi_setup.log"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(WriteProfileString(u"PARA", u"CommandString", u"x", dir.win("qx.tmp")));
  EXPECT_TRUE(CopyFile(dir.win("source.ini"), dir.win("stvar.ini"), false));
  EXPECT_TRUE(SetFileTimes(dir.win("qxi_setup.log"), nullptr, nullptr, nullptr));

  EXPECT_EQ(ptest::ReadText(dir.native("victim")), "keep");
  EXPECT_EQ(ptest::PermsOf(dir.native("victim")), fs::perms::owner_read | fs::perms::group_read);
  for (const char* name : {"qx.tmp", "stvar.ini"})
    EXPECT_FALSE(fs::is_symlink(dir.native(name))) << name;
  EXPECT_EQ(ptest::ReadText(dir.native("qx.tmp")), "[PARA]\nCommandString=x\n");
  EXPECT_EQ(ptest::ReadText(dir.native("stvar.ini")), "settings");
  // A link whose target is missing is still a name to be removed first.
  fs::create_symlink(dir.native("missing"), dir.native("dangling"));
  EXPECT_TRUE(PathFileExists(dir.win("dangling")));
  EXPECT_TRUE(DeleteFile(dir.win("dangling")));
  EXPECT_FALSE(ptest::Exists(dir.native("dangling")));
}

}  // namespace
