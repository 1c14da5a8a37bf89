// Archives from Info-ZIP zip, Python's zipfile, 7-Zip and bsdtar, read and
// compared entry by entry with the inputs and the writer's own listing.
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

std::vector<ZipInput> StandardInputs() {
  return {{"readme.txt", MakeTextLikeData(5000, 1)},
          {"empty.txt", ""},
          {"docs/", ""},
          {"docs/manual.txt", MakeTextLikeData(40000, 2)},
          {"docs/deep/", ""},
          {"docs/deep/nested/", ""},
          {"docs/deep/nested/data.bin", MakeRandomData(3000, 3)},
          {"A11", MakeTextLikeData(1000, 4)}};
}

struct Writer {
  const char* name;
  std::function<std::string(const TempDir&, const std::vector<ZipInput>&, ZipMethod)> make;
  std::function<std::vector<ListedEntry>(const std::string&)> list;
  bool descriptors;     // every file entry carries a data descriptor
  bool dosAttributes;   // directories carry the MS-DOS directory bit
};

const Writer kWriters[] = {
    {"infozip", [](auto& d, auto& in, ZipMethod m) { return MakeZipInfoZip(d, "w.zip", in, m); },
     ListWithUnzip, false, true},
    {"infozip_stdout",
     [](auto& d, auto& in, ZipMethod m) { return MakeZipInfoZipStreamed(d, "w.zip", in, m); },
     ListWithUnzip, true, true},
    {"python", [](auto& d, auto& in, ZipMethod m) { return MakeZipPython(d, "w.zip", in, m); },
     ListWithPython, false, true},
    {"python_stream",
     [](auto& d, auto& in, ZipMethod m) { return MakeZipPython(d, "w.zip", in, m, true); },
     ListWithPython, true, true},
    {"7z", [](auto& d, auto& in, ZipMethod m) { return MakeZip7z(d, "w.zip", in, m); },
     ListWith7z, false, true},
    {"bsdtar", [](auto& d, auto& in, ZipMethod m) { return MakeZipBsdtar(d, "w.zip", in, m); },
     ListWithPython, false, false},  // Unix mode bits only
};

// Checks every entry of the open reader against the inputs and the listing.
void ExpectMatches(const Archive& reader, const std::vector<ZipInput>& inputs,
                   const std::vector<ListedEntry>& listing, bool dosAttributes = true) {
  std::map<std::string, const ZipInput*> byName;
  for (const ZipInput& in : inputs) byName[in.name] = &in;
  std::map<std::string, const ListedEntry*> listed;
  for (const ListedEntry& l : listing) listed[l.name] = &l;
  ASSERT_EQ(reader.EntryCount(), inputs.size());
  ASSERT_EQ(listing.size(), inputs.size());
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const EntryRecord& e = reader.Entry(i);
    const std::string name = ListedName(e);
    SCOPED_TRACE(name);
    ASSERT_TRUE(byName.count(name) && listed.count(name));
    const ZipInput& in = *byName[name];
    const ListedEntry& l = *listed[name];
    EXPECT_EQ(e.uncompressedSize, in.data.size());
    EXPECT_EQ(e.uncompressedSize, l.size);
    EXPECT_EQ(e.compressedSize, l.packedSize);
    EXPECT_EQ(e.crc32, Crc32(in.data));
    EXPECT_EQ(e.crc32, l.crc);
    if (l.method >= 0) { EXPECT_EQ(e.method, l.method); }
    if (l.flags >= 0) { EXPECT_EQ(e.flags, l.flags); }
    if (l.attributes >= 0) { EXPECT_EQ(e.externalAttributes, static_cast<uint32_t>(l.attributes)); }
    if (in.IsDirectory() && dosAttributes) { EXPECT_TRUE(e.IsDirectory()) << "MS-DOS directory attribute"; }
    // Looked up the way the library looks up "A11": without regard to case.
    plat::WString wide = e.GetNameWide();
    EXPECT_EQ(reader.Find(wide), static_cast<int32_t>(i));
  }
}

class RealWriterTest
    : public ::testing::TestWithParam<std::tuple<const Writer*, ZipMethod>> {};

}  // namespace

TEST_P(RealWriterTest, EntriesMatchInputsAndListing) {
  const auto [writer, method] = GetParam();
  TempDir dir;
  const std::vector<ZipInput> inputs = StandardInputs();
  const std::string archive = writer->make(dir, inputs, method);
  const std::unique_ptr<Archive> readerOwner = OpenArchive(archive);
  const Archive& reader = *readerOwner;
  ExpectMatches(reader, inputs, writer->list(archive), writer->dosAttributes);
  EXPECT_EQ(reader.BytesBeforeArchive(), 0u);
  // Every local header and data descriptor agrees with the directory.
  std::vector<std::string> stored = WalkEntries(reader);
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const EntryRecord& e = reader.Entry(i);
    if (writer->descriptors && !e.IsDirectory()) { EXPECT_TRUE(e.HasDataDescriptor()) << i; }
    if (e.method == zip::kMethodStored) { EXPECT_EQ(Crc32(stored[i]), e.crc32) << i; }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, RealWriterTest,
    ::testing::Combine(::testing::Values(&kWriters[0], &kWriters[1], &kWriters[2], &kWriters[3],
                                         &kWriters[4], &kWriters[5]),
                       ::testing::Values(ZipMethod::stored, ZipMethod::deflated)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param)->name) +
             (std::get<1>(info.param) == ZipMethod::stored ? "_stored" : "_deflated");
    });

TEST(WriterFeatureTest, ArchiveBehindOtherDataAndLongComment) {
  TempDir dir;
  const std::vector<ZipInput> inputs = StandardInputs();
  const std::string comment = MakeTextLikeData(65535, 21);
  const std::string archive = MakeZipPython(dir, "c.zip", inputs, ZipMethod::deflated, false, comment);
  WriteFile(dir.Path("setup.bin"), MakeRandomData(140800, 22) + ReadFile(archive));
  const std::unique_ptr<Archive> readerOwner = OpenArchive(dir.Path("setup.bin"));
  const Archive& reader = *readerOwner;
  EXPECT_EQ(reader.BytesBeforeArchive(), 140800u);
  ASSERT_EQ(reader.Comment().size, 65535u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reader.Comment().data), 65535), comment);
  ExpectMatches(reader, inputs, ListWithPython(dir.Path("setup.bin")));
  WalkEntries(reader);
}

TEST(WriterFeatureTest, EncryptedEntriesOf7z) {
  TempDir dir;
  const std::vector<ZipInput> inputs = {{"secret.txt", MakeTextLikeData(3000, 31)},
                                        {"A11", MakeRandomData(500, 32)}};
  const std::string archive = MakeZip7z(dir, "e.zip", inputs, ZipMethod::deflated, "pw");
  const std::unique_ptr<Archive> readerOwner = OpenArchive(archive);
  const Archive& reader = *readerOwner;
  ExpectMatches(reader, inputs, ListWith7z(archive));
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    EXPECT_TRUE(reader.Entry(i).IsEncrypted());
    // The 12-byte encryption header is part of the stored size.
    EXPECT_GE(reader.Entry(i).compressedSize, 12u);
  }
  WalkEntries(reader);
}
