// ByteBlock, the error mapping, the inflater's allocation register and the
// path functions.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include "upk4/zip_file64.h"
#include <filesystem>
#include "reader_test_util.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"

using namespace upktest;

TEST(ByteBlockTest, AllocateKeepsOrReplacesAsSizeDecides) {
  ByteBlock b;
  EXPECT_EQ(b.Allocate(0, true), nullptr);
  EXPECT_EQ(b.size, 0u);

  uint8_t* first = b.Allocate(8, true);
  ASSERT_NE(first, nullptr);
  std::memcpy(first, "abcdefgh", 8);
  // Same size without zeroing: same block, same bytes.
  EXPECT_EQ(b.Allocate(8, false), first);
  EXPECT_EQ(std::memcmp(b.data, "abcdefgh", 8), 0);
  // Same size with zeroing: same block, cleared.
  EXPECT_EQ(b.Allocate(8, true), first);
  EXPECT_EQ(b.data[0], 0);
  EXPECT_EQ(b.data[7], 0);

  b.Allocate(0, false);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.size, 0u);
}

TEST(ByteBlockTest, CopyAssignmentIsDeepAndHandlesEmptyAndSelf) {
  ByteBlock a(4, false);
  std::memcpy(a.data, "wxyz", 4);
  ByteBlock b;
  b = a;
  ASSERT_EQ(b.size, 4u);
  EXPECT_NE(b.data, a.data);
  EXPECT_EQ(std::memcmp(b.data, "wxyz", 4), 0);

  ByteBlock& self = b;
  b = self;
  ASSERT_EQ(b.size, 4u);
  EXPECT_EQ(std::memcmp(b.data, "wxyz", 4), 0);

  b = ByteBlock();
  EXPECT_EQ(b.size, 0u);
  EXPECT_EQ(b.data, nullptr);
}

TEST(ZipErrorTest, MapErrorCodeTable) {
  const std::pair<int32_t, int32_t> table[] = {
      {1, 2},     {2, 3},     {-1, 4},    {-2, 5},    {-3, 6},    {-4, 7},    {-5, 8},
      {-6, 9},    {-101, 10}, {-102, 11}, {-103, 12}, {-104, 13}, {-105, 14}, {-106, 15},
      {-107, 16}, {-108, 17}, {-109, 18}, {0, 1},     {3, 1},     {10, 1},    {-7, 1},
      {-100, 1},  {-110, 1}};
  for (auto [code, cause] : table) EXPECT_EQ(MapErrorCode(code), cause) << "code " << code;
}

TEST(ZipErrorTest, RaiseZipErrorThrowsCauseAndFileName) {
  try {
    RaiseZipError(-109, u"\\tmp\\a.zip");
    FAIL() << "nothing thrown";
  } catch (const CException& e) {
    const auto* zip = dynamic_cast<const CZipException*>(&e);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(zip->m_iCause, CZipException::cdirNotFound);
    EXPECT_EQ(zip->m_szFileName, u"\\tmp\\a.zip");
    EXPECT_FALSE(zip->GetErrorMessage().empty());
  }
}

TEST(PathFunctionsTest, SplittingLikeTheRuntime) {
  EXPECT_EQ(GetDirectoryPart(u"C:\\dir\\sub\\file.ext"), u"C:\\dir\\sub\\");
  EXPECT_EQ(GetFileNamePart(u"C:\\dir\\file.tar.gz"), u"file.tar.gz");
  EXPECT_EQ(GetDrivePart(u"C:\\dir\\file"), u"C:");
  EXPECT_EQ(GetDrivePart(u"\\tmp\\file"), u"");
  EXPECT_EQ(GetPathWithoutDrive(u"C:\\\\dir\\file.txt"), u"dir\\file.txt");
  EXPECT_EQ(GetDirectoryPart(u"file.zip"), u"");
  EXPECT_EQ(GetDirectoryPart(u"/tmp/x/a.zip"), u"/tmp/x/");
  PathParts p = SplitPath(u"C:\\dir.d\\name");
  EXPECT_EQ(p.directory, u"\\dir.d\\");
  EXPECT_EQ(p.name, u"name");
  EXPECT_EQ(p.extension, u"");
  // Nothing is cut: a long name stays whole, for the target's check to
  // refuse rather than to land under a shorter name.
  EXPECT_EQ(SplitPath(plat::WString(300, u'n')).name.size(), 300u);
  const plat::WString deep = plat::WString(270, u'd') + u"\\file.txt";
  EXPECT_EQ(GetDirectoryPart(deep), plat::WString(270, u'd') + u"\\");
  EXPECT_EQ(GetPathWithoutDrive(deep), deep);
}

// Where an entry lands, and why a name is refused before anything exists.
TEST(PathFunctionsTest, ExtractionTargetRefusesWithTheCause) {
  const plat::WString deep = [] {
    plat::WString name = u"deep";
    for (int i = 1; i <= 14; ++i) name += u"\\directory_level_" + plat::WString(1, u'0' + i % 10);
    return name + u"\\deep_file_name.txt";
  }();
  struct Case {
    const char16_t* destDir;
    plat::WString name;
    bool fullPath, windowsNames;
    std::optional<plat::WString> target;
    uint32_t error;
  };
  const plat::WString longComponent(256, u'x');
  const Case cases[] = {
      {u"out\\", u"a\\b.txt", true, false, u"out\\a\\b.txt", 0},
      {u"out", u"a\\b.txt", false, false, u"out\\b.txt", 0},
      {u"out", deep, true, false, u"out\\" + deep, 0},  // far past 260, whole
      {u"out", u"..\\x", true, false, std::nullopt, plat::ERROR_INVALID_NAME},
      {u"out", u"c:x", true, false, std::nullopt, plat::ERROR_INVALID_NAME},
      {u"out", u"a\\" + longComponent, true, false, std::nullopt, plat::ERROR_FILENAME_EXCED_RANGE},
      {u"out", longComponent + u"\\a", true, false, std::nullopt, plat::ERROR_FILENAME_EXCED_RANGE},
      {u"out", plat::WString(255, u'x'), true, false, u"out\\" + plat::WString(255, u'x'), 0},
      {u"out", longComponent + u".txt", false, false, std::nullopt, plat::ERROR_FILENAME_EXCED_RANGE},
      // Windows names: refused only where the rule applies.
      {u"out", u"aux\\x.txt", true, true, std::nullopt, plat::ERROR_INVALID_NAME},
      {u"out", u"aux\\x.txt", true, false, u"out\\aux\\x.txt", 0},
      {u"out", u"a.txt:stream", false, true, std::nullopt, plat::ERROR_INVALID_NAME},
      {u"out", u"trail.\\y.txt", true, true, std::nullopt, plat::ERROR_INVALID_NAME},
      {u"out", u"aux\\x.txt", false, true, u"out\\x.txt", 0},  // only the file name is used
  };
  for (const Case& c : cases) {
    TargetRefusal refusal;
    const std::optional<plat::WString> target =
        BuildExtractionTarget(c.destDir, c.name, c.fullPath, &refusal, c.windowsNames);
    const std::string what = plat::Utf16ToUtf8(c.name).substr(0, 60);
    EXPECT_EQ(target, c.target) << what;
    EXPECT_EQ(refusal.error, c.error) << what;
    EXPECT_EQ(refusal.reason.empty(), c.error == 0) << what;
  }
}

TEST(PathFunctionsTest, CreateDirectoryTreeAndProbePath) {
  TempDir dir;
  const plat::WString base = WinPath(dir.path());
  EXPECT_EQ(ProbePath(base), -1);
  EXPECT_EQ(ProbePath(u"\\"), -1);
  EXPECT_EQ(ProbePath(base + u"\\missing"), 0);
  WriteFile(dir.Path("file"), "x");
  EXPECT_EQ(ProbePath(base + u"\\file"), 1);

  EXPECT_TRUE(CreateDirectoryTree(base + u"\\one\\two\\"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("one/two")));
  EXPECT_TRUE(CreateDirectoryTree(base + u"\\one\\two"));  // exists already
  EXPECT_TRUE(CreateDirectoryTree(u"C:"));
  EXPECT_TRUE(CreateDirectoryTree(u"C:\\"));
  EXPECT_FALSE(std::filesystem::exists("C:"));
  // A file in the way cannot become a directory.
  EXPECT_FALSE(CreateDirectoryTree(base + u"\\file\\below"));
}

TEST(ZipFileTest, ReadAheadBehavesLikeAPlainFile) {
  // Random mixes of small and large reads and seeks give the same bytes,
  // positions and short reads at the end as a plain CFile.
  TempDir dir;
  const std::string data = MakeRandomData(300000, 7);
  WriteFile(dir.Path("f.bin"), data);
  std::mt19937 random(99);
  for (int round = 0; round < 20; ++round) {
    CZipFile64 zip;
    CFile plain;
    ASSERT_TRUE(zip.Open(WinPath(dir.Path("f.bin")), CFile::modeRead));
    ASSERT_TRUE(plain.Open(WinPath(dir.Path("f.bin")), CFile::modeRead));
    for (int step = 0; step < 200; ++step) {
      switch (random() % 4) {
        case 0: {  // a record-sized read
          const uint32_t n = random() % 100;
          std::string a(n, '\0'), b(n, '\0');
          ASSERT_EQ(zip.Read(a.data(), n), plain.Read(b.data(), n));
          ASSERT_EQ(a, b);
          break;
        }
        case 1: {  // a data-sized read
          const uint32_t n = 1000 + random() % 40000;
          std::string a(n, '\0'), b(n, '\0');
          ASSERT_EQ(zip.Read(a.data(), n), plain.Read(b.data(), n));
          ASSERT_EQ(a, b);
          break;
        }
        case 2: {  // relative seek, backwards or forwards, within the file
          const int64_t pos = static_cast<int64_t>(plain.GetPosition());
          const int64_t to = random() % static_cast<int64_t>(data.size());
          ASSERT_EQ(zip.Seek(to - pos, CFile::current), plain.Seek(to - pos, CFile::current));
          break;
        }
        default: {
          const int64_t back = random() % 70000;
          const uint32_t from = random() % 2 ? CFile::end : CFile::begin;
          const int64_t offset = from == CFile::end ? -back : back;
          ASSERT_EQ(zip.Seek(offset, from), plain.Seek(offset, from));
        }
      }
      ASSERT_EQ(zip.GetPosition(), plain.GetPosition());
    }
  }
}
