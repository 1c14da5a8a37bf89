#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
namespace fs = std::filesystem;

TEST(FileSystem, AttributesReadOnlyRoundTrip) {
  TempDir dir;
  ptest::WriteText(dir.native("f.txt"), "x");
  EXPECT_EQ(GetFileAttributes(dir.win("F.TXT")), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributes(dir.win()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributes(dir.win("none")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(SetFileAttributes(dir.win("f.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ptest::PermsOf(dir.native("f.txt")) & fs::perms::all & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write), fs::perms::none);
  EXPECT_EQ(GetFileAttributes(dir.win("f.txt")), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(SetFileAttributes(dir.win("f.txt"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_NE(ptest::PermsOf(dir.native("f.txt")) & fs::perms::owner_write, fs::perms::none);
  EXPECT_FALSE(SetFileAttributes(dir.win("none"), FILE_ATTRIBUTE_NORMAL));
  // Directories stay writable whatever is asked.
  ASSERT_TRUE(SetFileAttributes(dir.win(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributes(dir.win()), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FileSystem, DeleteFileAsWindowsDoes) {
  TempDir dir;
  ptest::WriteText(dir.native("ro"), "x");
  ASSERT_TRUE(SetFileAttributes(dir.win("ro"), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFile(dir.win("ro")));  // read-only: refused
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributes(dir.win("ro"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFile(dir.win("RO")));
  EXPECT_FALSE(ptest::Exists(dir.native("ro")));

  fs::create_directory(dir.native("sub"));
  EXPECT_FALSE(DeleteFile(dir.win("sub")));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(dir.win("gone")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // A link goes, its target stays.
  ptest::WriteText(dir.native("target"), "keep");
  fs::create_symlink(dir.native("target"), dir.native("link"));
  EXPECT_TRUE(DeleteFile(dir.win("link")));
  EXPECT_EQ(ptest::ReadText(dir.native("target")), "keep");
}

TEST(FileSystem, PrivateDirectoryIsExclusiveAndPrivate) {
  TempDir dir;
  ASSERT_TRUE(CreatePrivateDirectory(dir.win("SetupTemp0")));
  EXPECT_EQ(ptest::PermsOf(dir.native("SetupTemp0")), fs::perms::owner_all);

  EXPECT_FALSE(CreatePrivateDirectory(dir.win("SetupTemp0")));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreatePrivateDirectory(dir.win("SETUPTEMP0")));  // same name on Windows

  // A planted link, even to a real directory or to nowhere, is never used.
  fs::create_directory(dir.native("elsewhere"));
  fs::create_directory_symlink(dir.native("elsewhere"), dir.native("SetupTemp1"));
  fs::create_symlink(dir.native("nowhere"), dir.native("SetupTemp2"));
  EXPECT_FALSE(CreatePrivateDirectory(dir.win("SetupTemp1")));
  EXPECT_FALSE(CreatePrivateDirectory(dir.win("SetupTemp2")));
  EXPECT_FALSE(ptest::Exists(dir.native("nowhere")));
  ptest::WriteText(dir.native("SetupTemp3"), "");
  EXPECT_FALSE(CreatePrivateDirectory(dir.win("SetupTemp3")));
}

TEST(FileSystem, CreateAndRemoveDirectory) {
  TempDir dir;
  EXPECT_TRUE(CreateDirectory(dir.win("a")));
  EXPECT_FALSE(CreateDirectory(dir.win("x\\y")));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(RemoveDirectory(dir.win("A")));
  EXPECT_FALSE(ptest::Exists(dir.native("a")));
}

TEST(FileSystem, CopyFileKeepsDataAndRespectsFailIfExists) {
  TempDir dir;
  std::string data(200000, 'q');
  data[12345] = 'Z';
  ptest::WriteText(dir.native("src"), data);
  ASSERT_TRUE(CopyFile(dir.win("SRC"), dir.win("dst"), true));
  EXPECT_EQ(ptest::ReadText(dir.native("dst")), data);
  EXPECT_FALSE(CopyFile(dir.win("src"), dir.win("DST"), true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ptest::WriteText(dir.native("src"), "short");
  EXPECT_TRUE(CopyFile(dir.win("src"), dir.win("DST"), false));  // replaces "dst"
  EXPECT_EQ(ptest::ReadText(dir.native("dst")), "short");
  EXPECT_FALSE(CopyFile(dir.win("missing"), dir.win("x"), false));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(ptest::Exists(dir.native("x")));
}

TEST(FileSystem, CopyToAFullDiskLeavesNoPartialFile) {
  TempDir dir;
  ptest::WriteText(dir.native("src"), "data");
  EXPECT_FALSE(CopyFile(dir.win("src"), u"\\dev\\full", false));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST(FileSystem, FindFileReportsTheStoredName) {
  TempDir dir;
  ptest::WriteText(dir.native("Setup.EXE"), "12345");
  std::optional<FoundFile> found = FindFile(dir.win("setup.exe"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, u"Setup.EXE");
  EXPECT_EQ(found->attributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(found->size, 5u);
  EXPECT_NEAR(static_cast<double>(found->lastWrite), static_cast<double>(CurrentTime()), 60.0);

  fs::create_directory(dir.native("Sub"));
  found = FindFile(dir.win("SUB"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->attributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindFile(dir.win("nothing")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileSystem, SetFileTimesLeavesWhatIsNotGiven) {
  TempDir dir;
  ptest::WriteText(dir.native("t"), "x");
  CalendarTime access = 1000000000;
  CalendarTime write = 1200000000;
  ASSERT_TRUE(SetFileTimes(dir.win("T"), nullptr, &access, &write));
  EXPECT_EQ(FindFile(dir.win("t"))->lastWrite, write);
  CalendarTime later = 1300000000;
  ASSERT_TRUE(SetFileTimes(dir.win("t"), &later, &later, nullptr));
  EXPECT_EQ(FindFile(dir.win("t"))->lastWrite, write);
  EXPECT_FALSE(SetFileTimes(dir.win("none"), nullptr, &access, &write));
}

TEST(FileSystem, DrivesAndMedia) {
  EXPECT_EQ(GetDriveType(u""), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType(u"\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType(u"\\no\\such\\root"), DRIVE_NO_ROOT_DIR);
  // The machines that run the tests keep /proc and the temp directory on
  // fixed storage; an unknown answer must also be "not removable".
  EXPECT_FALSE(IsOnRemovableMedia(u"\\proc"));
  TempDir dir;
  EXPECT_FALSE(IsOnRemovableMedia(dir.win("not\\yet\\there")));
  EXPECT_FALSE(MoveFileDelayUntilReboot(dir.win("x")));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}
