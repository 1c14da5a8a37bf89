// Extraction in blocks of several chunks against the loop of one chunk per
// read and write: the same callbacks with the same values, the same file,
// the same outcome, for whole, damaged and encrypted entries alike, written
// behind the decoding or not.
#include <gtest/gtest.h>
#include <zlib.h>
#include <filesystem>
#include <functional>
#include <vector>
#include "crafted_zip.h"
#include "test_support.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"
#include "upk4/zip_exception.h"

using namespace upktest;
namespace fs = std::filesystem;

namespace {

// The traditional encryption of an entry's stored bytes, header included.
CraftedEntry Encrypted(CraftedEntry e, const std::string& password) {
  const z_crc_t* table = get_crc_table();
  uint32_t k0 = zip::kInitialKeys[0], k1 = zip::kInitialKeys[1], k2 = zip::kInitialKeys[2];
  const auto update = [&](uint8_t b) {
    k0 = (k0 >> 8) ^ table[(k0 ^ b) & 0xFF];
    k1 = (k1 + (k0 & 0xFF)) * zip::kKeyMultiplier + 1;
    k2 = (k2 >> 8) ^ table[(k2 ^ (k1 >> 24)) & 0xFF];
  };
  for (char c : password) update(static_cast<uint8_t>(c));
  std::string plain(zip::kEncryptionHeaderSize - 1, 'h');
  plain += static_cast<char>(e.crc >> 24);
  plain += e.data;
  std::string out;
  for (char c : plain) {
    const uint32_t t = (k2 & 0xFFFF) | 2;
    out += static_cast<char>(static_cast<uint8_t>(c) ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
    update(static_cast<uint8_t>(c));
  }
  e.data = out;
  e.compressedSize = static_cast<uint32_t>(out.size());
  e.flags |= zip::kFlagEncrypted;
  return e;
}

// What one extraction left behind.
struct Outcome {
  std::vector<uint32_t> done;  // the callbacks' byte counts, in order
  std::string file;
  int cause = 0;  // of the CZipException raised, 0 for none
  bool ok = false;
  bool operator==(const Outcome&) const = default;
};

bool Record(uint64_t, uint64_t written, void* user) {
  static_cast<std::vector<uint32_t>*>(user)->push_back(static_cast<uint32_t>(written));
  return true;
}

// fastFrom: where the reader turns to its fast inflater (UINT64_MAX: zlib
// throughout). Large deflated entries are written behind either way.
Outcome Extract(const TempDir& dir, uint16_t index, uint32_t chunksPerTransfer,
                uint32_t readSize, uint64_t fastFrom = 0) {
  ArchiveOptions options;
  options.fastInflaterFrom = fastFrom;
  const std::unique_ptr<Archive> archive =
      Archive::Open(plat::FromNativePath(dir.Path("a.zip")), options);
  Transfer transfer;
  transfer.chunksPerTransfer = chunksPerTransfer;
  transfer.largeReadSize = readSize;
  const std::string out = dir.Path("out" + std::to_string(chunksPerTransfer));
  fs::remove_all(out);
  fs::create_directories(out);
  Outcome o;
  try {
    o.ok = ExtractEntry(*archive, index, std::string_view("secret"),
                        plat::FromNativePath(out).c_str(), false, u"x", Record, &o.done, transfer);
  } catch (const CZipException& e) {
    o.cause = e.m_iCause;
  }
  o.file = ReadFile(out + "/x");
  return o;
}

TEST(TransferBlocks, SameCallbacksFileAndOutcomeAsTheChunkLoop) {
  const std::string text = MakeTextLikeData(1000003, 61), noise = MakeRandomData(700000, 62);
  const auto damagedAt = [&](size_t at, size_t declared) {
    CraftedEntry e = DeflatedEntry("d", text.substr(0, declared));
    e.data = OpenDeflate(text.substr(0, at)) + std::string("\x07", 1);
    e.compressedSize = static_cast<uint32_t>(e.data.size());
    return e;
  };
  CraftedEntry truncated = DeflatedEntry("t", text);
  truncated.data.resize(truncated.data.size() * 2 / 3);
  truncated.compressedSize = static_cast<uint32_t>(truncated.data.size());
  CraftedEntry badCrc = StoredEntry("c", noise);
  badCrc.crc ^= 1;

  const std::vector<CraftedEntry> entries = {
      DeflatedEntry("empty", ""),
      StoredEntry("one", "1"),
      StoredEntry("block", noise.substr(0, 4 * 65535)),
      DeflatedEntry("block+1", text.substr(0, 4 * 65535 + 1)),
      DeflatedEntry("text", text),
      StoredEntry("noise", noise),
      Encrypted(DeflatedEntry("enc", text.substr(0, 500000)), "secret"),
      Encrypted(damagedAt(300000, 400000), "secret"),
      damagedAt(300000, 400000),  // inside a block
      damagedAt(4 * 65535, 400000),  // where a block ends
      damagedAt(5 * 65535, 400000),  // where a chunk inside a block ends
      damagedAt(400000, 5 * 65535),  // beyond the size, a whole number of chunks
      damagedAt(300000, 250000),  // beyond the size
      truncated,
      badCrc,
  };
  // Which of them extract whole.
  const std::vector<bool> whole = {true, true, true, true, true, true, true, false,
                                   false, false, false, false, true, false, false};
  TempDir dir;
  CraftedZip zip;
  zip.entries = entries;
  WriteFile(dir.Path("a.zip"), zip.Build());
  for (uint16_t i = 0; i < entries.size(); ++i) {
    const Outcome chunkLoop = Extract(dir, i, 1, 16384);
    EXPECT_EQ(chunkLoop.ok, whole[i]) << entries[i].name;
    EXPECT_EQ(chunkLoop.cause != 0, !whole[i]) << entries[i].name;
    if (entries[i].name == "text") {
      EXPECT_EQ(chunkLoop.done.size(), 16u);  // 1000003 bytes: 15 whole chunks and a rest
      EXPECT_TRUE(chunkLoop.file == text);
    }
    for (uint32_t chunks : {4u, 16u}) {
      for (uint32_t readSize : {16384u, 262144u}) {
        for (uint64_t fastFrom : {uint64_t{0}, UINT64_MAX}) {
          const Outcome blocks = Extract(dir, i, chunks, readSize, fastFrom);
          const std::string what = entries[i].name + " " + std::to_string(chunks) + " " +
                                   std::to_string(readSize) + (fastFrom ? " zlib" : "");
          EXPECT_EQ(blocks.done, chunkLoop.done) << what;
          EXPECT_EQ(blocks.cause, chunkLoop.cause) << what;
          EXPECT_EQ(blocks.ok, chunkLoop.ok) << what;
          EXPECT_TRUE(blocks.file == chunkLoop.file) << what;
        }
      }
    }
  }
}

}  // namespace
