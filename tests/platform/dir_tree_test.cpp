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
  fs::create_directories(dir.Path(root + "/a/b/c"));
  ptest::WriteText(dir.Path(root + "/top.txt"), "1");
  ptest::WriteText(dir.Path(root + "/a/b/c/deep.txt"), "2");
  ptest::WriteText(dir.Path(root + "/a/ro.txt"), "3");
  fs::permissions(dir.Path(root + "/a/ro.txt"), fs::perms::owner_read);
  fs::permissions(dir.Path(root + "/a/b"), fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_symlink(dir.Path("outside/keep.txt"), dir.Path(root + "/file-link"));
  fs::create_directory_symlink(dir.Path("outside"), dir.Path(root + "/a/dir-link"));
  fs::create_symlink(dir.Path("no-such"), dir.Path(root + "/dangling"));
}

}  // namespace

TEST(DeleteTree, RemovesEverythingButNeverFollowsLinks) {
  TempDir dir;
  fs::create_directory(dir.Path("outside"));
  ptest::WriteText(dir.Path("outside/keep.txt"), "precious");
  BuildTree(dir, "SetupTemp0");

  EXPECT_TRUE(DeleteTree(dir.WinPath("setuptemp0")));
  EXPECT_FALSE(ptest::Exists(dir.Path("SetupTemp0")));
  EXPECT_EQ(ptest::ReadText(dir.Path("outside/keep.txt")), "precious");
  EXPECT_TRUE(ptest::Exists(dir.Path("outside")));
}

TEST(DeleteTree, ALinkGivenAsTheRootIsRemovedAlone) {
  TempDir dir;
  fs::create_directory(dir.Path("outside"));
  ptest::WriteText(dir.Path("outside/keep.txt"), "precious");
  fs::create_directory_symlink(dir.Path("outside"), dir.Path("SetupTemp1"));
  EXPECT_TRUE(DeleteTree(dir.WinPath("SetupTemp1")));
  EXPECT_FALSE(ptest::Exists(dir.Path("SetupTemp1")));
  EXPECT_EQ(ptest::ReadText(dir.Path("outside/keep.txt")), "precious");
}

TEST(DeleteTree, MissingPathCountsAsGone) {
  TempDir dir;
  EXPECT_TRUE(DeleteTree(dir.WinPath("never")));
}

TEST(DeleteTree, RefusesADirectoryWhoseLockIsHeld) {
  TempDir dir;
  fs::create_directory(dir.Path("SetupTemp2"));
  ptest::WriteText(dir.Path("SetupTemp2/upk4.dll"), "x");
  {
    DirectoryLock lock;
    ASSERT_TRUE(lock.Acquire(dir.WinPath("SetupTemp2")));
    EXPECT_TRUE(lock.IsHeld());

    // A second lock on the same directory is refused while the first lives.
    DirectoryLock other;
    EXPECT_FALSE(other.Acquire(dir.WinPath("SetupTemp2")));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    EXPECT_FALSE(DeleteTree(dir.WinPath("SetupTemp2")));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ptest::ReadText(dir.Path("SetupTemp2/upk4.dll")), "x");
  }
  // Released with its owner: now the tree goes.
  EXPECT_TRUE(DeleteTree(dir.WinPath("SetupTemp2")));
  EXPECT_FALSE(ptest::Exists(dir.Path("SetupTemp2")));
}

TEST(DeleteTree, ReleasedLockLetsAnotherTakeIt) {
  TempDir dir;
  DirectoryLock first;
  ASSERT_TRUE(first.Acquire(dir.WinPath()));
  first.Release();
  EXPECT_FALSE(first.IsHeld());
  DirectoryLock second;
  EXPECT_TRUE(second.Acquire(dir.WinPath()));
}

// A run asks whether its directory's name still stands for its directory
// before it deletes anything by name. Once the directory is swept away, one
// made anew under the name (another run's) is never taken for it, also where
// the file system hands the freed inode number to the next directory made.
TEST(DirectoryLock, NamesItsOwnDirectoryNeverOneMadeLaterUnderTheName) {
  TempDir dir;
  const WString name = dir.WinPath("SetupTemp0");
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
  EXPECT_TRUE(IsOwnedByCurrentUser(dir.WinPath()));
  EXPECT_FALSE(IsOwnedByCurrentUser(dir.WinPath("missing")));
  // A link is judged by itself, not by what it points to.
  std::filesystem::create_directory_symlink("/", dir.Path("to-root"));
  EXPECT_TRUE(IsOwnedByCurrentUser(dir.WinPath("to-root")));
}
