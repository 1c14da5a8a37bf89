// Several threads reading different entries of one archive at once: each
// through an entry reader of its own, split and encrypted archives
// included, with lookups by name beside them. Every thread must get what a
// single thread gets. Run under ThreadSanitizer by ./run-tests --tsan.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

std::vector<ZipInput> Inputs() {
  std::vector<ZipInput> inputs;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "dir" + std::to_string(i % 3) + "/file" + std::to_string(i);
    inputs.push_back({name, i % 2 ? MakeRandomData(20000 + 7000 * i, i)
                                  : MakeTextLikeData(40000 + 9000 * i, i)});
  }
  return inputs;
}

// Each of threads threads decodes the entries of its share, rounds times,
// and looks each one up by name; the bytes, verdicts and lookups are
// compared with the single-threaded ones.
void ExpectSameFromEveryThread(const Archive& archive, std::optional<std::string_view> password,
                               int threads, int rounds) {
  std::vector<std::string> expected;
  for (size_t i = 0; i < archive.EntryCount(); ++i)
    expected.push_back(DecodeEntry(archive, i, nullptr, password));
  std::atomic<int> mismatches{0}, errors{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      for (int round = 0; round < rounds; ++round) {
        for (size_t i = static_cast<size_t>(t + round) % threads; i < expected.size();
             i += static_cast<size_t>(threads)) {
          try {
            int32_t verdict = 0;
            // Odd rounds in small reads, so that the threads interleave more.
            const std::string got =
                DecodeEntry(archive, i, &verdict, password, round % 2 ? 4096 : 65536);
            if (got != expected[i] || verdict != 1) ++mismatches;
            if (archive.Find(archive.Entry(i).GetNameWide()) != static_cast<int32_t>(i))
              ++mismatches;
          } catch (...) {
            ++errors;
          }
        }
      }
    });
  }
  for (std::thread& thread : pool) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(errors.load(), 0);
}

}  // namespace

TEST(ConcurrentReadingTest, ThreadsReadDifferentEntriesOfOneArchive) {
  TempDir dir;
  const std::vector<ZipInput> inputs = Inputs();
  struct Case {
    const char* what;
    ZipMethod method;
    const char* password;
    bool split;
  } cases[] = {
      {"single file, deflated", ZipMethod::deflated, "", false},
      {"single file, stored, encrypted", ZipMethod::stored, "pw", false},
      {"split, deflated", ZipMethod::deflated, "", true},
      {"split, deflated, encrypted", ZipMethod::deflated, "pw", true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = "a" + std::to_string(n++);
    std::unique_ptr<Archive> archive;
    if (c.split) {
      const std::vector<std::string> volumes =
          MakeSplitZipInfoZip(dir, base, inputs, c.method, "64k", c.password);
      ASSERT_GE(volumes.size(), 3u);
      archive = OpenArchive(volumes.back(), nullptr, plat::Utf8ToUtf16(base + "%d.zip"));
    } else {
      const std::string path = MakeZipInfoZip(dir, base + ".zip", inputs, c.method,
                                              *c.password ? std::string("-P ") + c.password : "");
      archive = OpenArchive(path);
    }
    const std::optional<std::string_view> password =
        *c.password ? std::optional<std::string_view>(c.password) : std::nullopt;
    ExpectSameFromEveryThread(*archive, password, 4, 3);
  }
}

// Entries are handed out as they come; the pool of volume cursors grows to
// the number of readers open at once and no further.
TEST(ConcurrentReadingTest, ReadersOpenAtOnceEachHaveTheirOwnPlace) {
  CraftedZip zip;
  for (int i = 0; i < 8; ++i)
    zip.entries.push_back(DeflatedEntry("e" + std::to_string(i), MakeTextLikeData(30000, i)));
  MemoryStorage storage;
  const std::unique_ptr<Archive> archive = OpenInMemory(storage, zip.Build());
  std::vector<std::unique_ptr<EntryReader>> open;
  for (uint16_t i = 0; i < 8; ++i) open.push_back(archive->OpenEntry(i, std::nullopt));
  // Eight readers at once: seven more opens of the file than the first.
  EXPECT_EQ(storage.OpenCount(WinPath("/memory/crafted.zip")), 8);
  std::string buffer(1000, '\0');
  std::vector<std::string> got(8);
  for (bool more = true; more;) {
    more = false;
    for (size_t i = 0; i < 8; ++i) {
      const uint32_t n = open[i]->Read(buffer.data(), 1000);
      got[i].append(buffer.data(), n);
      more = more || n == 1000;
    }
  }
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(got[i] == MakeTextLikeData(30000, static_cast<int>(i))) << i;
    EXPECT_EQ(open[i]->Finish(), 1);
  }
  open.clear();
  // Read one after another now, they share the cursors already open.
  for (uint16_t i = 0; i < 8; ++i) DecodeEntry(*archive, i);
  EXPECT_EQ(storage.OpenCount(WinPath("/memory/crafted.zip")), 8);
}
