// Creating below a chosen directory: never through a link below it, whoever
// made the link; the directory itself may be reached through one.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/beneath.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
namespace fs = std::filesystem;

namespace {

bool WriteBeneath(const WString& base, const WString& relative, const std::string& text,
                  BeneathCursor* cursor = nullptr) {
  const FileHandle h = CreateFileBeneath(base, relative, cursor);
  if (h == kInvalidFile) return false;
  const bool written = WriteFileHandle(h, text.data(), static_cast<uint32_t>(text.size())) ==
                       static_cast<int64_t>(text.size());
  return CloseFileHandle(h) && written;
}

TEST(Beneath, MakesDirectoriesAndReplacesWhatStandsAtTheName) {
  TempDir dir;
  const WString base = dir.WinPath("out");
  fs::create_directories(dir.Path("out/Sub"));
  ptest::WriteText(dir.Path("out/Sub/old.txt"), "old");
  fs::permissions(dir.Path("out/Sub/old.txt"), fs::perms::owner_read);
  ptest::WriteText(dir.Path("victim"), "keep");
  fs::create_symlink(dir.Path("victim"), dir.Path("out/Sub/link.txt"));

  // "sub" finds "Sub" as on Windows; new levels are made on the way.
  EXPECT_TRUE(WriteBeneath(base, u"sub\\new\\deep\\f.txt", "f"));
  EXPECT_EQ(ptest::ReadText(dir.Path("out/Sub/new/deep/f.txt")), "f");
  EXPECT_FALSE(ptest::Exists(dir.Path("out/sub")));
  // An old read-only file is replaced; a link at the name goes itself.
  EXPECT_TRUE(WriteBeneath(base, u"Sub/old.txt", "new"));
  EXPECT_EQ(ptest::ReadText(dir.Path("out/Sub/old.txt")), "new");
  EXPECT_TRUE(WriteBeneath(base, u"Sub\\link.txt", "mine"));
  EXPECT_FALSE(fs::is_symlink(dir.Path("out/Sub/link.txt")));
  EXPECT_EQ(ptest::ReadText(dir.Path("victim")), "keep");
  EXPECT_TRUE(CreateDirectoriesBeneath(base, u"a\\.\\b\\\\c\\"));
  EXPECT_TRUE(fs::is_directory(dir.Path("out/a/b/c")));

  // A directory at the name, a file in the way of a directory, "..".
  EXPECT_EQ(CreateFileBeneath(base, u"Sub\\new"), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDirectoriesBeneath(base, u"Sub\\old.txt\\x"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  for (const char16_t* relative : {u"..\\x.txt", u"Sub\\..\\..\\x.txt", u""}) {
    EXPECT_EQ(CreateFileBeneath(base, relative), kInvalidFile);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  }
  EXPECT_FALSE(ptest::Exists(dir.Path("x.txt")));
}

// Links below the base are never passed, ours included; at any depth, for
// files and for directories. The base itself is the caller's choice.
TEST(Beneath, LinkBelowTheBaseIsRefused) {
  TempDir dir;
  fs::create_directories(dir.Path("elsewhere/inner"));
  fs::create_directories(dir.Path("real/out/level"));
  fs::create_directory_symlink(dir.Path("elsewhere"), dir.Path("real/out/sub"));
  fs::create_directory_symlink(dir.Path("elsewhere"), dir.Path("real/out/level/deeper"));
  fs::create_directory_symlink(dir.Path("real/out"), dir.Path("chosen"));
  const WString base = dir.WinPath("chosen");
  for (const char16_t* relative :
       {u"sub\\pwn.txt", u"sub\\inner\\pwn.txt", u"level\\deeper\\pwn.txt", u"SUB\\pwn.txt"}) {
    EXPECT_EQ(CreateFileBeneath(base, relative), kInvalidFile);
    EXPECT_EQ(GetLastError(), ERROR_STOPPED_ON_SYMLINK);
    EXPECT_FALSE(CreateDirectoriesBeneath(base, WString(relative) + u"\\d"));
    EXPECT_EQ(GetLastError(), ERROR_STOPPED_ON_SYMLINK);
  }
  EXPECT_TRUE(fs::is_empty(dir.Path("elsewhere/inner")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("elsewhere")), fs::directory_iterator()), 1);
  // Through the chosen link to the base itself: followed.
  EXPECT_TRUE(WriteBeneath(base, u"level\\ok.txt", "ok"));
  EXPECT_EQ(ptest::ReadText(dir.Path("real/out/level/ok.txt")), "ok");
}

// The case resolution of every file call: another user's link is refused
// whether the name matched exactly or only without regard to case; root's
// links stay usable.
TEST(Beneath, ForeignLinkIsRefusedForAnExactNameToo) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
  TempDir dir;
  fs::create_directories(dir.Path("victim"));
  ptest::WriteText(dir.Path("victim/secret"), "theirs");
  fs::create_directory_symlink(dir.Path("victim"), dir.Path("shared"));
  fs::create_directory_symlink(dir.Path("victim"), dir.Path("rootlink"));
  ASSERT_EQ(::lchown(dir.Path("shared").c_str(), 65534, 65534), 0);
  for (const char16_t* name : {u"shared\\secret", u"shared"}) {
    EXPECT_EQ(GetFileAttributes(dir.WinPath() + u"\\" + name), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_STOPPED_ON_SYMLINK);
  }
  // Without regard to case the link was never a match: the name is missing.
  EXPECT_EQ(GetFileAttributes(dir.WinPath("SHARED/secret")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(OpenFileHandle(dir.WinPath("shared/secret"), FileAccess::Read, FileShare::DenyNone,
                           FileCreate::OpenExisting),
            kInvalidFile);
  EXPECT_EQ(GetFileAttributes(dir.WinPath("rootlink/secret")), FILE_ATTRIBUTE_NORMAL);
}

// A cursor keeps the directory of the last walk for the next file there.
// What others do meanwhile never leads through a link: a directory moved
// away and replaced by a link is still the one written into; one removed
// is walked to (and made) afresh; another directory or base is walked to.
TEST(Beneath, ACursorKeepsTheLastDirectoryAndNeverFollowsALinkPutInItsPlace) {
  TempDir dir;
  fs::create_directories(dir.Path("elsewhere"));
  fs::create_directories(dir.Path("other"));
  const WString base = dir.WinPath("out");
  fs::create_directories(dir.Path("out"));
  BeneathCursor cursor;
  EXPECT_TRUE(WriteBeneath(base, u"a\\b\\one.txt", "1", &cursor));
  EXPECT_TRUE(WriteBeneath(base, u"A/B/two.txt", "2", &cursor));  // walked again: another spelling
  EXPECT_TRUE(WriteBeneath(base, u"A/B/three.txt", "3", &cursor));
  for (const char* name : {"one", "two", "three"})
    EXPECT_TRUE(ptest::Exists(dir.Path(std::string("out/a/b/") + name + ".txt"))) << name;

  // Moved away, a link to elsewhere in its place: the kept directory (now
  // "moved") is written into; nothing reaches elsewhere.
  fs::rename(dir.Path("out/a/b"), dir.Path("out/a/moved"));
  fs::create_directory_symlink(dir.Path("elsewhere"), dir.Path("out/a/b"));
  EXPECT_TRUE(WriteBeneath(base, u"A/B/four.txt", "4", &cursor));
  EXPECT_EQ(ptest::ReadText(dir.Path("out/a/moved/four.txt")), "4");
  EXPECT_TRUE(fs::is_empty(dir.Path("elsewhere")));
  // Walked afresh, the link is refused.
  EXPECT_EQ(CreateFileBeneath(base, u"a\\b\\five.txt", &cursor), kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_STOPPED_ON_SYMLINK);

  // Removed: walked to and made again.
  EXPECT_TRUE(WriteBeneath(base, u"c\\six.txt", "6", &cursor));
  fs::remove_all(dir.Path("out/c"));
  EXPECT_TRUE(WriteBeneath(base, u"c\\seven.txt", "7", &cursor));
  EXPECT_EQ(ptest::ReadText(dir.Path("out/c/seven.txt")), "7");
  // Another base with the same names: its own directory.
  EXPECT_TRUE(WriteBeneath(dir.WinPath("other"), u"c\\eight.txt", "8", &cursor));
  EXPECT_EQ(ptest::ReadText(dir.Path("other/c/eight.txt")), "8");
  EXPECT_FALSE(ptest::Exists(dir.Path("out/c/eight.txt")));
}

}  // namespace
