// The decoding of one entry: what an entry reader delivers, how its Finish
// judges it, and that damaged entries end in errors instead of loops.
#include <gtest/gtest.h>
#include <functional>
#include <zlib.h>
#include "crafted_zip.h"
#include "test_support.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

using namespace upktest;

namespace {

class Decoding : public ::testing::Test {
 protected:
  // Writes an archive holding the entries and opens it.
  void OpenWith(std::vector<CraftedEntry> entries) {
    CraftedZip zip;
    zip.entries = std::move(entries);
    const std::string path = dir.Path("a.zip");
    WriteFile(path, zip.Build());
    entry.reset();
    archive = Archive::Open(upktest::WinPath(path), ArchiveOptions());
  }
  // Opens entry index as the current one; false when it is refused.
  bool Open(uint16_t index, std::optional<std::string_view> password = std::nullopt) {
    entry = archive->OpenEntry(index, password);
    return entry != nullptr;
  }
  // Reads the open entry to its end in pieces of chunk bytes.
  std::string ReadAll(uint32_t chunk = 4096) {
    std::string out, buffer(chunk, '\0');
    uint32_t n;
    while ((n = entry->Read(buffer.data(), chunk)) > 0) out.append(buffer.data(), n);
    return out;
  }
  // The cause of the CZipException that f raises, 0 when it raises none.
  static int CauseOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const CZipException& e) {
      return e.m_iCause;
    }
    return 0;
  }

  TempDir dir;
  std::unique_ptr<Archive> archive;
  std::unique_ptr<EntryReader> entry;  // declared last: goes before the archive
};

TEST_F(Decoding, StoredAndDeflatedDeliverExactlyTheEntryThenNothing) {
  const std::string data = MakeTextLikeData(70000, 1);
  OpenWith({StoredEntry("s.txt", data), DeflatedEntry("d.txt", data)});
  for (uint16_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(Open(i));
    std::string buffer(100000, '\0');
    ASSERT_EQ(entry->Read(buffer.data(), 100000), data.size()) << "entry " << i;
    EXPECT_EQ(buffer.substr(0, data.size()), data);
    EXPECT_EQ(entry->Read(buffer.data(), 100000), 0u);
    EXPECT_EQ(entry->Crc(), Crc32(data));
    EXPECT_EQ(entry->Finish(), 1);
    EXPECT_EQ(entry->Read(buffer.data(), 100000), 0u) << "finished: nothing more";
  }
}

TEST_F(Decoding, ReadWithoutBufferOrCountReadsNothing) {
  const std::string data = MakeRandomData(3000, 2);
  OpenWith({DeflatedEntry("d.bin", data)});
  char byte;
  ASSERT_TRUE(Open(0));
  EXPECT_EQ(entry->Read(nullptr, 10), 0u);
  EXPECT_EQ(entry->Read(&byte, 0), 0u);
  EXPECT_EQ(ReadAll(), data);  // nothing was consumed by the refused calls
  EXPECT_EQ(entry->Finish(), 1);
}

TEST_F(Decoding, EmptyEntriesAndExactMultiplesOfTheReadSize) {
  const std::string data = MakeRandomData(3 * 1024, 3);
  OpenWith({DeflatedEntry("empty", ""), StoredEntry("empty2", ""), DeflatedEntry("m.bin", data)});
  for (uint16_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(Open(i));
    EXPECT_EQ(ReadAll(), "");
    EXPECT_EQ(entry->Finish(), 1);
  }
  ASSERT_TRUE(Open(2));
  std::vector<uint32_t> counts;
  std::string buffer(1024, '\0');
  uint32_t n;
  do counts.push_back(n = entry->Read(buffer.data(), 1024));
  while (n == 1024);
  EXPECT_EQ(counts, (std::vector<uint32_t>{1024, 1024, 1024, 0}));
  EXPECT_EQ(entry->Finish(), 1);
}

TEST_F(Decoding, CrcVerdictOnlyAfterACompleteRead) {
  CraftedEntry bad = StoredEntry("bad.txt", MakeRandomData(5000, 4));
  bad.crc ^= 1;
  OpenWith({bad});
  ASSERT_TRUE(Open(0));
  std::string half(2500, '\0');
  ASSERT_EQ(entry->Read(half.data(), 2500), 2500u);
  EXPECT_EQ(entry->Finish(), -1);  // incomplete: no CRC comparison, no error

  ASSERT_TRUE(Open(0));
  ReadAll();
  EXPECT_EQ(CauseOf([&] { entry->Finish(); }), CZipException::badCrc);
}

TEST_F(Decoding, SeveralEntriesOpenAtOnceReadApart) {
  const std::string a = MakeTextLikeData(40000, 8), b = MakeRandomData(30000, 9);
  OpenWith({DeflatedEntry("a", a), StoredEntry("b", b)});
  const std::unique_ptr<EntryReader> first = archive->OpenEntry(0, std::nullopt);
  const std::unique_ptr<EntryReader> second = archive->OpenEntry(1, std::nullopt);
  std::string gotA, gotB, buffer(1000, '\0');
  // Interleaved: each reader keeps its own place in the file.
  for (uint32_t n = 1, m = 1; n > 0 || m > 0;) {
    n = first->Read(buffer.data(), 1000);
    gotA.append(buffer.data(), n);
    m = second->Read(buffer.data(), 1000);
    gotB.append(buffer.data(), m);
  }
  EXPECT_TRUE(gotA == a);
  EXPECT_TRUE(gotB == b);
  EXPECT_EQ(first->Finish(), 1);
  EXPECT_EQ(second->Finish(), 1);
}

TEST_F(Decoding, StoredEntryClaimingMoreThanItsInputIsDamaged) {
  CraftedEntry e = StoredEntry("short", "0123456789");
  e.uncompressedSize = 100;
  OpenWith({e});
  ASSERT_TRUE(Open(0));
  EXPECT_EQ(CauseOf([&] { ReadAll(); }), CZipException::badZipFile);
}

TEST_F(Decoding, StoredEntryWithSurplusInputEndsAndDrains) {
  CraftedEntry e = StoredEntry("surplus", "0123456789abcdefghij");
  e.uncompressedSize = 10;
  e.crc = Crc32("0123456789");
  OpenWith({e});
  ASSERT_TRUE(Open(0));
  EXPECT_EQ(ReadAll(), "0123456789");
  EXPECT_EQ(entry->Finish(), 1);
}

TEST_F(Decoding, TruncatedDeflateStreamIsDamaged) {
  CraftedEntry e = DeflatedEntry("cut", MakeRandomData(50000, 5));
  e.data.resize(e.data.size() / 2);
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  OpenWith({e});
  ASSERT_TRUE(Open(0));
  EXPECT_EQ(CauseOf([&] { ReadAll(); }), CZipException::badZipFile);
}

// Whichever inflater the build has, damage ends an entry where and how zlib
// ends it: the chunks before it are delivered, the one it falls in raises,
// and damage past the entry's size goes unseen.
TEST_F(Decoding, DamagedDeflateEndsWhereZlibEndsIt) {
  const std::string data = MakeTextLikeData(150000, 7);
  const std::string badBlockType = OpenDeflate(data) + std::string("\x07", 1);
  struct Case {
    std::string stream;
    uint32_t size;                // declared
    std::vector<uint32_t> counts; // delivered by each ReadEntry of 65535
    int cause;                    // of the call after them (0: CloseEntry gives 1)
  } cases[] = {
      {badBlockType, 200000, {65535, 65535}, CZipException::dataError},
      // Output full, but zlib reads on through the block ends behind it.
      {badBlockType, 150000, {65535, 65535}, CZipException::dataError},
      // A whole number of chunks: the next call reads on and finds a byte
      // beyond the entry's size.
      {badBlockType, 131070, {65535, 65535}, CZipException::bufError},
      {badBlockType, 100000, {65535, 34465}, 0},
      {std::string("\x03\x02\x00", 3), 10, {}, CZipException::dataError},
      {std::string("\x07", 1), 0, {}, CZipException::dataError},
  };
  for (const Case& c : cases) {
    CraftedEntry e = DeflatedEntry("d", data.substr(0, c.size));
    e.data = c.stream;
    e.compressedSize = static_cast<uint32_t>(c.stream.size());
    OpenWith({e});
    ASSERT_TRUE(Open(0));
    std::string buffer(65535, '\0'), got;
    for (uint32_t count : c.counts) {
      uint32_t n = 0;
      ASSERT_EQ(CauseOf([&] { n = entry->Read(buffer.data(), 65535); }), 0) << c.size;
      ASSERT_EQ(n, count) << c.size;
      got.append(buffer.data(), n);
    }
    EXPECT_TRUE(got == data.substr(0, got.size())) << c.size;
    if (c.cause != 0) {
      EXPECT_EQ(CauseOf([&] { entry->Read(buffer.data(), 65535); }), c.cause) << c.size;
    } else {
      EXPECT_EQ(entry->Finish(), 1) << c.size;
    }
  }
}

TEST_F(Decoding, EncryptedEntriesNeedAPasswordAndARealHeader) {
  CraftedEntry tiny = StoredEntry("tiny", "12345");
  tiny.flags = zip::kFlagEncrypted;
  CraftedEntry unknown = StoredEntry("method12", "xyz");
  unknown.method = 12;
  OpenWith({tiny, unknown});
  EXPECT_FALSE(Open(0));  // no password: a refusal, not an error
  EXPECT_FALSE(Open(0, std::string_view()));  // an empty one is none
  // Fewer bytes than the encryption header: the size would wrap.
  EXPECT_EQ(CauseOf([&] { Open(0, "pw"); }), CZipException::badZipFile);
  EXPECT_EQ(CauseOf([&] { Open(1); }), CZipException::badZipFile);
}

TEST_F(Decoding, AnEntryDroppedAfterDamageLeavesTheArchiveUsable) {
  CraftedEntry garbage = DeflatedEntry("g", MakeTextLikeData(40000, 6));
  for (size_t i = 100; i < garbage.data.size(); i += 7) garbage.data[i] ^= 0x5A;
  OpenWith({garbage, StoredEntry("ok", "fine")});
  ASSERT_TRUE(Open(0));
  try {
    ReadAll();
    entry->Finish();
    FAIL() << "damaged deflate data went unnoticed";
  } catch (const CZipException&) {
  }
  ASSERT_TRUE(Open(1));  // the damaged one goes, its memory with it
  EXPECT_EQ(ReadAll(), "fine");
  EXPECT_EQ(entry->Finish(), 1);
}

}  // namespace
