#include <gtest/gtest.h>

#include "platform/dir_tree.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
namespace fs = std::filesystem;

namespace {

// A tree with read-only files, a read-only directory, and links that point
// outside it: to a file, to a directory, and to nowhere.
void BuildTree(const TempDir& dir, const std::string& root) {
  fs::create_directories(dir.native(root + "/a/b/c"));
  ptest::WriteText(dir.native(root + "/top.txt"), "1");
  ptest::WriteText(dir.native(root + "/a/b/c/deep.txt"), "2");
  ptest::WriteText(dir.native(root + "/a/ro.txt"), "3");
  fs::permissions(dir.native(root + "/a/ro.txt"), fs::perms::owner_read);
  fs::permissions(dir.native(root + "/a/b"), fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_symlink(dir.native("outside/keep.txt"), dir.native(root + "/file-link"));
  fs::create_directory_symlink(dir.native("outside"), dir.native(root + "/a/dir-link"));
  fs::create_symlink(dir.native("no-such"), dir.native(root + "/dangling"));
}

}  // namespace

TEST(DeleteTree, RemovesEverythingButNeverFollowsLinks) {
  TempDir dir;
  fs::create_directory(dir.native("outside"));
  ptest::WriteText(dir.native("outside/keep.txt"), "precious");
  BuildTree(dir, "SetupTemp0");

  EXPECT_TRUE(DeleteTree(dir.win("setuptemp0")));
  EXPECT_FALSE(ptest::Exists(dir.native("SetupTemp0")));
  EXPECT_EQ(ptest::ReadText(dir.native("outside/keep.txt")), "precious");
  EXPECT_TRUE(ptest::Exists(dir.native("outside")));
}

TEST(DeleteTree, ALinkGivenAsTheRootIsRemovedAlone) {
  TempDir dir;
  fs::create_directory(dir.native("outside"));
  ptest::WriteText(dir.native("outside/keep.txt"), "precious");
  fs::create_directory_symlink(dir.native("outside"), dir.native("SetupTemp1"));
  EXPECT_TRUE(DeleteTree(dir.win("SetupTemp1")));
  EXPECT_FALSE(ptest::Exists(dir.native("SetupTemp1")));
  EXPECT_EQ(ptest::ReadText(dir.native("outside/keep.txt")), "precious");
}

TEST(DeleteTree, MissingPathCountsAsGone) {
  TempDir dir;
  EXPECT_TRUE(DeleteTree(dir.win("never")));
}

TEST(DeleteTree, RefusesADirectoryWhoseLockIsHeld) {
  TempDir dir;
  fs::create_directory(dir.native("SetupTemp2"));
  ptest::WriteText(dir.native("SetupTemp2/upk4.dll"), "x");
  {
    DirectoryLock lock;
    ASSERT_TRUE(lock.Acquire(dir.win("SetupTemp2")));
    EXPECT_TRUE(lock.IsHeld());

    // A second lock on the same directory is refused while the first lives.
    DirectoryLock other;
    EXPECT_FALSE(other.Acquire(dir.win("SetupTemp2")));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    EXPECT_FALSE(DeleteTree(dir.win("SetupTemp2")));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ptest::ReadText(dir.native("SetupTemp2/upk4.dll")), "x");
  }
  // Released with its owner: now the tree goes.
  EXPECT_TRUE(DeleteTree(dir.win("SetupTemp2")));
  EXPECT_FALSE(ptest::Exists(dir.native("SetupTemp2")));
}

TEST(DeleteTree, ReleasedLockLetsAnotherTakeIt) {
  TempDir dir;
  DirectoryLock first;
  ASSERT_TRUE(first.Acquire(dir.win()));
  first.Release();
  EXPECT_FALSE(first.IsHeld());
  DirectoryLock second;
  EXPECT_TRUE(second.Acquire(dir.win()));
}

// A run asks whether its directory's name still stands for its directory
// before it deletes anything by name. Once the directory is swept away, one
// made anew under the name (another run's) is never taken for it, also where
// the file system hands the freed inode number to the next directory made.
TEST(DirectoryLock, NamesItsOwnDirectoryNeverOneMadeLaterUnderTheName) {
  TempDir dir;
  const WString name = dir.win("SetupTemp0");
  DirectoryLock first;
  ASSERT_TRUE(first.CreateLocked(name));
  EXPECT_TRUE(first.Names(name));
  first.Release();
  EXPECT_TRUE(first.Names(name));
  ASSERT_TRUE(DeleteTree(name));
  EXPECT_FALSE(first.Names(name));

  DirectoryLock second;
  ASSERT_TRUE(second.CreateLocked(name));
  EXPECT_TRUE(second.Names(name));
  EXPECT_FALSE(first.Names(name));
}

TEST(DeleteTree, OwnershipOfTheCurrentUser) {
  TempDir dir;
  EXPECT_TRUE(IsOwnedByCurrentUser(dir.win()));
  EXPECT_FALSE(IsOwnedByCurrentUser(dir.win("missing")));
  // A link is judged by itself, not by what it points to.
  std::filesystem::create_directory_symlink("/", dir.native("to-root"));
  EXPECT_TRUE(IsOwnedByCurrentUser(dir.win("to-root")));
}
