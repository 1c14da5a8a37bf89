// Local headers checked against the central ones, and data descriptors,
// driven through the central directory without decoding.
#include <gtest/gtest.h>
#include <functional>
#include "reader_test_util.h"

using namespace upktest;

namespace {

// Builds a one-entry archive (after a small prefix, so that offsets matter),
// opens it and seeks the entry; returns the cause raised (0 for none).
int32_t SeekCause(const TempDir& dir, const CraftedEntry& entry) {
  CraftedZip zip;
  zip.prefix = "prefix";
  zip.entries.push_back(StoredEntry("before", "x"));
  zip.entries.push_back(entry);
  WriteFile(dir.Path("l.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("l.zip"));
  CursorLease cursor(*archive);
  EntrySection section(*cursor, archive->Entry(1), 1, archive->BytesBeforeArchive());
  return ZipCauseOf([&] { section.Start(std::nullopt); });
}

// Opens, walks over the entry's data and finishes it; the cause raised.
int32_t FinishCause(const TempDir& dir, const CraftedEntry& entry, std::string* extra = nullptr) {
  CraftedZip zip;
  zip.entries.push_back(entry);
  zip.entries.push_back(StoredEntry("after", "y"));
  WriteFile(dir.Path("f.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("f.zip"));
  return ZipCauseOf([&] {
    std::vector<std::string> stored = WalkEntries(*archive);
    if (extra != nullptr) *extra = stored[0];
  });
}

CraftedEntry WithDescriptor(bool signature, const std::string& stray = "") {
  CraftedEntry e = DeflatedEntry("dd.txt", MakeTextLikeData(3000, 5));
  e.flags = zip::kFlagDataDescriptor;
  e.localCrc = 0;
  e.localCompressed = 0;
  e.localUncompressed = 0;
  e.afterData = stray + DataDescriptor(e.crc, e.compressedSize, e.uncompressedSize, signature);
  return e;
}

}  // namespace

TEST(LocalHeaderTest, MismatchesAreDamage) {
  TempDir dir;
  const CraftedEntry good = StoredEntry("name.txt", "content");
  EXPECT_EQ(SeekCause(dir, good), 0);

  std::vector<std::pair<const char*, std::function<void(CraftedEntry&)>>> damaged = {
      {"flags differ in an unused bit", [](CraftedEntry& e) { e.localFlags = 0x0800; }},
      {"method differs", [](CraftedEntry& e) { e.localMethod = 8; }},
      {"method neither stored nor deflated", [](CraftedEntry& e) { e.method = 12; }},
      {"name length differs", [](CraftedEntry& e) { e.localName = "name.txt2"; }},
      // A reader that goes by local headers would see another file.
      {"name differs in its bytes", [](CraftedEntry& e) { e.localName = "NAME.TXT"; }},
      {"name differs in its separator", [](CraftedEntry& e) {
         e.name = "dir/name";
         e.localName = "dir\\name";
       }},
      {"CRC differs", [](CraftedEntry& e) { e.localCrc = e.crc ^ 1; }},
      {"compressed size differs", [](CraftedEntry& e) { e.localCompressed = 6; }},
      {"uncompressed size differs", [](CraftedEntry& e) { e.localUncompressed = 8; }},
      {"zeros without descriptor flag", [](CraftedEntry& e) {
         e.localCrc = 0;
         e.localCompressed = 0;
         e.localUncompressed = 0;
       }},
      {"another volume of a single file", [](CraftedEntry& e) { e.diskNumberStart = 1; }},
  };
  for (auto& [what, change] : damaged) {
    CraftedEntry e = good;
    change(e);
    EXPECT_EQ(SeekCause(dir, e), CZipException::badZipFile) << what;
  }
}

TEST(LocalHeaderTest, WhatIsNotComparedIsAccepted) {
  TempDir dir;
  CraftedEntry e = StoredEntry("dir/name.txt", "content");
  e.localExtra = "local extra";
  EXPECT_EQ(SeekCause(dir, e), 0);

  CraftedEntry zeros = WithDescriptor(true);
  EXPECT_EQ(SeekCause(dir, zeros), 0) << "bit 3 set: local CRC and sizes are not compared";

  CraftedEntry empty = StoredEntry("empty", "");
  EXPECT_EQ(SeekCause(dir, empty), 0) << "bit 3 clear, all values zero on both sides";
}

TEST(LocalHeaderTest, SeekLeavesTheStorageAtTheData) {
  TempDir dir;
  CraftedZip zip;
  CraftedEntry e = StoredEntry("n", "payload");
  e.localExtra = "12345";
  zip.entries.push_back(e);
  zip.prefix = std::string(1000, 'p');
  WriteFile(dir.Path("s.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("s.zip"));
  CursorLease cursor(*archive);
  EntrySection section(*cursor, archive->Entry(0), 0, archive->BytesBeforeArchive());
  section.Start(std::nullopt);
  EXPECT_EQ(section.Left(), 7u);
  uint8_t data[7];
  section.Read(data, 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 7), "payload");
  EXPECT_EQ(ZipCauseOf([&] { section.CheckDescriptor(); }), 0);
}

TEST(DataDescriptorTest, FormsAndStrayBytes) {
  TempDir dir;
  std::string stored;
  EXPECT_EQ(FinishCause(dir, WithDescriptor(true), &stored), 0) << "with signature";
  EXPECT_EQ(stored, WithDescriptor(true).data);
  EXPECT_EQ(FinishCause(dir, WithDescriptor(false)), 0) << "without signature";
  for (const std::string& stray : {std::string(1, '\0'), std::string(2, '\0'), std::string("zzz")})
    EXPECT_EQ(FinishCause(dir, WithDescriptor(true, stray)), 0) << stray.size() << " stray bytes";
}

TEST(DataDescriptorTest, MismatchRaisesTheDescriptorError) {
  TempDir dir;
  for (bool signature : {true, false}) {
    CraftedEntry e = WithDescriptor(signature);
    e.afterData = DataDescriptor(e.crc, e.compressedSize, e.uncompressedSize + 1, signature);
    EXPECT_EQ(FinishCause(dir, e), CZipException::generic) << "signature " << signature;
  }
  // Without the flag nothing after the data is read, whatever it holds.
  CraftedEntry plain = StoredEntry("plain", "abc");
  plain.afterData = "garbage that is no descriptor";
  EXPECT_EQ(FinishCause(dir, plain), 0);
}

TEST(DataDescriptorTest, NoFlagMeansNoRead) {
  TempDir dir;
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("plain", "abc"));
  WriteFile(dir.Path("p.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("p.zip"));
  CursorLease cursor(*archive);
  EntrySection section(*cursor, archive->Entry(0), 0, archive->BytesBeforeArchive());
  section.Start(std::nullopt);
  const uint64_t position = cursor->File().GetPosition();
  section.CheckDescriptor();
  EXPECT_EQ(cursor->File().GetPosition(), position);
}
