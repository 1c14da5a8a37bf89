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
    // The pattern the package builder gives a split archive.
    archive = OpenArchive(volumes.back(), nullptr, u"data%d.zip");
  }

  TempDir dir;
  std::vector<std::string> volumes;
  std::unique_ptr<Archive> archive;
};

}  // namespace

TEST_F(SplitArchiveTest, EntriesAndStoredDataMatchTheInputs) {
  const Archive& reader = *archive;
  EXPECT_EQ(reader.IsMultiVolume(), -1);
  EXPECT_EQ(reader.LastVolume(), static_cast<int32_t>(volumes.size()) - 1);
  EXPECT_EQ(reader.BytesBeforeArchive(), 0u);
  std::vector<ZipInput> inputs = SplitInputs();
  ASSERT_EQ(reader.EntryCount(), inputs.size());
  std::vector<std::string> stored = WalkEntries(reader);
  for (size_t i = 0; i < inputs.size(); ++i) {
    const EntryRecord& e = reader.Entry(i);
    EXPECT_EQ(ListedName(e), inputs[i].name);
    EXPECT_EQ(e.uncompressedSize, inputs[i].data.size());
    EXPECT_EQ(e.crc32, Crc32(inputs[i].data));
    EXPECT_EQ(stored[i], inputs[i].data) << inputs[i].name;
  }
  EXPECT_GT(reader.Entry(4).diskNumberStart, 0);
  EXPECT_EQ(reader.Find(u"SUB\\TWO.TXT"), 2);
}

TEST_F(SplitArchiveTest, ReadsAcrossVolumeBoundaries) {
  std::string all;
  for (const std::string& v : volumes) all += ReadFile(v);
  const uint64_t firstLength = std::filesystem::file_size(volumes[0]);
  CursorLease lease(*archive);
  VolumeSet& volumeSet = *lease;

  volumeSet.ChangeVolume(0);
  EXPECT_EQ(volumeSet.File().GetFilePath(), WinPath(volumes[0]));
  // A whole record may not straddle two volumes ...
  volumeSet.File().Seek(-10, CFile::end);
  char buffer[46];
  EXPECT_EQ(ZipCauseOf([&] { volumeSet.Read(buffer, 46, true); }), CZipException::badZipFile);
  // ... entry data may: it continues at the start of the next volume.
  EXPECT_EQ(volumeSet.GetCurrentVolume(), 0);
  volumeSet.ChangeVolume(0);  // the volume in use: not reopened
  EXPECT_EQ(volumeSet.File().GetPosition(), firstLength);
  volumeSet.File().Seek(-10, CFile::end);
  EXPECT_EQ(volumeSet.Read(buffer, 46, false), 46u);
  EXPECT_EQ(std::string(buffer, 46), all.substr(firstLength - 10, 46));
  EXPECT_EQ(volumeSet.GetCurrentVolume(), 1);

  // A read that starts at the very end of a volume moves on first, even for
  // a whole record.
  volumeSet.ChangeVolume(0);
  volumeSet.File().Seek(0, CFile::end);
  EXPECT_EQ(volumeSet.Read(buffer, 30, true), 30u);
  EXPECT_EQ(std::string(buffer, 30), all.substr(firstLength, 30));
  EXPECT_EQ(volumeSet.Read(buffer, 0, true), 0u);

  // The end of the last volume is the end of the archive.
  volumeSet.ChangeVolume(volumeSet.LastVolume());
  volumeSet.File().Seek(0, CFile::end);
  EXPECT_THROW(volumeSet.Read(buffer, 4, false), CFileException);
}

TEST_F(SplitArchiveTest, VolumeNamesComeFromThePattern) {
  CursorLease cursor(*archive);
  VolumeSet& volumeSet = *cursor;
  volumeSet.ChangeVolume(1);
  EXPECT_EQ(GetFileNamePart(volumeSet.VolumeFileName(false)), u"data3.zip");
  EXPECT_EQ(GetDirectoryPart(volumeSet.VolumeFileName(false)), GetDirectoryPart(WinPath(volumes[0])));
  EXPECT_EQ(volumeSet.VolumeFileName(true), WinPath(volumes.back()));
  // Only integer conversions are formatted; anything else stays literal.
  for (const auto& [pattern, third] :
       {std::pair<plat::WString, plat::WString>{u"v%s%n%d.zip", u"v%s%n3.zip"},
        {u"fixed.zip", u"fixed.zip"}}) {
    MemoryStorage storage;
    storage.Add(WinPath("/memory/x.zip"), "bytes");
    VolumeSet other(storage, pattern);
    other.Open(WinPath("/memory/x.zip"));
    other.SettleVolumeLayout(1);  // volume 1 in use: the next is named with 3
    EXPECT_EQ(GetFileNamePart(other.VolumeFileName(false)), third);
  }
}

// Each archive names its volumes from the pattern it was opened with, not
// from whichever archive was opened last.
TEST_F(SplitArchiveTest, EachArchiveKeepsItsOwnVolumePattern) {
  TempDir other;
  const std::vector<std::string> otherVolumes =
      MakeSplitZipInfoZip(other, "other", SplitInputs(), ZipMethod::stored, "64k");
  const std::unique_ptr<Archive> second = OpenArchive(otherVolumes.back(), nullptr, u"other%d.zip");
  EXPECT_EQ(WalkEntries(*archive), WalkEntries(*second));
  CursorLease cursor(*archive);
  cursor->ChangeVolume(0);
  EXPECT_EQ(cursor->CurrentPath(), WinPath(volumes[0]));
}

TEST(SingleFileVolumeTest, OtherVolumesOfASingleFileAreDamage) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  zip.directoryVolume = 1;  // the end record's own volume is 0
  EXPECT_EQ(OpenCause(zip.Build()), CZipException::badZipFile);

  zip.directoryVolume.reset();
  MemoryStorage storage;
  const std::unique_ptr<Archive> archive = OpenInMemory(storage, zip.Build());
  CursorLease cursor(*archive);
  VolumeSet& volumeSet = *cursor;
  EXPECT_EQ(volumeSet.IsMultiVolume(), 0);
  EXPECT_NO_THROW(volumeSet.ChangeVolume(0));
  EXPECT_EQ(ZipCauseOf([&] { volumeSet.ChangeVolume(1); }), CZipException::badZipFile);
  EXPECT_EQ(volumeSet.GetCurrentVolume(), 0);
  // A single file never looks for another volume at its end.
  volumeSet.File().Seek(-2, VolumeFile::end);
  char buffer[8];
  EXPECT_EQ(ZipCauseOf([&] { volumeSet.Read(buffer, 8, false); }), CZipException::badZipFile);
}

TEST(SingleFileVolumeTest, EndRecordOfAnotherVolumeMakesASplitArchive) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  zip.thisVolume = 1;
  zip.directoryVolume = 1;
  MemoryStorage storage;
  const std::unique_ptr<Archive> archive =
      OpenInMemory(storage, zip.Build(), "/memory/x1.zip", u"x%d.zip");
  EXPECT_EQ(archive->IsMultiVolume(), -1);
  {
    CursorLease cursor(*archive);
    EXPECT_EQ(cursor->GetCurrentVolume(), 1);
  }
  // Entry "a" starts on volume 0, named x2.zip, which does not exist; a
  // later request for it tries again rather than reading a closed volume.
  for (int attempt = 1; attempt <= 2; ++attempt) {
    try {
      StoredBytes(*archive, 0);
      ADD_FAILURE() << "volume 0 opened";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
    EXPECT_EQ(storage.OpenCount(WinPath("/memory/x2.zip")), attempt);
  }
  // Once it is there, it is read.
  storage.Add(WinPath("/memory/x2.zip"), zip.Build());
  EXPECT_EQ(ZipCauseOf([&] { StoredBytes(*archive, 0); }), 0);
}

TEST(SingleFileVolumeTest, SplitArchiveOnRemovableMediaIsRefused) {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  for (const bool split : {false, true}) {
    SCOPED_TRACE(split ? "split" : "single");
    if (split) zip.thisVolume = zip.directoryVolume = 1;
    MemoryStorage storage;
    storage.SetRemovable(true);
    EXPECT_EQ(ZipCauseOf([&] { OpenInMemory(storage, zip.Build()); }),
              split ? CZipException::noMultiDisk : 0);
  }
}

// The volumes of a real split archive, served from memory under the names
// the pattern gives them: read across, each opened only when it is needed.
TEST_F(SplitArchiveTest, VolumesFromMemoryReadAsFiles) {
  MemoryStorage storage;
  for (const std::string& v : volumes) storage.Add(WinPath("/memory/" + std::filesystem::path(v).filename().string()), ReadFile(v));
  const std::unique_ptr<Archive> memory = OpenArchive("/memory/data1.zip", &storage, u"data%d.zip");
  EXPECT_EQ(WalkEntries(*memory), WalkEntries(*archive));
  EXPECT_EQ(storage.OpenCount(WinPath("/memory/data2.zip")), 1);
  CursorLease cursor(*memory);
  cursor->ChangeVolume(cursor->GetCurrentVolume());  // the volume in use
  cursor->ChangeVolume(0);
  cursor->ChangeVolume(0);
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
