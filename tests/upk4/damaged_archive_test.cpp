// Archives damaged at random in their headers: opening and walking them ends
// in an archive or file error, never in a crash or a runaway allocation.
#include <gtest/gtest.h>
#include <random>
#include "reader_test_util.h"

using namespace upktest;

TEST(DamagedArchiveTest, RandomHeaderDamageIsReportedAsAnError) {
  CraftedZip zip;
  zip.prefix = "MZ-program";
  zip.entries.push_back(StoredEntry("a/b.txt", "stored bytes"));
  CraftedEntry d = DeflatedEntry("c.txt", MakeTextLikeData(400, 1));
  d.flags = zip::kFlagDataDescriptor;
  d.afterData = DataDescriptor(d.crc, d.compressedSize, d.uncompressedSize, true);
  zip.entries.push_back(d);
  zip.entries.push_back(StoredEntry("dir/", ""));
  zip.comment = "comment";
  const std::string good = zip.BuildAndLayout();
  const size_t headersFrom = zip.prefix.size();

  std::mt19937 gen(12345);
  int opened = 0, refused = 0;
  for (int round = 0; round < 500; ++round) {
    std::string bytes = good;
    const int flips = 1 + static_cast<int>(gen() % 4);
    for (int k = 0; k < flips; ++k) {
      // Mostly the directory and end record, sometimes the local headers.
      size_t at = (gen() % 4 == 0) ? headersFrom + gen() % (bytes.size() - headersFrom)
                                   : headersFrom + zip.centralOffset +
                                         gen() % (bytes.size() - headersFrom - zip.centralOffset);
      bytes[at] = static_cast<char>(gen() % 3 == 0 ? 0xFF : gen());
    }
    MemoryStorage storage;
    try {
      const std::unique_ptr<Archive> archive = OpenInMemory(storage, bytes);
      archive->Find(u"A11");
      WalkEntries(*archive);
      ++opened;
    } catch (const CException&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(opened, 0);
}
