// The compression threads of upkpack: entries come back to the writer in
// the archive's order whatever the threads, and a failure, in a compressor
// or in the writer, ends the work with every thread joined.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "entry_compression.h"
#include "test_support.h"

namespace {

struct Packed {
  std::vector<upkpack::ZipSource> entries;
  std::vector<uint32_t> crcs;
};

// Files of several sizes (some that shrink, some that do not) and a
// directory; the file at `missing`, if any, is never written.
Packed MakeFiles(const upktest::TempDir& dir, size_t count, size_t missing = SIZE_MAX) {
  Packed packed;
  for (size_t i = 0; i < count; ++i) {
    upkpack::ZipSource source;
    source.name = "f" + std::to_string(i);
    source.source = dir.Path(source.name);
    if (i % 7 == 3) {
      source.directory = true;
      packed.entries.push_back(source);
      packed.crcs.push_back(0);
      continue;
    }
    const std::string data = i % 2 ? upktest::MakeTextLikeData(1000 + i * 3001, i)
                                   : upktest::MakeRandomData(500 + i * 97, i);
    if (i != missing) upktest::WriteFile(source.source.string(), data);
    source.size = data.size();
    packed.entries.push_back(source);
    packed.crcs.push_back(static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))));
  }
  return packed;
}

upkpack::CompressionSettings Settings(const upktest::TempDir& dir, upkpack::PackMethod method,
                                      unsigned threads) {
  upkpack::CompressionSettings settings;
  settings.method = method;
  settings.threads = threads;
  // Fast levels: the threads are what is tested, not the ratio.
  if (method == upkpack::PackMethod::zstd) settings.level = 3;
  if (method == upkpack::PackMethod::lzma) settings.level = 1;
  settings.spillDirectory = dir.path();
  settings.memoryPerEntry = 4096;  // most entries spill to a file
  return settings;
}

TEST(EntryCompression, EntriesComeInOrderWhateverTheThreads) {
  upktest::TempDir dir;
  const Packed packed = MakeFiles(dir, 40);
  for (const auto method :
       {upkpack::PackMethod::deflate, upkpack::PackMethod::zstd, upkpack::PackMethod::lzma}) {
    for (const unsigned threads : {1u, 3u, 8u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      std::vector<size_t> order;
      upkpack::CompressEntries(packed.entries, Settings(dir, method, threads),
                               [&](size_t index, upkpack::CompressedEntry& entry) {
                                 order.push_back(index);
                                 EXPECT_EQ(entry.crc, packed.crcs[index]) << index;
                                 // Random data never shrinks; text always does.
                                 if (!packed.entries[index].directory)
                                   EXPECT_EQ(entry.stored, index % 2 == 0) << index;
                               });
      ASSERT_EQ(order.size(), packed.entries.size());
      for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
    }
  }
}

TEST(EntryCompression, AFailureEndsTheWorkAtItsPlace) {
  upktest::TempDir dir;
  const Packed packed = MakeFiles(dir, 30, 11);
  struct Case {
    const char* what;
    size_t throwAt;  // where the writer throws (SIZE_MAX: never)
    size_t lastSeen;
  };
  for (const Case c : {Case{"unreadable file", SIZE_MAX, 10}, Case{"writer", 5, 5}}) {
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads");
      size_t seen = 0;
      bool threw = false;
      try {
        upkpack::CompressEntries(packed.entries,
                                 Settings(dir, upkpack::PackMethod::deflate, threads),
                                 [&](size_t index, upkpack::CompressedEntry&) {
                                   seen = index;
                                   if (index == c.throwAt) throw std::runtime_error("full disk");
                                 });
      } catch (const std::exception&) {
        threw = true;
      }
      EXPECT_TRUE(threw);
      EXPECT_EQ(seen, c.lastSeen);
    }
  }
}

}  // namespace
