// Archives past the 32-bit limits: ZIP64 end records and extra fields from
// real writers and from crafted bytes, a 5 GiB entry, more entries than the
// 16-bit index counts, and ZIP64 records damaged in each of their parts.
#include <gtest/gtest.h>
#include <zlib.h>
#include <fstream>
#include <functional>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

CraftedZip Zip64Of(std::vector<CraftedEntry> entries) {
  CraftedZip zip;
  zip.zip64 = true;
  zip.entries = std::move(entries);
  return zip;
}

// The detail of the CZipException that fn raises ("" for none).
template <class F>
std::string DetailOf(F&& fn) {
  try {
    fn();
  } catch (const CZipException& e) {
    return e.m_strDetail;
  }
  return "";
}

// Peak resident memory of this process in KiB, from the kernel's status
// file; 0 where there is none.
uint64_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
  }
  return 0;
}

// CRC-32 of count zero bytes, by doubling rather than by reading them.
uint32_t CrcOfZeros(uint64_t count) {
  uLong crc = 0;
  uLong block = crc32(0, Z_NULL, 0);
  const std::string one(1, '\0');
  block = crc32(block, reinterpret_cast<const Bytef*>(one.data()), 1);
  uint64_t blockLength = 1;
  bool first = true;
  for (uint64_t rest = count; rest != 0; rest >>= 1) {
    if (rest & 1) {
      crc = first ? block : crc32_combine64(crc, block, static_cast<z_off64_t>(blockLength));
      first = false;
    }
    block = crc32_combine64(block, block, static_cast<z_off64_t>(blockLength));
    blockLength *= 2;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace

TEST(Zip64Test, CraftedRecordsReadLikeThePlainOnes) {
  TempDir dir;
  const std::string text = MakeTextLikeData(5000, 3);
  CraftedEntry streamed = DeflatedEntry("streamed.txt", text);
  streamed.flags = zip::kFlagDataDescriptor;
  streamed.localCrc = 0;
  streamed.localCompressed = 0;
  streamed.localUncompressed = 0;
  streamed.afterData =
      Zip64DataDescriptor(streamed.crc, streamed.compressedSize, streamed.uncompressedSize, true);

  struct Case {
    const char* what;
    std::string prefix;
    std::function<void(CraftedZip&)> change;
  };
  const Case cases[] = {
      {"at the start of its file", "", nullptr},
      {"after a program", std::string(140800, 'M'), nullptr},
      {"with a comment", "", [](CraftedZip& z) { z.comment = "archive comment"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CraftedZip zip = Zip64Of({StoredEntry("a/stored.bin", MakeRandomData(3000, 1)),
                              DeflatedEntry("deflated.txt", text), streamed,
                              StoredEntry("dir/", "")});
    zip.prefix = c.prefix;
    if (c.change) c.change(zip);
    MemoryStorage storage;
    const std::unique_ptr<Archive> archive = OpenInMemory(storage, zip.Build());
    const Archive& reader = *archive;
    EXPECT_TRUE(reader.End().zip64);
    EXPECT_EQ(reader.BytesBeforeArchive(), c.prefix.size());
    ASSERT_EQ(reader.EntryCount(), 4u);
    for (uint16_t i = 0; i < 3; ++i) {
      int32_t verdict = 0;
      const std::string expected = i == 0 ? zip.entries[0].data : text;
      EXPECT_EQ(DecodeEntry(reader, i, &verdict), expected);
      EXPECT_EQ(verdict, 1);
    }
    EXPECT_EQ(reader.Find(u"A\\STORED.BIN"), 0);
  }
}

TEST(Zip64Test, DamagedRecordsSayWhere) {
  struct Case {
    const char* what;
    std::function<void(CraftedZip&)> change;
    std::function<void(std::string&)> damage;  // on the built bytes
    int32_t cause;
    const char* detail;
  };
  auto replace = [](const std::string& from, const std::string& to) {
    return [from, to](std::string& bytes) { bytes.replace(bytes.rfind(from), from.size(), to); };
  };
  const Case cases[] = {
      {"central extra block missing", [](CraftedZip& z) { z.entries[1].zip64Extra = ""; }, nullptr,
       CZipException::badZipFile, "central header 1: ZIP64 extra field missing or too short"},
      {"central extra block without the offset",
       [](CraftedZip& z) { z.entries[0].zip64Extra = Zip64ExtraBlock({5, 5}); }, nullptr,
       CZipException::badZipFile, "central header 0: ZIP64 extra field missing or too short"},
      {"central extra block claiming more than the extra field holds",
       [](CraftedZip& z) {
         std::string block = Zip64ExtraBlock({5, 5, 0});
         block[2] = 40;
         z.entries[0].zip64Extra = block;
       },
       nullptr, CZipException::badZipFile,
       "central header 0: ZIP64 extra field missing or too short"},
      {"local extra block missing", [](CraftedZip& z) { z.entries[0].localZip64Extra = ""; },
       nullptr, CZipException::badZipFile, "entry 0: local ZIP64 extra field missing or too short"},
      {"local sizes differ",
       [](CraftedZip& z) { z.entries[0].localZip64Extra = Zip64ExtraBlock({6, 5}); }, nullptr,
       CZipException::badZipFile,
       "entry 0: local header CRC-32 or sizes differ from the central header"},
      {"ZIP64 end record signature damaged", nullptr, replace(Signature(zip::kZip64EndRecordSignature), "junk"),
       CZipException::badZipFile, "ZIP64 end record: not where its locator points"},
      {"locator missing under saturated fields", [](CraftedZip& z) { z.zip64Locator = false; },
       nullptr, CZipException::badZipFile, "end record: directory runs past the end record"},
      {"directory offset beyond the archive",
       [](CraftedZip& z) { z.zip64DirectoryOffset = uint64_t{1} << 40; }, nullptr,
       CZipException::badZipFile, "end record: directory runs past the end record"},
      {"ZIP64 data descriptor with other sizes",
       [](CraftedZip& z) {
         CraftedEntry& e = z.entries[0];
         e.flags = zip::kFlagDataDescriptor;
         e.afterData = Zip64DataDescriptor(e.crc, e.compressedSize, e.uncompressedSize + 1, true);
       },
       nullptr, CZipException::generic, "entry 0: data descriptor differs from the central header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CraftedZip zip = Zip64Of({StoredEntry("one", "12345"), StoredEntry("two", "abc")});
    if (c.change) c.change(zip);
    std::string bytes = zip.Build();
    if (c.damage) c.damage(bytes);
    MemoryStorage storage;
    int32_t cause = 0;
    std::string detail;
    try {
      WalkEntries(*OpenInMemory(storage, bytes));
    } catch (const CZipException& e) {
      cause = e.m_iCause;
      detail = e.m_strDetail;
    }
    EXPECT_EQ(cause, c.cause);
    EXPECT_EQ(detail, c.detail);
  }
}

TEST(Zip64Test, AnArchiveOfMoreThan65535EntriesReadsItsFirst65535) {
  std::vector<CraftedEntry> entries;
  for (int i = 0; i < 65537; ++i) entries.push_back(StoredEntry("f" + std::to_string(i), "x"));
  CraftedZip zip = Zip64Of(std::move(entries));
  MemoryStorage storage;
  const std::unique_ptr<Archive> archive = OpenInMemory(storage, zip.Build());
  const Archive& reader = *archive;
  EXPECT_EQ(reader.End().entriesTotal, 65537u);
  ASSERT_EQ(reader.EntryCount(), 65535u);
  EXPECT_EQ(reader.Find(u"f65534"), 65534);
  EXPECT_EQ(reader.Find(u"f65535"), -1);
  EXPECT_EQ(DecodeEntry(reader, 65534), "x");
}

TEST(Zip64Test, RealWritersZip64RecordsReadByteExact) {
  TempDir dir;
  const std::vector<ZipInput> inputs = {{"text.txt", MakeTextLikeData(70000, 8)},
                                        {"sub/", ""},
                                        {"sub/random.bin", MakeRandomData(20000, 9)},
                                        {"empty", ""}};
  const std::string piped = MakeTextLikeData(90000, 10);
  struct Case {
    const char* what;
    std::function<std::string()> make;
    std::vector<ZipInput> expected;
  };
  const Case cases[] = {
      {"python forced stored", [&] { return MakeZipPythonZip64(dir, "ps.zip", inputs, ZipMethod::stored); }, inputs},
      {"python forced deflated", [&] { return MakeZipPythonZip64(dir, "pd.zip", inputs, ZipMethod::deflated); }, inputs},
      {"infozip from a pipe", [&] { return MakeZipInfoZipFromPipe(dir, "ip.zip", piped, ZipMethod::deflated, false); }, {{"-", piped}}},
      {"infozip from a pipe to a pipe", [&] { return MakeZipInfoZipFromPipe(dir, "is.zip", piped, ZipMethod::deflated, true); }, {{"-", piped}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string archive = c.make();
    const std::unique_ptr<Archive> opened = OpenArchive(archive);
    const Archive& reader = *opened;
    ASSERT_EQ(reader.EntryCount(), c.expected.size());
    for (uint16_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(ListedName(reader.Entry(i)), c.expected[i].name);
      if (c.expected[i].IsDirectory()) continue;
      int32_t verdict = 0;
      EXPECT_EQ(DecodeEntry(reader, i, &verdict), c.expected[i].data);
      EXPECT_EQ(verdict, 1);
    }
  }
}

// 5 GiB of stored zeros after the local header, computed by position rather
// than kept anywhere: every size, offset and counter of the reader past 32
// bits, with memory that does not grow with the entry.
TEST(Zip64Test, FiveGibibyteEntryDecodesWholeWithFlatMemory) {
  constexpr uint64_t kSize = uint64_t{5} << 30;
  CraftedEntry big = StoredEntry("big.bin", "");
  big.compressedSize = kSize;
  big.uncompressedSize = kSize;
  big.crc = CrcOfZeros(kSize);
  CraftedZip zip = Zip64Of({big});
  zip.gapBeforeDirectory = kSize;  // the entry's data
  std::string bytes = zip.BuildAndLayout();
  MemoryStorage storage;
  storage.Add(WinPath("/memory/big.zip"), WithZeroRun(std::move(bytes), zip.prefix.size() + zip.centralOffset, kSize));

  std::unique_ptr<Archive> archive;
  ASSERT_EQ(DetailOf([&] { archive = OpenArchive("/memory/big.zip", &storage); }), "");
  ASSERT_EQ(archive->Entry(0).uncompressedSize, kSize);
  const uint64_t peakBefore = PeakResidentKiB();
  std::unique_ptr<EntryReader> reader;
  ASSERT_EQ(DetailOf([&] { reader = archive->OpenEntry(0, std::nullopt); }), "");
  ASSERT_TRUE(reader);
  std::vector<char> buffer(1 << 20);
  uint64_t total = 0;
  uint32_t got = 0;
  bool zeros = true;
  do {
    got = reader->Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    total += got;
    // One byte per block is enough to see that data, not garbage, arrived.
    if (got != 0 && buffer[got - 1] != 0) zeros = false;
  } while (got == buffer.size());
  EXPECT_EQ(total, kSize);
  EXPECT_TRUE(zeros);
  EXPECT_EQ(reader->Finish(), 1);  // the CRC-32 over all 5 GiB holds
  const uint64_t peakAfter = PeakResidentKiB();
  if (peakBefore != 0) {
    EXPECT_LT(peakAfter - peakBefore, 64u * 1024) << "KiB";
  }
}
