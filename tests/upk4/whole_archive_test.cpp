// Whole-archive extraction by a crew: how the files are shared out (plain
// bookkeeping), the crew's hand-out and ordered reports under threads, and
// real extractions of split and encrypted archives by several workers. Run
// under ThreadSanitizer by ./run-tests --tsan.
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include "reader_test_util.h"
#include "zip_writers.h"
#include "upk4/extraction_crew.h"
#include "upk4/extraction_plan.h"
#include "upk4/file_closer.h"
#include "framework/file_exception.h"
#include "platform/file_handle.h"
#include "upk4/unpack_entry.h"
#include "upk4/whole_archive.h"

using namespace upktest;

namespace {

std::vector<PlannedFile> Files(const std::vector<std::pair<const char16_t*, uint64_t>>& named) {
  std::vector<PlannedFile> files;
  for (const auto& [name, size] : named) files.push_back({files.size(), name, size});
  return files;
}

// Every item once, in one batch; every batch in one queue; batches and
// queues in archive order.
void ExpectWellFormed(const ExtractionPlan& plan, size_t items) {
  std::vector<int> seen(items, 0), queued(plan.batches.size(), 0);
  for (const std::vector<size_t>& batch : plan.batches) {
    EXPECT_TRUE(std::is_sorted(batch.begin(), batch.end()));
    for (size_t item : batch) ++seen[item];
  }
  for (const std::vector<size_t>& queue : plan.queues) {
    for (size_t b : queue) ++queued[b];
    for (size_t i = 1; i < queue.size(); ++i)
      EXPECT_LT(plan.batches[queue[i - 1]].front(), plan.batches[queue[i]].front());
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(items));
  EXPECT_EQ(std::count(queued.begin(), queued.end(), 1), static_cast<long>(queued.size()));
}

// The batch that holds the item.
size_t BatchOf(const ExtractionPlan& plan, size_t item) {
  for (size_t b = 0; b < plan.batches.size(); ++b)
    if (std::count(plan.batches[b].begin(), plan.batches[b].end(), item)) return b;
  return SIZE_MAX;
}
size_t QueueOf(const ExtractionPlan& plan, size_t batch) {
  for (size_t q = 0; q < plan.queues.size(); ++q)
    if (std::count(plan.queues[q].begin(), plan.queues[q].end(), batch)) return q;
  return SIZE_MAX;
}

TEST(ExtractionPlanTest, NamesOfOneFileShareABatchWhateverTheirCaseOrSpelling) {
  const uint64_t big = 8u << 20;
  const ExtractionPlan plan =
      PlanExtraction(Files({{u"d/a.txt", 10}, {u"x/big", big}, {u"D\\A.TXT", big},
                            {u"./d//a.txt", 0}, {u"d/b.txt", 10}, {u"d/\u00c4.txt", 5},
                            {u"D/\u00e4.TXT", 5}}),
                     4);
  ExpectWellFormed(plan, 7);
  for (const auto& [a, b] : {std::pair{0, 2}, {0, 3}, {5, 6}})
    EXPECT_EQ(BatchOf(plan, a), BatchOf(plan, b)) << a << " " << b;
  EXPECT_NE(BatchOf(plan, 1), BatchOf(plan, 0));
}

TEST(ExtractionPlanTest, LargeEntriesSpreadAndDirectoriesStayTogether) {
  std::vector<std::pair<const char16_t*, uint64_t>> named;
  const char16_t* larges[] = {u"l/1", u"l/2", u"l/3", u"l/4", u"l/5", u"l/6"};
  for (const char16_t* name : larges) named.push_back({name, 16u << 20});
  std::vector<plat::WString> smallNames;
  for (int i = 0; i < 90; ++i)
    smallNames.push_back(u"s" + plat::WString(1, u'0' + i % 3) + u"/f" + plat::WString(1, u'a' + i / 3));
  for (const plat::WString& name : smallNames) named.push_back({name.c_str(), 100});
  const ExtractionPlan plan = PlanExtraction(Files(named), 3);
  ExpectWellFormed(plan, named.size());
  ASSERT_EQ(plan.queues.size(), 3u);
  // Two large entries per worker.
  std::map<size_t, int> largePerQueue;
  for (size_t item = 0; item < 6; ++item) ++largePerQueue[QueueOf(plan, BatchOf(plan, item))];
  for (const auto& [queue, n] : largePerQueue) EXPECT_EQ(n, 2) << queue;
  // Each small directory's files in one queue, in batches of at most 32.
  for (size_t d = 0; d < 3; ++d) {
    std::set<size_t> queues;
    for (size_t item = 6 + d; item < named.size(); item += 3)
      queues.insert(QueueOf(plan, BatchOf(plan, item)));
    EXPECT_EQ(queues.size(), 1u) << d;
  }
  for (const std::vector<size_t>& batch : plan.batches) EXPECT_LE(batch.size(), 32u);
  // Large entries run beside anything; a directory's small files in its lane.
  for (size_t item = 0; item < named.size(); ++item)
    EXPECT_EQ(plan.lanes[BatchOf(plan, item)] == ExtractionPlan::kNoLane, item < 6) << item;
}

TEST(ExtractionPlanTest, OrderMattersWhereAFileIsADirectoryOrADirectoryIsSpelledTwice) {
  using Names = std::vector<plat::WStringView>;
  struct Case {
    Names directories, files;
    bool matters;
  };
  const Case cases[] = {
      {{}, {u"a/b", u"a/c", u"d"}, false},
      {{u"a\\", u"a/e/"}, {u"a/b", u"a/B"}, false},  // one file twice: a unit, not an order
      {{}, {u"x", u"x/y"}, true},                  // a file above another
      {{}, {u"x/y", u"X"}, true},
      {{u"z/"}, {u"z"}, true},                     // a file where a directory entry is
      {{u"Z/"}, {u"./z"}, true},
      {{}, {u"Q/a", u"q/b"}, true},                // one directory, two spellings
      {{u"q/"}, {u"Q/a"}, true},
      {{u"q/r/"}, {u"q/R/s"}, true},
      {{}, {u"q/a", u"q//b", u"./q/c"}, false},    // the same spelling
  };
  for (const Case& c : cases)
    EXPECT_EQ(OrderMatters(c.directories, c.files), c.matters)
        << plat::Utf16ToUtf8(plat::WString(c.files.front()));
}

// Random plans run by crews of 1 to 8: every item reported once, in order;
// the items of one file on one thread in archive order; errors reach the
// report; a false report ends the run with nothing reported after it.
TEST(ExtractionCrewTest, ReportsInOrderAndKeepsOneFilesEntriesOnOneThread) {
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const size_t count = 1 + random() % 400;
    std::vector<PlannedFile> files;
    std::vector<plat::WString> names(count);
    for (size_t item = 0; item < count; ++item) {
      names[item] = u"d" + plat::WString(1, u'0' + random() % 4) + u"/" +
                    plat::WString(1, random() % 2 ? u'f' : u'F') + plat::WString(1, u'0' + random() % 40 % 10);
      if (random() % 5 == 0) continue;  // an item of no batch: reported at its place
      files.push_back({item, names[item], random() % 3 == 0 ? (random() % 4) << 20 : random() % 5000});
    }
    const unsigned workers = 1 + seed % 8;
    const ExtractionPlan plan = PlanExtraction(files, workers);
    const size_t stopAt = seed % 3 == 0 ? random() % count : SIZE_MAX;

    std::vector<std::thread::id> ranOn(count);
    std::vector<uint64_t> ranAt(count, 0);
    std::atomic<uint64_t> clock{1};
    std::vector<size_t> laneOf(count, ExtractionPlan::kNoLane);
    for (size_t b = 0; b < plan.batches.size(); ++b)
      for (size_t item : plan.batches[b]) laneOf[item] = plan.lanes[b];
    std::vector<std::atomic<int>> inLane(plan.batches.size());
    std::atomic<int> lanesShared{0};
    std::vector<size_t> reported;
    CrewTasks tasks;
    tasks.work = [&](size_t item, Transfer& transfer) {
      ASSERT_EQ(transfer.chunkSize, 4096u);
      ranOn[item] = std::this_thread::get_id();
      ranAt[item] = clock++;
      // Small files of one directory: one worker at a time.
      if (laneOf[item] != ExtractionPlan::kNoLane) {
        if (inLane[laneOf[item]]++ != 0) ++lanesShared;
        std::this_thread::yield();
        --inLane[laneOf[item]];
      }
      if (item % 7 == 3) throw std::runtime_error("item " + std::to_string(item));
    };
    tasks.report = [&](size_t item, std::exception_ptr error) {
      reported.push_back(item);
      EXPECT_EQ(error != nullptr, ranAt[item] != 0 && item % 7 == 3) << item;
      return item != stopAt;
    };
    Transfer model;
    model.chunkSize = 4096;
    RunCrew(plan, count, workers, model, tasks);

    EXPECT_EQ(lanesShared, 0);
    const size_t last = std::min(count - 1, stopAt);
    ASSERT_EQ(reported.size(), last + 1);
    for (size_t i = 0; i < reported.size(); ++i) ASSERT_EQ(reported[i], i);
    std::map<plat::WString, std::vector<size_t>> byFile;
    for (const PlannedFile& f : files) {
      if (f.item <= last) {
        EXPECT_NE(ranAt[f.item], 0u) << f.item;
      }
      byFile[FoldedPathKey(f.relative)].push_back(f.item);
    }
    for (const auto& [key, items] : byFile)
      for (size_t i = 1; i < items.size(); ++i) {
        if (ranAt[items[i]] == 0) continue;  // not started after the stop
        EXPECT_EQ(ranOn[items[i]], ranOn[items[0]]);
        EXPECT_LT(ranAt[items[i - 1]], ranAt[items[i]]);
      }
  }
}

// Real extractions: split and encrypted archives, by four workers, with
// the library's results per entry; every file as one worker writes it.
TEST(WholeArchiveTest, SplitAndEncryptedArchivesByFourWorkers) {
  TempDir dir;
  std::vector<ZipInput> inputs;
  for (int i = 0; i < 40; ++i)
    inputs.push_back({"dir" + std::to_string(i % 3) + "/file" + std::to_string(i),
                      i % 2 ? MakeRandomData(3000 + 7000 * i, i) : MakeTextLikeData(5000 + 9000 * i, i)});
  struct Case {
    const char* what;
    const char* password;
    bool split;
  } cases[] = {{"single file", "", false},
               {"encrypted", "pw", false},
               {"split", "", true},
               {"split, encrypted", "pw", true}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = "a" + std::to_string(n++);
    std::unique_ptr<Archive> archive;
    if (c.split) {
      const std::vector<std::string> volumes =
          MakeSplitZipInfoZip(dir, base, inputs, ZipMethod::deflated, "64k", c.password);
      archive = OpenArchive(volumes.back(), nullptr, plat::Utf8ToUtf16(base + "%d.zip"));
    } else {
      archive = OpenArchive(MakeZipInfoZip(dir, base + ".zip", inputs, ZipMethod::deflated,
                                           *c.password ? std::string("-P ") + c.password : ""));
    }
    const std::optional<std::string> password =
        *c.password ? std::optional<std::string>(c.password) : std::nullopt;
    for (const auto& [workers, aside] : {std::pair{1u, false}, {4u, false}, {1u, true}, {4u, true}}) {
      SCOPED_TRACE(aside ? "closed aside" : "closed in place");
      const std::string out =
          dir.Path(base + "-out" + std::to_string(workers) + (aside ? "-aside" : ""));
      const plat::WString dest = WinPath(out);
      std::vector<WholeEntry> entries(archive->EntryCount());
      std::vector<int32_t> results(entries.size(), 1);
      for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].kind = WholeEntryKind::file;
        entries[i].relative = archive->Entry(i).GetNameWide();
        entries[i].size = archive->Entry(i).uncompressedSize;
      }
      std::atomic<uint64_t> progress{0};
      WholeArchiveTasks tasks;
      tasks.file = [&](size_t item, Transfer& transfer) {
        UnpackRequest request;
        request.destDir = dest.c_str();
        request.fileName = entries[item].relative.c_str();
        request.fullPath = request.destinationMade = true;
        request.callback = [](uint64_t, uint64_t, void* p) {
          static_cast<std::atomic<uint64_t>*>(p)->fetch_add(1);
          return true;
        };
        request.userData = &progress;
        bool brokenOff = false;
        results[item] = UnpackEntry(*archive, static_cast<uint16_t>(item), password, request,
                                    transfer, brokenOff);
      };
      size_t next = 0;
      tasks.report = [&](size_t item, std::exception_ptr error) {
        EXPECT_EQ(item, next++);
        EXPECT_FALSE(error);
        EXPECT_EQ(results[item], 0) << item;
        return true;
      };
      tasks.tick = [&] { progress.load(); };
      tasks.closeAside = aside;
      Transfer model;
      model.chunkSize = kUnpackChunkSize;
      model.chunksPerTransfer = kUnpackChunksPerTransfer;
      ExtractWholeArchive(entries, dest, workers, model, tasks);
      EXPECT_EQ(next, entries.size());
      for (const ZipInput& input : inputs)
        ASSERT_TRUE(ReadFile(out + "/" + input.name) == input.data) << input.name;
    }
  }
}

// Files handed to closers of none and of two threads: each close's result
// reaches whoever waits for it, a failed one as the file exception a close
// in place would have thrown; a name is settled only once its files are
// closed; files nobody waited for are closed when the closer goes.
TEST(FileCloserTest, ClosesAndReportsEveryFileHandedOver) {
  TempDir dir;
  for (unsigned threads : {0u, 2u}) {
    SCOPED_TRACE(threads);
    std::vector<FileCloser::Ticket> tickets;
    std::vector<plat::WString> names;
    std::vector<std::string> paths;
    {
      FileCloser closer(threads);
      for (int i = 0; i < 20; ++i) {
        paths.push_back(dir.Path("f" + std::to_string(threads) + "-" + std::to_string(i)));
        names.push_back(WinPath(paths.back()));
        const plat::FileHandle h = plat::OpenFileHandle(names.back(), plat::FileAccess::Write,
                                                        plat::FileShare::DenyWrite,
                                                        plat::FileCreate::CreateAlways);
        ASSERT_NE(h, plat::kInvalidFile);
        ASSERT_EQ(plat::WriteFileHandle(h, "data", 4), 4);
        tickets.push_back(closer.Hand(h, names.back()));
      }
      const FileCloser::Ticket bad = closer.Hand(plat::kInvalidFile, u"C:\\nowhere\\x");
      closer.Settle(names[3]);
      for (int i = 0; i < 10; ++i) EXPECT_FALSE(closer.Wait(tickets[i]));
      try {
        std::rethrow_exception(closer.Wait(bad));
      } catch (const CFileException& e) {
        EXPECT_EQ(e.m_lOsError, static_cast<long>(plat::ERROR_INVALID_HANDLE));
        EXPECT_TRUE(e.m_strFileName == u"C:\\nowhere\\x");
      } catch (...) {
        ADD_FAILURE() << "a failed close gives no file exception";
      }
      EXPECT_FALSE(closer.Wait(bad + 1000));  // no such close: nothing to wait for
    }
    for (const std::string& path : paths) EXPECT_EQ(ReadFile(path), "data");
  }
}

// A close that fails after an item's work ended is that item's result:
// given to closeFailed when there is one (and the work's own error goes),
// else the error that report receives. Other items are untouched.
TEST(ExtractionCrewTest, AFailedCloseWinsOverTheItemsOwnResult) {
  std::vector<PlannedFile> files;
  std::vector<plat::WString> names;
  for (size_t item = 0; item < 60; ++item) names.push_back(u"d/f" + plat::Utf8ToUtf16(std::to_string(item)));
  for (size_t item = 0; item < names.size(); ++item) files.push_back({item, names[item], 100});
  for (bool handled : {true, false}) {
    SCOPED_TRACE(handled ? "closeFailed given" : "no closeFailed");
    const ExtractionPlan plan = PlanExtraction(files, 3);
    std::vector<int> closeFailures(names.size(), 0);
    std::vector<std::string> reported(names.size());
    CrewTasks tasks;
    tasks.closeAside = true;
    tasks.work = [&](size_t item, Transfer& transfer) {
      ASSERT_NE(transfer.closer, nullptr);
      if (item % 3 == 0)  // a handle that cannot be closed
        transfer.closeTicket = transfer.closer->Hand(plat::kInvalidFile, names[item]);
      if (item % 2 == 0) throw std::runtime_error("work");
    };
    if (handled) {
      tasks.closeFailed = [&](size_t item, std::exception_ptr failure) {
        try {
          std::rethrow_exception(failure);
        } catch (const CFileException& e) {
          if (e.m_strFileName == names[item]) ++closeFailures[item];
        }
      };
    }
    tasks.report = [&](size_t item, std::exception_ptr error) {
      try {
        if (error) std::rethrow_exception(error);
        reported[item] = "none";
      } catch (const CFileException&) {
        reported[item] = "close";
      } catch (const std::runtime_error&) {
        reported[item] = "work";
      }
      return true;
    };
    RunCrew(plan, names.size(), 3, Transfer(), tasks);
    for (size_t item = 0; item < names.size(); ++item) {
      const bool closeFailed = item % 3 == 0;
      EXPECT_EQ(closeFailures[item], handled && closeFailed ? 1 : 0) << item;
      const char* expected = closeFailed ? (handled ? "none" : "close") : item % 2 == 0 ? "work" : "none";
      EXPECT_EQ(reported[item], expected) << item;
    }
  }
}

}  // namespace
