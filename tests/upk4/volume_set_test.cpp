// Storage over a split archive made by zip -s, its volumes renamed into the
// name pattern, and volume requests that a single file cannot answer.
#include <gtest/gtest.h>
#include <filesystem>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

std::vector<ZipInput> SplitInputs() {
  return {{"one.bin", MakeRandomData(90000, 11)},
          {"sub/", ""},
          {"sub/two.txt", MakeTextLikeData(50000, 12)},
          {"sub/empty", ""},
          {"three.bin", MakeRandomData(70000, 13)}};
}

class SplitArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    volumes = MakeSplitZipInfoZip(dir, "data", SplitInputs(), ZipMethod::stored, "64k");
    ASSERT_GE(volumes.size(), 3u);
    OpenArchive(reader, volumes.back());
    ASSERT_EQ(GetVolumeNamePattern(), u"data1.zip");
    // The pattern the package builder gives a split archive.
    SetVolumeNamePattern(u"data%d.zip");
  }

  TempDir dir;
  std::vector<std::string> volumes;
  ArchiveReader reader;
};

}  // namespace

TEST_F(SplitArchiveTest, EntriesAndStoredDataMatchTheInputs) {
  EXPECT_EQ(reader.storage.IsMultiVolume(), -1);
  EXPECT_EQ(reader.storage.lastVolume, static_cast<int32_t>(volumes.size()) - 1);
  EXPECT_EQ(reader.centralDir.bytesBeforeArchive, 0u);
  std::vector<ZipInput> inputs = SplitInputs();
  ASSERT_EQ(reader.GetEntryCount(), inputs.size());
  std::vector<std::string> stored = WalkEntries(reader);
  for (size_t i = 0; i < inputs.size(); ++i) {
    const EntryRecord& e = *reader.GetEntry(i);
    EXPECT_EQ(ListedName(e), inputs[i].name);
    EXPECT_EQ(e.uncompressedSize, inputs[i].data.size());
    EXPECT_EQ(e.crc32, Crc32(inputs[i].data));
    EXPECT_EQ(stored[i], inputs[i].data) << inputs[i].name;
  }
  EXPECT_GT(reader.GetEntry(4)->diskNumberStart, 0);
  EXPECT_EQ(reader.FindEntry(u"SUB\\TWO.TXT"), 2);
}

TEST_F(SplitArchiveTest, ReadsAcrossVolumeBoundaries) {
  std::string all;
  for (const std::string& v : volumes) all += ReadFile(v);
  const uint64_t firstLength = std::filesystem::file_size(volumes[0]);

  reader.storage.ChangeVolume(0);
  EXPECT_EQ(reader.storage.currentFile->GetFilePath(), WinPath(volumes[0]));
  // A whole record may not straddle two volumes ...
  reader.storage.currentFile->Seek(-10, CFile::end);
  char buffer[46];
  EXPECT_EQ(ZipCauseOf([&] { reader.storage.Read(buffer, 46, true); }), CZipException::badZipFile);
  // ... entry data may: it continues at the start of the next volume.
  EXPECT_EQ(reader.storage.GetCurrentVolume(), 0);
  reader.storage.ChangeVolume(0);  // the volume in use: not reopened
  EXPECT_EQ(reader.storage.currentFile->GetPosition(), firstLength);
  reader.storage.currentFile->Seek(-10, CFile::end);
  EXPECT_EQ(reader.storage.Read(buffer, 46, false), 46u);
  EXPECT_EQ(std::string(buffer, 46), all.substr(firstLength - 10, 46));
  EXPECT_EQ(reader.storage.GetCurrentVolume(), 1);

  // A read that starts at the very end of a volume moves on first, even for
  // a whole record.
  reader.storage.ChangeVolume(0);
  reader.storage.currentFile->Seek(0, CFile::end);
  EXPECT_EQ(reader.storage.Read(buffer, 30, true), 30u);
  EXPECT_EQ(std::string(buffer, 30), all.substr(firstLength, 30));
  EXPECT_EQ(reader.storage.Read(buffer, 0, true), 0u);

  // The end of the last volume is the end of the archive.
  reader.storage.ChangeVolume(reader.storage.lastVolume);
  reader.storage.currentFile->Seek(0, CFile::end);
  EXPECT_THROW(reader.storage.Read(buffer, 4, false), CFileException);
}

TEST_F(SplitArchiveTest, VolumeNamesComeFromThePattern) {
  reader.storage.ChangeVolume(1);
  EXPECT_EQ(GetFileNamePart(reader.storage.VolumeFileName(false)), u"data3.zip");
  EXPECT_EQ(GetDirectoryPart(reader.storage.VolumeFileName(false)), GetDirectoryPart(WinPath(volumes[0])));
  EXPECT_EQ(reader.storage.VolumeFileName(true), WinPath(volumes.back()));
  // Only integer conversions are formatted; anything else stays literal.
  SetVolumeNamePattern(u"v%s%n%d.zip");
  EXPECT_EQ(GetFileNamePart(reader.storage.VolumeFileName(false)), u"v%s%n3.zip");
  SetVolumeNamePattern(u"fixed.zip");
  EXPECT_EQ(GetFileNamePart(reader.storage.VolumeFileName(false)), u"fixed.zip");
}

TEST(SingleFileVolumeTest, OtherVolumesOfASingleFileAreDamage) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  zip.directoryVolume = 1;  // the end record's own volume is 0
  EXPECT_EQ(OpenCause(zip.Build()), CZipException::badZipFile);

  zip.directoryVolume.reset();
  MemoryStorage storage;
  ArchiveReader reader;
  OpenInMemory(reader, storage, zip.Build());
  EXPECT_EQ(reader.storage.IsMultiVolume(), 0);
  EXPECT_NO_THROW(reader.storage.ChangeVolume(0));
  EXPECT_EQ(ZipCauseOf([&] { reader.storage.ChangeVolume(1); }), CZipException::badZipFile);
  EXPECT_EQ(reader.storage.GetCurrentVolume(), 0);
  // A single file never looks for another volume at its end.
  reader.storage.currentFile->Seek(-2, VolumeFile::end);
  char buffer[8];
  EXPECT_EQ(ZipCauseOf([&] { reader.storage.Read(buffer, 8, false); }), CZipException::badZipFile);
}

TEST(SingleFileVolumeTest, EndRecordOfAnotherVolumeMakesASplitArchive) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  zip.thisVolume = 1;
  zip.directoryVolume = 1;
  MemoryStorage storage;
  ArchiveReader reader;
  OpenInMemory(reader, storage, zip.Build(), "/memory/x1.zip");
  SetVolumeNamePattern(u"x%d.zip");
  EXPECT_EQ(reader.storage.IsMultiVolume(), -1);
  EXPECT_EQ(reader.storage.GetCurrentVolume(), 1);
  EXPECT_EQ(reader.storage.writeBuffer.size, 0u);
  // Entry "a" starts on volume 0, named x2.zip, which does not exist; a
  // later request for it tries again rather than reading a closed volume.
  for (int attempt = 1; attempt <= 2; ++attempt) {
    try {
      reader.centralDir.SeekEntry(0);
      ADD_FAILURE() << "volume 0 opened";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
    EXPECT_EQ(storage.OpenCount(WinPath("/memory/x2.zip")), attempt);
    EXPECT_TRUE(reader.IsClosed(ArchiveReader::archiveFile));
  }
  // Once it is there, it is read.
  storage.Add(WinPath("/memory/x2.zip"), zip.Build());
  EXPECT_EQ(ZipCauseOf([&] { reader.centralDir.SeekEntry(0); }), 0);
}

TEST(SingleFileVolumeTest, SplitArchiveOnRemovableMediaIsRefused) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  for (const bool split : {false, true}) {
    SCOPED_TRACE(split ? "split" : "single");
    if (split) zip.thisVolume = zip.directoryVolume = 1;
    MemoryStorage storage;
    storage.SetRemovable(true);
    ArchiveReader reader;
    EXPECT_EQ(ZipCauseOf([&] { OpenInMemory(reader, storage, zip.Build()); }),
              split ? CZipException::noMultiDisk : 0);
  }
}

// The volumes of a real split archive, served from memory under the names
// the pattern gives them: read across, each opened only when it is needed.
TEST_F(SplitArchiveTest, VolumesFromMemoryReadAsFiles) {
  MemoryStorage storage;
  for (const std::string& v : volumes) storage.Add(WinPath("/memory/" + std::filesystem::path(v).filename().string()), ReadFile(v));
  ArchiveReader memory;
  memory.storage.UseStorage(storage);
  OpenArchive(memory, "/memory/data1.zip");
  SetVolumeNamePattern(u"data%d.zip");
  EXPECT_EQ(WalkEntries(memory), WalkEntries(reader));
  EXPECT_EQ(storage.OpenCount(WinPath("/memory/data2.zip")), 1);
  memory.storage.ChangeVolume(memory.storage.GetCurrentVolume());  // the volume in use
  memory.storage.ChangeVolume(0);
  memory.storage.ChangeVolume(0);
  EXPECT_EQ(storage.OpenCount(WinPath("/memory/data2.zip")), 2);
}

// Positions, seeks and short reads of a volume in memory are those of the
// same bytes in a file.
TEST(VolumeStorageTest, MemoryVolumesBehaveAsFiles) {
  TempDir dir;
  const std::string bytes = MakeRandomData(100000, 5);
  WriteFile(dir.Path("f.bin"), bytes);
  MemoryStorage memory;
  memory.Add(u"/memory/f.bin", bytes);
  struct Step {
    int64_t offset;
    VolumeFile::SeekPosition from;
    uint32_t read;
  };
  const Step steps[] = {
      {0, VolumeFile::begin, 100},     {-101, VolumeFile::current, 4},  // before the start
      {10, VolumeFile::current, 70000},  // more than a read-ahead block
      {-10, VolumeFile::end, 100},     // short: 10 bytes
      {0, VolumeFile::current, 100},   // at the end: nothing
      {5, VolumeFile::end, 10},        // past the end: nothing
      {-200000, VolumeFile::current, 4},  // before the start: refused, position kept
      {-20, VolumeFile::current, 40},  {-99990, VolumeFile::end, 20},
      {-100001, VolumeFile::end, 1},   {3, VolumeFile::begin, 0},
  };
  std::unique_ptr<VolumeFile> file = VolumeStorage::Files().Open(WinPath(dir.Path("f.bin")));
  std::unique_ptr<VolumeFile> inMemory = memory.Open(u"/memory/f.bin");
  EXPECT_EQ(inMemory->GetLength(), file->GetLength());
  for (const Step& step : steps) {
    SCOPED_TRACE(std::to_string(step.offset) + " from " + std::to_string(step.from));
    std::string results[2];
    int k = 0;
    for (VolumeFile* f : {file.get(), inMemory.get()}) {
      std::string& r = results[k++];
      try {
        r += "seek " + std::to_string(f->Seek(step.offset, step.from));
      } catch (const CFileException& e) {
        r += "seek fails " + std::to_string(e.m_cause);
      }
      r += " at " + std::to_string(f->GetPosition());
      std::string buffer(step.read, '\0');
      const uint32_t got = f->Read(buffer.data(), step.read);
      r += " read " + std::to_string(got) + " at " + std::to_string(f->GetPosition());
      r += " " + std::to_string(Crc32(buffer.substr(0, got)));
    }
    EXPECT_EQ(results[1], results[0]);
  }
  EXPECT_THROW(memory.Open(u"/memory/none"), CFileException);
}
