#include <gtest/gtest.h>

#include "framework/file.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform_test_util.h"

using ptest::TempDir;

TEST(CFile, MissingFileFillsTheErrorRecord) {
  TempDir dir;
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir.WinPath("missing.bin"), CFile::modeRead | CFile::shareDenyNone, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, 2);
  EXPECT_EQ(error.m_strFileName, dir.WinPath("missing.bin"));
  EXPECT_NE(error.GetErrorMessage().find(dir.WinPath("missing.bin")), plat::WString::npos);

  EXPECT_FALSE(file.Open(dir.WinPath("no\\missing.bin"), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::badPath);
  EXPECT_FALSE(file.Open(dir.WinPath(), CFile::modeRead, &error));  // a directory
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  EXPECT_FALSE(file.IsOpen());
}

TEST(CFile, RelativeNamesAreStoredAsFullPaths) {
  TempDir dir;
  std::optional<plat::WString> before = plat::GetCurrentDirectory();
  ASSERT_TRUE(plat::SetCurrentDirectory(dir.WinPath()));
  CFile file;
  ASSERT_TRUE(file.Open(u"new.bin", CFile::modeCreate | CFile::modeWrite));
  plat::WString expected =
      upktest::WinPath(std::filesystem::canonical(dir.path()).string()) + u"\\new.bin";
  EXPECT_EQ(file.GetFilePath(), expected);
  file.Close();
  ASSERT_TRUE(file.Open(u".\\sub\\..\\new.bin", CFile::modeRead));
  EXPECT_EQ(file.GetFilePath(), expected);
  file.Close();
  plat::SetCurrentDirectory(*before);
}

TEST(CFile, WriteReadSeekAndTruncation) {
  TempDir dir;
  {
    CFile file;
    ASSERT_TRUE(file.Open(dir.WinPath("data.bin"), CFile::modeCreate | CFile::modeReadWrite));
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.Seek(6, CFile::begin), 6u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);  // short only at the end
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Seek(-5, CFile::end), 6u);
    EXPECT_EQ(file.GetPosition(), 6u);
    EXPECT_THROW(file.Seek(-100, CFile::current), CFileException);
    try {
      file.Seek(-1, CFile::begin);
      ADD_FAILURE();
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, CFileException::badSeek);
    }
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
  {
    CFile file;  // modeNoTruncate keeps the data
    ASSERT_TRUE(file.Open(dir.WinPath("DATA.BIN"), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
    EXPECT_EQ(file.GetLength(), 11u);
  }
  {
    CFile file;  // plain modeCreate truncates
    ASSERT_TRUE(file.Open(dir.WinPath("data.bin"), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(file.GetLength(), 0u);
  }
}

TEST(CFile, ReadOnlyFileRefusesWriting) {
  TempDir dir;
  ptest::WriteText(dir.Path("ro.bin"), "x");
  ASSERT_TRUE(plat::SetFileAttributes(dir.WinPath("ro.bin"), plat::FILE_ATTRIBUTE_READONLY));
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir.WinPath("ro.bin"), CFile::modeCreate | CFile::modeWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  EXPECT_TRUE(file.Open(dir.WinPath("ro.bin"), CFile::modeRead));
  EXPECT_EQ(ptest::ReadText(dir.Path("ro.bin")), "x");
}

TEST(CFile, DiskFullIsThrownAsDiskFull) {
  CFile file;
  ASSERT_TRUE(file.Open(u"\\dev\\full", CFile::modeWrite));
  std::string block(4096, 'x');
  try {
    file.Write(block.data(), static_cast<uint32_t>(block.size()));
    ADD_FAILURE() << "write to a full device succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
    EXPECT_EQ(e.m_lOsError, 112);
    EXPECT_EQ(e.m_strFileName, u"\\dev\\full");
  }
  file.Abort();
  EXPECT_FALSE(file.IsOpen());
}

TEST(CFile, ClosedFileThrowsInsteadOfCrashing) {
  CFile file;
  char c;
  EXPECT_THROW(file.Read(&c, 1), CFileException);
  EXPECT_THROW(file.Write(&c, 1), CFileException);
  EXPECT_NO_THROW(file.Close());
  EXPECT_NO_THROW(file.Abort());
}

TEST(CFile, SetFileTimesThrowsForAMissingFile) {
  TempDir dir;
  ptest::WriteText(dir.Path("t"), "x");
  CFile::SetFileTimes(dir.WinPath("T"), 0, 1100000000, 1200000000);
  EXPECT_EQ(plat::FindFile(dir.WinPath("t"))->lastWrite, 1200000000);
  try {
    CFile::SetFileTimes(dir.WinPath("gone"), 0, 1, 1);
    ADD_FAILURE();
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_strFileName, dir.WinPath("gone"));
  }
}
