#include <gtest/gtest.h>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;
namespace fs = std::filesystem;

TEST(FileSystem, AttributesReadOnlyRoundTrip) {
  TempDir dir;
  ptest::WriteText(dir.Path("f.txt"), "x");
  EXPECT_EQ(GetFileAttributes(dir.WinPath("F.TXT")), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributes(dir.WinPath()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributes(dir.WinPath("none")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  ASSERT_TRUE(SetFileAttributes(dir.WinPath("f.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(ptest::PermsOf(dir.Path("f.txt")) & fs::perms::all & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write), fs::perms::none);
  EXPECT_EQ(GetFileAttributes(dir.WinPath("f.txt")), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(SetFileAttributes(dir.WinPath("f.txt"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_NE(ptest::PermsOf(dir.Path("f.txt")) & fs::perms::owner_write, fs::perms::none);
  EXPECT_FALSE(SetFileAttributes(dir.WinPath("none"), FILE_ATTRIBUTE_NORMAL));
  // Directories stay writable whatever is asked.
  ASSERT_TRUE(SetFileAttributes(dir.WinPath(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributes(dir.WinPath()), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FileSystem, DeleteFileAsWindowsDoes) {
  TempDir dir;
  ptest::WriteText(dir.Path("ro"), "x");
  ASSERT_TRUE(SetFileAttributes(dir.WinPath("ro"), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFile(dir.WinPath("ro")));  // read-only: refused
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributes(dir.WinPath("ro"), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFile(dir.WinPath("RO")));
  EXPECT_FALSE(ptest::Exists(dir.Path("ro")));

  fs::create_directory(dir.Path("sub"));
  EXPECT_FALSE(DeleteFile(dir.WinPath("sub")));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(dir.WinPath("gone")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // A link goes, its target stays.
  ptest::WriteText(dir.Path("target"), "keep");
  fs::create_symlink(dir.Path("target"), dir.Path("link"));
  EXPECT_TRUE(DeleteFile(dir.WinPath("link")));
  EXPECT_EQ(ptest::ReadText(dir.Path("target")), "keep");
}

TEST(FileSystem, PrivateDirectoryIsExclusiveAndPrivate) {
  TempDir dir;
  ASSERT_TRUE(CreatePrivateDirectory(dir.WinPath("SetupTemp0")));
  EXPECT_EQ(ptest::PermsOf(dir.Path("SetupTemp0")), fs::perms::owner_all);

  EXPECT_FALSE(CreatePrivateDirectory(dir.WinPath("SetupTemp0")));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreatePrivateDirectory(dir.WinPath("SETUPTEMP0")));  // same name on Windows

  // A planted link, even to a real directory or to nowhere, is never used.
  fs::create_directory(dir.Path("elsewhere"));
  fs::create_directory_symlink(dir.Path("elsewhere"), dir.Path("SetupTemp1"));
  fs::create_symlink(dir.Path("nowhere"), dir.Path("SetupTemp2"));
  EXPECT_FALSE(CreatePrivateDirectory(dir.WinPath("SetupTemp1")));
  EXPECT_FALSE(CreatePrivateDirectory(dir.WinPath("SetupTemp2")));
  EXPECT_FALSE(ptest::Exists(dir.Path("nowhere")));
  ptest::WriteText(dir.Path("SetupTemp3"), "");
  EXPECT_FALSE(CreatePrivateDirectory(dir.WinPath("SetupTemp3")));
}

TEST(FileSystem, CreateAndRemoveDirectory) {
  TempDir dir;
  EXPECT_TRUE(CreateDirectory(dir.WinPath("a")));
  EXPECT_FALSE(CreateDirectory(dir.WinPath("x\\y")));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(RemoveDirectory(dir.WinPath("A")));
  EXPECT_FALSE(ptest::Exists(dir.Path("a")));
}

TEST(FileSystem, CopyFileKeepsDataAndRespectsFailIfExists) {
  TempDir dir;
  std::string data(200000, 'q');
  data[12345] = 'Z';
  ptest::WriteText(dir.Path("src"), data);
  ASSERT_TRUE(CopyFile(dir.WinPath("SRC"), dir.WinPath("dst"), true));
  EXPECT_EQ(ptest::ReadText(dir.Path("dst")), data);
  EXPECT_FALSE(CopyFile(dir.WinPath("src"), dir.WinPath("DST"), true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ptest::WriteText(dir.Path("src"), "short");
  EXPECT_TRUE(CopyFile(dir.WinPath("src"), dir.WinPath("DST"), false));  // replaces "dst"
  EXPECT_EQ(ptest::ReadText(dir.Path("dst")), "short");
  EXPECT_FALSE(CopyFile(dir.WinPath("missing"), dir.WinPath("x"), false));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(ptest::Exists(dir.Path("x")));
}

TEST(FileSystem, CopyToAFullDiskLeavesNoPartialFile) {
  TempDir dir;
  ptest::WriteText(dir.Path("src"), "data");
  EXPECT_FALSE(CopyFile(dir.WinPath("src"), u"\\dev\\full", false));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST(FileSystem, FindFileReportsTheStoredName) {
  TempDir dir;
  ptest::WriteText(dir.Path("Setup.EXE"), "12345");
  std::optional<FoundFile> found = FindFile(dir.WinPath("setup.exe"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->name, u"Setup.EXE");
  EXPECT_EQ(found->attributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(found->size, 5u);
  EXPECT_NEAR(static_cast<double>(found->lastWrite), static_cast<double>(CurrentTime()), 60.0);

  fs::create_directory(dir.Path("Sub"));
  found = FindFile(dir.WinPath("SUB"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->attributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindFile(dir.WinPath("nothing")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileSystem, SetFileTimesLeavesWhatIsNotGiven) {
  TempDir dir;
  ptest::WriteText(dir.Path("t"), "x");
  CalendarTime access = 1000000000;
  CalendarTime write = 1200000000;
  ASSERT_TRUE(SetFileTimes(dir.WinPath("T"), nullptr, &access, &write));
  EXPECT_EQ(FindFile(dir.WinPath("t"))->lastWrite, write);
  CalendarTime later = 1300000000;
  ASSERT_TRUE(SetFileTimes(dir.WinPath("t"), &later, &later, nullptr));
  EXPECT_EQ(FindFile(dir.WinPath("t"))->lastWrite, write);
  EXPECT_FALSE(SetFileTimes(dir.WinPath("none"), nullptr, &access, &write));
}

TEST(FileSystem, DrivesAndMedia) {
  EXPECT_EQ(GetDriveType(u""), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType(u"\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType(u"\\no\\such\\root"), DRIVE_NO_ROOT_DIR);
  // The machines that run the tests keep /proc and the temp directory on
  // fixed storage; an unknown answer must also be "not removable".
  EXPECT_FALSE(IsOnRemovableMedia(u"\\proc"));
  TempDir dir;
  EXPECT_FALSE(IsOnRemovableMedia(dir.WinPath("not\\yet\\there")));
  EXPECT_FALSE(MoveFileDelayUntilReboot(dir.WinPath("x")));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(FileSystem, WhatOneResolutionSawAnswersAsTheSystemWould) {
  // The calls answer from the look that resolved the name; the answers and
  // the errors must be those of a fresh look at every kind of name.
  TempDir dir;
  ptest::WriteText(dir.Path("f.txt"), "x");
  fs::create_directory(dir.Path("Sub"));
  fs::create_symlink(dir.Path("gone"), dir.Path("dangle"));
  fs::create_symlink(dir.Path("Sub"), dir.Path("toSub"));
  struct Case {
    const char* name;
    bool exists;          // PathFileExists: the name itself, links not followed
    uint32_t attributes;  // GetFileAttributes: through links
    uint32_t error;       // the last error when either fails
  };
  const Case cases[] = {
      {"F.TXT", true, FILE_ATTRIBUTE_NORMAL, 0},
      {"sub", true, FILE_ATTRIBUTE_DIRECTORY, 0},
      {"none", false, INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"SUB\\none", false, INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"nodir\\none", false, INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"f.txt\\none", false, INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {"DANGLE", true, INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {"tosub", true, FILE_ATTRIBUTE_DIRECTORY, 0},
      {"toSub\\none", false, INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(PathFileExists(dir.WinPath(c.name)), c.exists) << c.name;
    if (!c.exists) {
      EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    SetLastError(0);
    EXPECT_EQ(GetFileAttributes(dir.WinPath(c.name)), c.attributes) << c.name;
    if (c.attributes == INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_EQ(FindFile(dir.WinPath(c.name)).has_value(), c.attributes != INVALID_FILE_ATTRIBUTES)
        << c.name;
  }
}

TEST(FileSystem, OpeningAnswersAsTheSystemWould) {
  TempDir dir;
  ptest::WriteText(dir.Path("Old.txt"), "old");
  fs::create_directory(dir.Path("Sub"));
  ptest::WriteText(dir.Path("target"), "keep");
  fs::create_symlink(dir.Path("target"), dir.Path("link"));
  struct Case {
    const char* name;
    FileCreate create;
    bool opens;
    uint32_t error;  // the last error: on failure, or what success reports
  };
  const Case cases[] = {
      {"OLD.TXT", FileCreate::CreateNew, false, ERROR_FILE_EXISTS},
      {"OLD.TXT", FileCreate::OpenAlways, true, ERROR_ALREADY_EXISTS},
      {"old.txt", FileCreate::OpenExisting, true, ERROR_SUCCESS},
      {"missing", FileCreate::OpenExisting, false, ERROR_FILE_NOT_FOUND},
      {"nodir\\missing", FileCreate::OpenExisting, false, ERROR_PATH_NOT_FOUND},
      {"nodir\\missing", FileCreate::CreateAlways, false, ERROR_PATH_NOT_FOUND},
      {"SUB", FileCreate::CreateAlways, false, ERROR_ACCESS_DENIED},
      {"sub", FileCreate::OpenAlways, false, ERROR_ACCESS_DENIED},
      {"sub", FileCreate::OpenExisting, false, ERROR_ACCESS_DENIED},
      {"New.txt", FileCreate::CreateNew, true, ERROR_SUCCESS},
      {"NEW.TXT", FileCreate::CreateAlways, true, ERROR_ALREADY_EXISTS},
      {"LINK", FileCreate::CreateAlways, true, ERROR_ALREADY_EXISTS},
  };
  for (const Case& c : cases) {
    SetLastError(12345);
    const FileHandle h = OpenFileHandle(dir.WinPath(c.name), FileAccess::Write,
                                        FileShare::DenyWrite, c.create);
    EXPECT_EQ(h != kInvalidFile, c.opens) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
    if (h != kInvalidFile) CloseFileHandle(h);
  }
  // The new file took the name as first given; the link was replaced, not
  // followed.
  EXPECT_TRUE(ptest::Exists(dir.Path("New.txt")));
  EXPECT_FALSE(ptest::Exists(dir.Path("NEW.TXT")));
  EXPECT_EQ(ptest::ReadText(dir.Path("target")), "keep");
  EXPECT_EQ(fs::symlink_status(dir.Path("link")).type(), fs::file_type::regular);
}
