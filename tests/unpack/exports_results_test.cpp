// Result codes and failure handling of the exports, through the loaded
// library: handles, open flags and messages, missing entries, files already
// at the target, damaged data, names that would leave the destination.
#include <gtest/gtest.h>
#include <filesystem>
#include <set>
#include <sstream>
#include "crafted_zip.h"
#include "library_fixture.h"
#include "zip_writers.h"

using namespace upktest;
namespace fs = std::filesystem;

namespace {

std::string CraftedArchive(const TempDir& dir, std::vector<CraftedEntry> entries) {
  CraftedZip zip;
  zip.entries = std::move(entries);
  const std::string path = dir.Path("crafted.zip");
  WriteFile(path, zip.Build());
  return path;
}

// The message that a failed open shows (on stderr here).
std::string OpenFailureMessage(const std::string& path, uint32_t flags) {
  ::testing::internal::CaptureStderr();
  ArchiveHandle* h = Upk4().Open(WinPath(path).c_str(), 0, 0, nullptr, flags);
  const std::string text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(h, nullptr);
  return text;
}

TEST(Results, NullHandles) {
  EXPECT_EQ(Upk4().Unpack(nullptr, u"x", u"\\tmp", nullptr, 0), 0);
  EXPECT_EQ(Upk4().Close(nullptr), 0);
}

TEST(Results, FailedOpensShowTheStepCodeAndLaterOpensStillWork) {
  TempDir dir;
  const std::string zip = CraftedArchive(dir, {StoredEntry("a.txt", "alpha")});
  EXPECT_NE(OpenFailureMessage(zip, 0).find("Setup-Error:\nCan't open archive, AllocStruct(3), code "),
            std::string::npos);
  EXPECT_NE(OpenFailureMessage(dir.Path("missing.zip"), UPK4_OPEN_PLAIN).find("AllocStruct(3)"),
            std::string::npos);
  WriteFile(dir.Path("notzip.zip"), "this is no archive");
  EXPECT_NE(OpenFailureMessage(dir.Path("notzip.zip"), UPK4_OPEN_PLAIN).find("AllocStruct(3)"),
            std::string::npos);
  // After a failed open every close goes the after-error way: still clean.
  EXPECT_EQ(UnpackOne(zip, "A.TXT", dir.path()), 0);
  EXPECT_EQ(ReadFile(dir.Path("a.txt")), "alpha");
}

TEST(Results, PercentSignsInPatternPathsStayLiteral) {
  TempDir dir;
  const std::string zip = CraftedArchive(dir, {StoredEntry("a.txt", "alpha")});
  fs::copy_file(zip, dir.Path("we%s%n1%x.zip"));
  fs::copy_file(zip, dir.Path("b1-1 (100%).zip"));
  for (auto [path, flags] : {std::pair{dir.Path("we%s%n%d%x.zip"), UPK4_OPEN_PATTERN1},
                             std::pair{dir.Path("b%d-%i (100%%).zip"), UPK4_OPEN_PATTERN2}}) {
    ArchiveHandle* h = Upk4().Open(WinPath(path).c_str(), 0, 0, u"", flags);
    // %x has no argument left under flags 1 and stays literal as well.
    ASSERT_NE(h, nullptr) << path;
    EXPECT_EQ(Upk4().Close(h), 0);
  }
  EXPECT_NE(OpenFailureMessage(dir.Path("%s%s%s%n%n%d.zip"), UPK4_OPEN_PATTERN1).find("AllocStruct(3)"),
            std::string::npos);
}

TEST(Results, MissingEntryLeavesTheTargetAlone) {
  TempDir dir;
  const std::string zip = CraftedArchive(dir, {StoredEntry("a.txt", "alpha")});
  WriteFile(dir.Path("out/b.txt"), "keep");
  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  const plat::WString out = WinPath(dir.Path("out"));
  EXPECT_EQ(Upk4().Unpack(h, u"b.txt", out.c_str(), u"b.txt", 0), 2);
  EXPECT_EQ(Upk4().Unpack(h, u"b.txt", out.c_str(), u"b.txt", UPK4_UNPACK_MISSING_OK), 0);
  EXPECT_EQ(ReadFile(dir.Path("out/b.txt")), "keep");
  EXPECT_EQ(Upk4().Close(h), 0);
}

TEST(Results, OldFileIsReplacedAtTheTargetNotInTheCurrentDirectory) {
  TempDir dir;
  const std::string zip = CraftedArchive(dir, {StoredEntry("a.txt", "alpha")});
  WriteFile(dir.Path("out/new.txt"), "old read-only");
  fs::permissions(dir.Path("out/new.txt"), fs::perms::owner_read | fs::perms::group_read);
  WriteFile(dir.Path("cwd/new.txt"), "unrelated");
  const fs::path previous = fs::current_path();
  fs::current_path(dir.Path("cwd"));
  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Upk4().Unpack(h, u"a.txt", WinPath(dir.Path("out")).c_str(), u"new.txt", 0), 0);
  EXPECT_EQ(Upk4().Close(h), 0);
  fs::current_path(previous);
  EXPECT_EQ(ReadFile(dir.Path("out/new.txt")), "alpha");
  EXPECT_EQ(ReadFile(dir.Path("cwd/new.txt")), "unrelated");
}

TEST(Results, DamagedEntriesGiveMinusTwoAndTheHandleGoesOn) {
  TempDir dir;
  const std::string data = MakeTextLikeData(100000, 41);
  CraftedEntry badCrc = StoredEntry("crc.bin", data);
  badCrc.crc ^= 0x80;
  CraftedEntry claimsMore = StoredEntry("more.bin", "0123456789");
  claimsMore.uncompressedSize = 1000000;
  std::vector<CraftedEntry> entries = {badCrc, claimsMore};
  // Deflate data damaged in different ways: flipped bits early and late,
  // zeroed runs, a cut stream.
  for (size_t at : {0ul, 5ul, 1000ul, 20000ul}) {
    CraftedEntry e = DeflatedEntry("d" + std::to_string(at) + ".bin", data);
    for (size_t i = at; i < std::min(e.data.size(), at + 64); ++i) e.data[i] ^= 0xA5;
    entries.push_back(e);
  }
  CraftedEntry cut = DeflatedEntry("cut.bin", data);
  cut.data.resize(cut.data.size() / 3);
  cut.compressedSize = static_cast<uint32_t>(cut.data.size());
  entries.push_back(cut);
  entries.push_back(StoredEntry("good.txt", "good"));
  const std::string zip = CraftedArchive(dir, entries);

  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  const plat::WString out = WinPath(dir.Path("out"));
  for (const CraftedEntry& e : entries) {
    if (e.name == "good.txt") continue;
    EXPECT_EQ(Upk4().Unpack(h, WinPath(e.name).c_str(), out.c_str(), nullptr, 0), -2) << e.name;
  }
  // The CRC is judged after the whole entry was written: the file stays.
  EXPECT_EQ(ReadFile(dir.Path("out/crc.bin")), data);
  EXPECT_EQ(Upk4().Unpack(h, u"good.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(ReadFile(dir.Path("out/good.txt")), "good");
  // The close still reports that an entry of this handle failed its check.
  EXPECT_EQ(Upk4().Close(h), 1);
  h = OpenPlain(zip);
  EXPECT_EQ(Upk4().Unpack(h, u"good.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Upk4().Close(h), 0);
}

// A link at the target (planted, or left dangling) is removed itself: its
// target keeps its contents and attributes, and no file appears outside the
// destination.
TEST(Results, LinkAtTheTargetIsRemovedNeverFollowed) {
  TempDir dir;
  const std::string zip =
      CraftedArchive(dir, {StoredEntry("a.txt", "new a"), StoredEntry("b.txt", "new b")});
  WriteFile(dir.Path("outside/kept"), "keep");
  fs::permissions(dir.Path("outside/kept"), fs::perms::owner_read);
  fs::create_directories(dir.Path("out"));
  fs::create_symlink(dir.Path("outside/kept"), dir.Path("out/a.txt"));
  fs::create_symlink(dir.Path("outside/created"), dir.Path("out/b.txt"));
  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  const plat::WString out = WinPath(dir.Path("out"));
  EXPECT_EQ(Upk4().Unpack(h, u"a.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Upk4().Unpack(h, u"b.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Upk4().Close(h), 0);
  EXPECT_EQ(ReadFile(dir.Path("out/a.txt")), "new a");
  EXPECT_EQ(ReadFile(dir.Path("out/b.txt")), "new b");
  EXPECT_FALSE(fs::is_symlink(dir.Path("out/a.txt")));
  EXPECT_EQ(ReadFile(dir.Path("outside/kept")), "keep");
  EXPECT_EQ(fs::status(dir.Path("outside/kept")).permissions(), fs::perms::owner_read);
  EXPECT_FALSE(fs::exists(dir.Path("outside/created")));
}

TEST(Results, NamesThatWouldLeaveTheDestinationStayInsideOrAreRefused) {
  TempDir dir;
  const std::string zip = CraftedArchive(
      dir, {StoredEntry("../x1", "1"), StoredEntry("/abs2", "2"), StoredEntry("c:x3", "3"),
            StoredEntry("a/../../x4", "4"), StoredEntry("..", "5"), StoredEntry("a/..", "6")});
  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  const plat::WString out = WinPath(dir.Path("box/out"));
  for (const char16_t* name : {u"..\\x1", u"\\abs2", u"c:x3", u"a\\..\\..\\x4"})
    EXPECT_EQ(Upk4().Unpack(h, name, out.c_str(), nullptr, 0), 0);
  for (const char16_t* name : {u"..", u"a\\.."})
    EXPECT_EQ(Upk4().Unpack(h, name, out.c_str(), nullptr, 0), 123);
  EXPECT_EQ(Upk4().Unpack(h, u"..\\x1", out.c_str(), u"..", 0), 123);
  EXPECT_EQ(Upk4().Unpack(h, u"..\\x1", out.c_str(), u"sub\\..\\", 0), 123);
  EXPECT_EQ(Upk4().Close(h), 0);
  for (const char* n : {"x1", "abs2", "x3", "x4"}) EXPECT_TRUE(FileExists(dir.Path("box/out/") + n));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("box")), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// A file that cannot be created is reported with the system's cause, never
// as damaged data; the system's "not found" never reads as a missing entry.
TEST(Results, AFileThatCannotBeCreatedGivesTheSystemsCause) {
  TempDir dir;
  const std::string zip = CraftedArchive(dir, {StoredEntry("a.txt", "alpha")});
  WriteFile(dir.Path("blocker"), "a file where a directory should be");
  ArchiveHandle* h = OpenPlain(zip);
  ASSERT_NE(h, nullptr);
  const plat::WString below = WinPath(dir.Path("blocker/sub"));
  const int32_t result = Upk4().Unpack(h, u"a.txt", below.c_str(), nullptr, 0);
  EXPECT_NE(result, -2);
  EXPECT_NE(result, 2);
  EXPECT_GT(result, 0);
  // A name longer than any file system takes: 206, nothing cut, nothing made.
  const plat::WString overlong(256, u'n');
  const plat::WString out = WinPath(dir.Path("out"));
  EXPECT_EQ(Upk4().Unpack(h, u"a.txt", out.c_str(), overlong.c_str(), 0), 206);
  EXPECT_FALSE(fs::exists(dir.Path("out")));
  EXPECT_EQ(Upk4().Unpack(h, u"a.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(Upk4().Close(h), 1);  // an entry of this handle failed
}

TEST(Results, LibraryExportsExactlyTheFourEntryPoints) {
  std::string listing;
  ASSERT_EQ(RunCommand("nm -D --defined-only " + ShellQuote(LibraryPath()), &listing), 0);
  std::set<std::string> names;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const std::string name = line.substr(line.rfind(' ') + 1);
    if (line.find(" A ") == std::string::npos) names.insert(name);  // skip version nodes
  }
  EXPECT_EQ(names, (std::set<std::string>{"UPK4_Close", "UPK4_Open", "UPK4_SetProgress",
                                          "UPK4_Unpack"}));
}

}  // namespace
