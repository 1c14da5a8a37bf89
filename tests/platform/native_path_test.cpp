#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/file_handle.h"
#include "platform/file_system.h"
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
  ptest::WriteText(dir.native("Data.bin"), "x");
  ptest::WriteText(dir.native("data.bin"), "y");
  EXPECT_EQ(ResolveNativePath(dir.win("Data.bin")), dir.native("Data.bin"));
  EXPECT_EQ(ResolveNativePath(dir.win("data.bin")), dir.native("data.bin"));
}

TEST(NativePath, ComponentsResolveWithoutRegardToCase) {
  TempDir dir;
  std::filesystem::create_directories(dir.native("Sub Dir/inner"));
  ptest::WriteText(dir.native("Sub Dir/inner/upk2.dll"), "x");
  ptest::WriteText(dir.native("Sub Dir/\xC3\xA4rger.txt"), "x");  // "ärger"
  EXPECT_EQ(ResolveNativePath(dir.win("SUB DIR\\Inner\\Upk2.DLL")),
            dir.native("Sub Dir/inner/upk2.dll"));
  // Latin letters of the ANSI code page fold too.
  EXPECT_EQ(ResolveNativePath(dir.win("sub dir\\\xC3\x84RGER.TXT")),
            dir.native("Sub Dir/\xC3\xA4rger.txt"));
}

TEST(NativePath, MissingComponentsAreKeptAsGiven) {
  TempDir dir;
  std::filesystem::create_directory(dir.native("Existing"));
  EXPECT_EQ(ResolveNativePath(dir.win("EXISTING\\New\\File.TXT")),
            dir.native("Existing/New/File.TXT"));
}

TEST(NativePath, SeveralCaseMatchesPickTheSmallestName) {
  TempDir dir;
  ptest::WriteText(dir.native("readme"), "1");
  ptest::WriteText(dir.native("README"), "2");
  EXPECT_EQ(ResolveNativePath(dir.win("ReadMe")), dir.native("README"));
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
  ASSERT_TRUE(SetCurrentDirectory(dir.win()));
  EXPECT_EQ(*GetCurrentDirectory(), FromNativePath(std::filesystem::canonical(dir.native()).string()));
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
  ptest::WriteText(dir.native("first.txt"), "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ResolveNativePath(dir.win("NEW.TXT")), dir.native("NEW.TXT"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ptest::WriteText(dir.native("new.txt"), "outside");
  EXPECT_EQ(ResolveNativePath(dir.win("NEW.TXT")), dir.native("new.txt"));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::filesystem::remove(dir.native("new.txt"));
  EXPECT_FALSE(PathFileExists(dir.win("NEW.TXT")));
  EXPECT_EQ(ResolveNativePath(dir.win("FIRST.txt")), dir.native("first.txt"));
}

TEST(NativePath, FilesCreatedHereAreFoundInAnyCaseRightAway) {
  // Files this thread creates keep the remembered listing current.
  TempDir dir;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "File" + std::to_string(i) + ".Dat";
    ASSERT_FALSE(PathFileExists(dir.win(name)));
    const FileHandle h = OpenFileHandle(dir.win(name), FileAccess::Write, FileShare::DenyWrite,
                                        FileCreate::CreateAlways);
    ASSERT_NE(h, kInvalidFile);
    CloseFileHandle(h);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(ResolveNativePath(dir.win(upper)), dir.native(name)) << i;
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
    ASSERT_FALSE(PathFileExists(dir.win(sub)));
    ASSERT_TRUE(CreateDirectory(dir.win(sub)));
    for (const char* file : {"\\A.class", "\\B.class"}) {
      const FileHandle h = OpenFileHandle(dir.win(sub + file), FileAccess::Write,
                                          FileShare::DenyWrite, FileCreate::CreateAlways);
      ASSERT_NE(h, kInvalidFile);
      CloseFileHandle(h);
    }
  }
  // Found in any case afterwards, from the remembered listing or a new one.
  EXPECT_EQ(ResolveNativePath(dir.win("DIR7\\a.CLASS")), dir.native("Dir7/A.class"));
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
  for (int d = 0; d < kDirectories; ++d) ASSERT_TRUE(CreateDirectory(dir.win("P" + std::to_string(d))));
  const uint64_t before = posix::NamesReadFromDirectories();
  for (int f = 0; f < kFilesEach; ++f) {
    for (int i = 0; i < kDirectories; ++i) {
      const int d = (i * 37) % kDirectories;  // a stride that visits every directory
      const std::string file = "P" + std::to_string(d) + "\\C" + std::to_string(f) + ".class";
      ASSERT_FALSE(PathFileExists(dir.win(file)));
      const FileHandle h = OpenFileHandle(dir.win(file), FileAccess::Write, FileShare::DenyWrite,
                                          FileCreate::CreateAlways);
      ASSERT_NE(h, kInvalidFile);
      CloseFileHandle(h);
    }
  }
  EXPECT_EQ(ResolveNativePath(dir.win("p17\\c3.CLASS")), dir.native("P17/C3.class"));
  const uint64_t read = posix::NamesReadFromDirectories() - before;
  // Listings may expire once a second on a slow machine; a read per file
  // would be about kDirectories * kFilesEach * kFilesEach / 2 names.
  EXPECT_LT(read, 4u * kDirectories * (kFilesEach + 2)) << "per-file reads";
}
