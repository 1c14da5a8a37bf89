#include "entry_compression.h"

#include <zlib.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>

#include "pack_error.h"

namespace upkpack {

namespace {

constexpr size_t kReadPiece = 1u << 20;

CompressedEntry CompressOne(const ZipSource& source, const CompressionSettings& settings) {
  CompressedEntry result{true, 0, SpillBuffer(settings.spillDirectory, settings.memoryPerEntry)};
  if (source.directory) return result;
  std::ifstream in(source.source, std::ios::binary);
  if (!in) throw PackError("cannot read " + source.source.string());
  std::unique_ptr<EntryEncoder> encoder;
  if (!settings.store && source.size > 0)
    encoder = MakeEntryEncoder(settings.method, settings.level, source.size);
  std::vector<char> piece(kReadPiece);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  bool last = false;
  while (!last) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<size_t>(in.gcount());
    last = got < piece.size();
    const auto* bytes = reinterpret_cast<const uint8_t*>(piece.data());
    crc = crc32(crc, bytes, static_cast<uInt>(got));
    total += got;
    // Stop compressing as soon as the entry cannot shrink any more.
    if (encoder) {
      encoder->Feed(bytes, got, last, result.data);
      if (result.data.Size() >= source.size) encoder.reset();
    }
  }
  if (in.bad()) throw PackError("cannot read " + source.source.string());
  if (total != source.size) throw PackError("file changed while packing: " + source.source.string());
  result.crc = static_cast<uint32_t>(crc);
  result.stored = !encoder;
  if (result.stored) result.data.Clear();
  return result;
}

// The threads' shared state: which entry is next to be taken, the results
// not yet consumed, and the first failure. Guarded by mutex.
struct Work {
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;      // the next entry to take
  size_t consumed = 0;  // entries handed to consume so far
  std::vector<std::optional<CompressedEntry>> results;
  std::vector<std::exception_ptr> failures;
  bool stop = false;
};

}  // namespace

void CompressEntries(const std::vector<ZipSource>& entries, const CompressionSettings& settings,
                     const std::function<void(size_t, CompressedEntry&)>& consume) {
  Work work;
  work.results.resize(entries.size());
  work.failures.resize(entries.size());
  const unsigned threads = std::max(1u, settings.threads);
  // At most this many entries are taken ahead of the one being written, so
  // that finished entries waiting for their turn stay few.
  const size_t ahead = 2 * static_cast<size_t>(threads);

  const auto worker = [&] {
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock<std::mutex> lock(work.mutex);
        work.changed.wait(lock, [&] {
          return work.stop || work.next >= entries.size() || work.next < work.consumed + ahead;
        });
        if (work.stop || work.next >= entries.size()) return;
        index = work.next++;
      }
      std::optional<CompressedEntry> done;
      std::exception_ptr failure;
      try {
        done.emplace(CompressOne(entries[index], settings));
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(work.mutex);
      work.results[index] = std::move(done);
      work.failures[index] = failure;
      work.changed.notify_all();
    }
  };

  // The workers' owner: stops and joins them on every way out.
  struct Workers {
    Work& work;
    std::vector<std::thread> threads;
    ~Workers() {
      {
        std::lock_guard<std::mutex> lock(work.mutex);
        work.stop = true;
      }
      work.changed.notify_all();
      for (std::thread& t : threads) t.join();
    }
  } workers{work, {}};
  for (unsigned i = 0; i < threads; ++i) workers.threads.emplace_back(worker);

  for (size_t index = 0; index < entries.size(); ++index) {
    std::optional<CompressedEntry> entry;
    {
      std::unique_lock<std::mutex> lock(work.mutex);
      work.changed.wait(lock, [&] { return work.results[index] || work.failures[index]; });
      if (work.failures[index]) std::rethrow_exception(work.failures[index]);
      entry = std::move(work.results[index]);
      work.results[index].reset();
    }
    consume(index, *entry);
    {
      std::lock_guard<std::mutex> lock(work.mutex);
      work.consumed = index + 1;
    }
    work.changed.notify_all();
  }
}

}  // namespace upkpack
