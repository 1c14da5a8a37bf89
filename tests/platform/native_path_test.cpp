#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/resolve_path.h"
#include "platform_test_util.h"

using namespace plat;
using ptest::TempDir;

TEST(NativePath, SeparatorsAndEncodingBothWays) {
  EXPECT_EQ(ToNativePath(u"\\tmp\\a/b\\\u00E9"), "/tmp/a/b/\xC3\xA9");
  EXPECT_EQ(FromNativePath("/tmp/a/\xC3\xA9"), u"\\tmp\\a\\\u00E9");
}

TEST(NativePath, ExactPathIsKept) {
  TempDir dir;
  ptest::WriteText(dir.Path("Data.bin"), "x");
  ptest::WriteText(dir.Path("data.bin"), "y");
  EXPECT_EQ(ResolveNativePath(dir.WinPath("Data.bin")), dir.Path("Data.bin"));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("data.bin")), dir.Path("data.bin"));
}

TEST(NativePath, ComponentsResolveWithoutRegardToCase) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path("Sub Dir/inner"));
  ptest::WriteText(dir.Path("Sub Dir/inner/upk2.dll"), "x");
  ptest::WriteText(dir.Path("Sub Dir/\xC3\xA4rger.txt"), "x");  // "ärger"
  EXPECT_EQ(ResolveNativePath(dir.WinPath("SUB DIR\\Inner\\Upk2.DLL")),
            dir.Path("Sub Dir/inner/upk2.dll"));
  // Latin letters of the ANSI code page fold too.
  EXPECT_EQ(ResolveNativePath(dir.WinPath("sub dir\\\xC3\x84RGER.TXT")),
            dir.Path("Sub Dir/\xC3\xA4rger.txt"));
}

TEST(NativePath, MissingComponentsAreKeptAsGiven) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("Existing"));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("EXISTING\\New\\File.TXT")),
            dir.Path("Existing/New/File.TXT"));
}

TEST(NativePath, SeveralCaseMatchesPickTheSmallestName) {
  TempDir dir;
  ptest::WriteText(dir.Path("readme"), "1");
  ptest::WriteText(dir.Path("README"), "2");
  EXPECT_EQ(ResolveNativePath(dir.WinPath("ReadMe")), dir.Path("README"));
}

TEST(NativePath, TempPathFollowsTmpdir) {
  const char* saved = std::getenv("TMPDIR");
  std::string old = saved ? saved : "";
  ::setenv("TMPDIR", "/var/tmp/upk x", 1);
  EXPECT_EQ(GetTempPath(), u"\\var\\tmp\\upk x\\");
  ::setenv("TMPDIR", "/var/tmp/", 1);
  EXPECT_EQ(GetTempPath(), u"\\var\\tmp\\");
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(GetTempPath(), u"\\tmp\\");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(GetTempPath(), u"\\tmp\\");
  if (saved) ::setenv("TMPDIR", old.c_str(), 1);
}

TEST(NativePath, CurrentDirectoryAndModuleNameAreWindowsForm) {
  TempDir dir;
  std::optional<WString> before = GetCurrentDirectory();
  ASSERT_TRUE(before);
  ASSERT_TRUE(SetCurrentDirectory(dir.WinPath()));
  EXPECT_EQ(*GetCurrentDirectory(), FromNativePath(std::filesystem::canonical(dir.path()).string()));
  EXPECT_TRUE(SetCurrentDirectory(*before));

  WString self = GetModuleFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self[0], u'\\');
  EXPECT_NE(self.find(u"platform_tests"), WString::npos);
  // An address inside this program names the same file.
  static int marker;
  EXPECT_EQ(GetModuleFileName(&marker), self);
}

TEST(NativePath, ListingOfADirectoryFollowsChangesFromOutside) {
  // Lookups remember the directory they read; a name that another process
  // adds or removes afterwards must still be seen.
  TempDir dir;
  ptest::WriteText(dir.Path("first.txt"), "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("NEW.TXT")), dir.Path("NEW.TXT"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ptest::WriteText(dir.Path("new.txt"), "outside");
  EXPECT_EQ(ResolveNativePath(dir.WinPath("NEW.TXT")), dir.Path("new.txt"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::filesystem::remove(dir.Path("new.txt"));
  EXPECT_FALSE(PathFileExists(dir.WinPath("NEW.TXT")));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("FIRST.txt")), dir.Path("first.txt"));
}

TEST(NativePath, FilesCreatedHereAreFoundInAnyCaseRightAway) {
  // Files this thread creates keep the remembered listing current.
  TempDir dir;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "File" + std::to_string(i) + ".Dat";
    ASSERT_FALSE(PathFileExists(dir.WinPath(name)));
    const FileHandle h = OpenFileHandle(dir.WinPath(name), FileAccess::Write, FileShare::DenyWrite,
                                        FileCreate::CreateAlways);
    ASSERT_NE(h, kInvalidFile);
    CloseFileHandle(h);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(ResolveNativePath(dir.WinPath(upper)), dir.Path(name)) << i;
  }
}

TEST(NativePath, SiblingDirectoriesWithFilesCostLinearReads) {
  // Extracting an archive creates a directory, then files in it, then the
  // next directory beside it: the parent's listing must not be read again
  // for each new directory, or the names read grow with the square.
  TempDir dir;
  constexpr int kDirectories = 400;
  const uint64_t before = posix::NamesReadFromDirectories();
  for (int i = 0; i < kDirectories; ++i) {
    const std::string sub = "Dir" + std::to_string(i);
    ASSERT_FALSE(PathFileExists(dir.WinPath(sub)));
    ASSERT_TRUE(CreateDirectory(dir.WinPath(sub)));
    for (const char* file : {"\\A.class", "\\B.class"}) {
      const FileHandle h = OpenFileHandle(dir.WinPath(sub + file), FileAccess::Write,
                                          FileShare::DenyWrite, FileCreate::CreateAlways);
      ASSERT_NE(h, kInvalidFile);
      CloseFileHandle(h);
    }
  }
  // Found in any case afterwards, from the remembered listing or a new one.
  EXPECT_EQ(ResolveNativePath(dir.WinPath("DIR7\\a.CLASS")), dir.Path("Dir7/A.class"));
  const uint64_t read = posix::NamesReadFromDirectories() - before;
  EXPECT_LT(read, 10u * kDirectories) << "quadratic would be about "
                                      << kDirectories * kDirectories / 2;
}

TEST(NativePath, FilesSpreadOverManyDirectoriesInAnyOrderCostLinearReads) {
  // A jar's entries come in no order of package: the next file may go into
  // any of hundreds of directories. Each directory is read about once, not
  // once per file.
  TempDir dir;
  constexpr int kDirectories = 100, kFilesEach = 24;
  for (int d = 0; d < kDirectories; ++d) ASSERT_TRUE(CreateDirectory(dir.WinPath("P" + std::to_string(d))));
  const uint64_t before = posix::NamesReadFromDirectories();
  for (int f = 0; f < kFilesEach; ++f) {
    for (int i = 0; i < kDirectories; ++i) {
      const int d = (i * 37) % kDirectories;  // a stride that visits every directory
      const std::string file = "P" + std::to_string(d) + "\\C" + std::to_string(f) + ".class";
      ASSERT_FALSE(PathFileExists(dir.WinPath(file)));
      const FileHandle h = OpenFileHandle(dir.WinPath(file), FileAccess::Write, FileShare::DenyWrite,
                                          FileCreate::CreateAlways);
      ASSERT_NE(h, kInvalidFile);
      CloseFileHandle(h);
    }
  }
  EXPECT_EQ(ResolveNativePath(dir.WinPath("p17\\c3.CLASS")), dir.Path("P17/C3.class"));
  const uint64_t read = posix::NamesReadFromDirectories() - before;
  // Listings may expire once a second on a slow machine; a read per file
  // would be about kDirectories * kFilesEach * kFilesEach / 2 names.
  EXPECT_LT(read, 4u * kDirectories * (kFilesEach + 2)) << "per-file reads";
}

TEST(NativePath, NewFilesInADirectoryBeyondTheListingLimitCostLinearReads) {
  // A directory with more names than a full listing keeps is kept as hashes
  // of its names: new names are known to be absent without reading it
  // again, so N new files cost about one read of its M names, not N.
  TempDir dir;
  constexpr int kExisting = 70000, kNew = 500;
  ASSERT_EQ(std::system(("cd " + dir.Path("") + " && seq -f 'old%g.dat' 1 " +
                         std::to_string(kExisting) + " | xargs touch").c_str()), 0);
  const uint64_t before = posix::NamesReadFromDirectories();
  for (int i = 0; i < kNew; ++i) {
    const std::string file = "New" + std::to_string(i) + ".dat";
    ASSERT_FALSE(PathFileExists(dir.WinPath(file)));
    const FileHandle h = OpenFileHandle(dir.WinPath(file), FileAccess::Write, FileShare::DenyWrite,
                                        FileCreate::CreateAlways);
    ASSERT_NE(h, kInvalidFile);
    CloseFileHandle(h);
  }
  // Names already there are found in any case, new and old alike.
  EXPECT_EQ(ResolveNativePath(dir.WinPath("new7.DAT")), dir.Path("New7.dat"));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("old123.dat")), dir.Path("old123.dat"));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("OLD124.DAT")), dir.Path("old124.dat"));
  const uint64_t read = posix::NamesReadFromDirectories() - before;
  // Listings expire after a second: a slow machine may read a few more times.
  EXPECT_LT(read, 8u * kExisting) << "a read per new file would be about " << kNew * kExisting;
}

TEST(NativePath, OwnCreationsKeepAListingOnlyWhenItWasCurrentBefore) {
  // After this thread creates a name, the remembered listing takes it and
  // the directory's new times, but only when the listing matched the
  // directory just before: a name another process added in between must
  // not hide behind the new times.
  TempDir dir;
  ptest::WriteText(dir.Path("seed"), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const posix::ResolvedPath first = posix::Resolve(dir.WinPath("Mine1.txt"));  // reads the listing
  ASSERT_TRUE(first.parentKnown);
  ASSERT_FALSE(first.exists);

  // Current before: kept, and no read is needed to find the new name.
  ptest::WriteText(dir.Path("Mine1.txt"), "");
  posix::NoteFileCreated(dir.Path("Mine1.txt"), &first.parent);
  const uint64_t before = posix::NamesReadFromDirectories();
  EXPECT_EQ(ResolveNativePath(dir.WinPath("MINE1.TXT")), dir.Path("Mine1.txt"));
  EXPECT_EQ(posix::NamesReadFromDirectories(), before);

  // Another process adds a name, this thread sees the directory changed
  // (not through its listing) and creates a name: the listing, older than
  // what was seen, is not made to look current.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ptest::WriteText(dir.Path("Foreign.TXT"), "");
  const posix::ResolvedPath seen = posix::Resolve(dir.WinPath());
  ASSERT_TRUE(seen.exists);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ptest::WriteText(dir.Path("Mine2.txt"), "");
  posix::NoteFileCreated(dir.Path("Mine2.txt"), &seen.self);
  EXPECT_EQ(ResolveNativePath(dir.WinPath("foreign.txt")), dir.Path("Foreign.TXT"));
  EXPECT_EQ(ResolveNativePath(dir.WinPath("mine2.TXT")), dir.Path("Mine2.txt"));
}

TEST(NativePath, CreationsInterleavedWithOutsideChangesFindEveryName) {
  // Files made here and names added from outside in the same directory,
  // by turns: each lookup sees both.
  TempDir dir;
  for (int i = 0; i < 6; ++i) {
    const std::string mine = "mine" + std::to_string(i) + ".dat";
    const FileHandle h = OpenFileHandle(dir.WinPath(mine), FileAccess::Write,
                                        FileShare::DenyWrite, FileCreate::CreateNew);
    ASSERT_NE(h, kInvalidFile);
    CloseFileHandle(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    const std::string theirs = "Theirs" + std::to_string(i) + ".DAT";
    ptest::WriteText(dir.Path(theirs), "");
    EXPECT_EQ(ResolveNativePath(dir.WinPath("THEIRS" + std::to_string(i) + ".dat")),
              dir.Path(theirs));
    EXPECT_EQ(ResolveNativePath(dir.WinPath("MINE" + std::to_string(i) + ".DAT")), dir.Path(mine));
    // A creation under another case of an outside name opens that name.
    const FileHandle again = OpenFileHandle(dir.WinPath("theirs" + std::to_string(i) + ".dat"),
                                            FileAccess::Write, FileShare::DenyWrite,
                                            FileCreate::CreateNew);
    EXPECT_EQ(again, kInvalidFile);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  }
}
