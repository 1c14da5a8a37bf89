// upk4 extract of a whole archive with several workers: the files, their
// times and modes, the messages, the summary and the exit code are those of
// one worker, whatever the archive holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <random>
#include "crafted_zip.h"
#include "test_support.h"
#include "zip_writers.h"

using namespace upktest;
namespace fs = std::filesystem;

namespace {

// What an extraction left: every path below the destination with its kind,
// mode, modification time and content, one line each, sorted. Times of the
// last hour (directories, files whose times were never set) are "now".
std::string Snapshot(const std::string& root) {
  std::vector<std::string> lines;
  if (!fs::exists(root)) return "(none)";
  const time_t recent = ::time(nullptr) - 3600;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string line = fs::relative(e.path(), root).string() + " mode=" +
                       std::to_string(st.st_mode) + " mtime=" +
                       (st.st_mtime > recent ? "now" : std::to_string(st.st_mtime));
    if (S_ISREG(st.st_mode)) {
      const std::string data = ReadFile(e.path().string());
      line += " size=" + std::to_string(data.size()) + " crc=" + std::to_string(Crc32(data));
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// The first line where two snapshots differ, for the failure message.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const size_t line = a.rfind('\n', at) == std::string::npos ? 0 : a.rfind('\n', at) + 1;
  return "\n  " + a.substr(line, a.find('\n', line) - line) + "\n  " +
         b.substr(line, b.find('\n', line) - line);
}

struct Outcome {
  int code = 0;
  std::string log, tree;
};

// upk4 extract ARCHIVE DEST/ -j N [more], DEST fresh below dir; the log
// with DEST written as "DEST". prefix runs before the tool (a limit).
Outcome Extract(const TempDir& dir, const std::string& archive, int workers,
                const std::string& more = "", const std::string& prefix = "") {
  const std::string dest = dir.Path("out-j" + std::to_string(workers));
  fs::remove_all(dest);
  Outcome o;
  o.code = RunCommand(prefix + ShellQuote(BuiltProgram("upk4")) + " extract " +
                          ShellQuote(archive) + " " + ShellQuote(dest + "/") + " -j " +
                          std::to_string(workers) + " " + more + " 2>&1",
                      &o.log);
  for (size_t at; (at = o.log.find(dest)) != std::string::npos;) o.log.replace(at, dest.size(), "DEST");
  o.tree = Snapshot(dest);
  return o;
}

// The same outcome with 1, 2 and 5 workers; returns the one of 1.
Outcome ExpectSameForEveryCount(const TempDir& dir, const std::string& archive,
                                const std::string& more = "", const std::string& prefix = "") {
  const Outcome one = Extract(dir, archive, 1, more, prefix);
  for (int workers : {2, 5}) {
    SCOPED_TRACE("-j " + std::to_string(workers));
    const Outcome many = Extract(dir, archive, workers, more, prefix);
    EXPECT_EQ(many.code, one.code);
    EXPECT_EQ(many.log, one.log);
    EXPECT_TRUE(many.tree == one.tree) << FirstDifference(one.tree, many.tree);
  }
  return one;
}

CraftedEntry Dated(CraftedEntry e, uint16_t date, uint32_t attributes = zip::kDosArchive) {
  e.dosDate = date;
  e.externalAttributes = attributes;
  return e;
}

TEST(ParallelExtract, CraftedArchivesGiveWhatOneWorkerGives) {
  const std::string text = MakeTextLikeData(3000000, 71);
  CraftedEntry badCrc = DeflatedEntry("com/x/Bad.class", text.substr(0, 5000));
  badCrc.crc ^= 1;
  // Damage in the middle of a large entry's deflate stream.
  CraftedEntry badData = DeflatedEntry("big/damaged.bin", text.substr(0, 2500000));
  badData.data[badData.data.size() / 2] ^= 0x55;
  badData.data[badData.data.size() / 2 + 1] ^= 0x55;
  CraftedEntry readOnly = StoredEntry("com/ro.txt", "read only");
  readOnly.externalAttributes = zip::kDosArchive | 1;
  CraftedEntry dirByAttributes = StoredEntry("attrdir", "");
  dirByAttributes.externalAttributes = zip::kDosDirectory;

  struct Case {
    const char* what;
    std::vector<CraftedEntry> entries;
  };
  const std::vector<Case> cases = {
      {"damaged, refused and fine entries mixed",
       {StoredEntry("META-INF/", ""), DeflatedEntry("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"),
        DeflatedEntry("com/x/A.class", text.substr(0, 200000)), badCrc,
        StoredEntry("../evil.txt", "out"), StoredEntry("/rooted.txt", "out"), badData,
        StoredEntry("com/y/", ""), DeflatedEntry("big/one.bin", text.substr(1000, 2000000)),
        readOnly, dirByAttributes, StoredEntry("com/x/B.class", "b")}},
      // Names equal without regard to case, or once "./" and doubled
      // separators are dropped, land on one file: the last in the archive
      // wins, with its own time.
      {"one file under several names",
       {Dated(StoredEntry("d/same.txt", "first"), 0x5021),
        DeflatedEntry("d/other.txt", text.substr(0, 100000)),
        Dated(DeflatedEntry("d/SAME.TXT", text.substr(0, 1500000)), 0x5121),
        Dated(StoredEntry("d//same.txt", "third"), 0x5221),
        Dated(StoredEntry("./d/Same.txt", "last"), 0x5321), badCrc}},
      // A file and a directory of one name: in archive order, whichever way.
      {"a file where a directory goes",
       {StoredEntry("x", "file first"), StoredEntry("x/y.txt", "below"), StoredEntry("z/", ""),
        StoredEntry("z", "after its directory"), StoredEntry("Q/a.txt", "a"),
        StoredEntry("q/b.txt", "b")}},
      {"nothing but refusals", {StoredEntry("../a", "x"), StoredEntry("/b", "y")}},
      {"empty archive", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    CraftedZip zip;
    zip.entries = c.entries;
    WriteFile(dir.Path("a.zip"), zip.Build());
    ExpectSameForEveryCount(dir, dir.Path("a.zip"));
  }
}

TEST(ParallelExtract, SameNamesEndWithTheLastEntryOfTheArchive) {
  TempDir dir;
  CraftedZip zip;
  zip.entries = {StoredEntry("d/a.txt", "first"), StoredEntry("d/b.txt", "b"),
                 DeflatedEntry("D/A.TXT", "second"), StoredEntry("d/a.txt", "last")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  const Outcome o = ExpectSameForEveryCount(dir, dir.Path("a.zip"));
  EXPECT_EQ(o.code, 0) << o.log;
  EXPECT_EQ(ReadFile(dir.Path("out-j1/d/a.txt")), "last");
}

TEST(ParallelExtract, EncryptedEntriesWithRightWrongAndNoPassword) {
  TempDir dir;
  std::vector<ZipInput> inputs = {{"d/", ""}};
  for (int i = 0; i < 12; ++i)
    inputs.push_back({"d/f" + std::to_string(i) + ".txt", MakeTextLikeData(20000 + 90000 * i, i)});
  inputs.push_back({"sub/deeper/x.txt", "no directory entries above it"});
  const std::string zip = MakeZipInfoZip(dir, "enc.zip", inputs, ZipMethod::deflated, "-P secret");
  for (const char* more : {"--password secret", "--password wrong", ""}) {
    SCOPED_TRACE(more);
    const Outcome o = ExpectSameForEveryCount(dir, zip, more);
    const bool right = std::string(more) == "--password secret";
    EXPECT_EQ(o.code, right ? 0 : 4) << o.log;
    // An entry refused before its file is made makes no directory either.
    EXPECT_EQ(fs::exists(dir.Path("out-j5/sub")), right);
  }
  EXPECT_EQ(Extract(dir, zip, 3, "--password secret").code, 0);
  EXPECT_TRUE(ReadFile(dir.Path("out-j3/d/f11.txt")) == inputs[12].data);
}

// A full disk stands in as a file-size limit: each entry larger than it
// fails on its own, reported as with one worker, and the others are written.
TEST(ParallelExtract, AWriteFailureIsReportedForEachEntryItHits) {
  TempDir dir;
  std::vector<ZipInput> inputs;
  for (int i = 0; i < 10; ++i)
    inputs.push_back({"w/f" + std::to_string(i), MakeTextLikeData(i % 3 == 0 ? 400000 : 30000, i)});
  const std::string zip = MakeZipInfoZip(dir, "w.zip", inputs, ZipMethod::deflated);
  const Outcome o = ExpectSameForEveryCount(dir, zip, "", "trap '' XFSZ; prlimit --fsize=200000 ");
  EXPECT_EQ(o.code, 5) << o.log;
  EXPECT_NE(o.log.find("4 of 10 entries failed"), std::string::npos) << o.log;
  EXPECT_EQ(ReadFile(dir.Path("out-j5/w/f1")), inputs[1].data);
}

// Random archives: a few directories spelled alike or not, names that
// repeat, sizes from nothing to a few large entries, both methods, damaged
// CRCs, times and read-only attributes.
TEST(ParallelExtract, RandomArchivesGiveWhatOneWorkerGives) {
  const std::string text = MakeTextLikeData(1500000, 5);
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    const std::vector<std::string> dirs = {"", "a/", "b/", "a/c/", "deep/er/still/"};
    const std::vector<std::string> files = {"f1", "f2", "f3", "F1", "g.txt", "h", "i", "j"};
    CraftedZip zip;
    for (size_t n = 20 + pick(40); n > 0; --n) {
      const std::string name = dirs[pick(dirs.size())] + files[pick(files.size())] +
                               std::to_string(pick(4));
      const size_t size = pick(10) == 0 ? 300000 + pick(1000000) : pick(3000);
      const std::string data = text.substr(pick(text.size() - size), size);
      CraftedEntry e = pick(2) ? DeflatedEntry(name, data) : StoredEntry(name, data);
      if (pick(12) == 0) e.crc ^= 0x100;
      e.dosDate = static_cast<uint16_t>(0x4000 + pick(0x1000));
      if (pick(8) == 0) e.externalAttributes |= 1;  // read-only
      zip.entries.push_back(e);
    }
    if (seed % 2 == 0) zip.entries.insert(zip.entries.begin() + pick(zip.entries.size()), StoredEntry("a/", ""));
    if (seed == 5) zip.entries.push_back(StoredEntry("A/late.txt", "a directory spelled anew"));
    TempDir dir;
    WriteFile(dir.Path("r.zip"), zip.Build());
    ExpectSameForEveryCount(dir, dir.Path("r.zip"));
  }
}

// Many tiny entries in few directories: every one is written, whole.
TEST(ParallelExtract, ManyTinyEntriesInFewDirectories) {
  TempDir dir;
  CraftedZip zip;
  for (int i = 0; i < 6000; ++i) {
    const std::string name = "dir" + std::to_string(i % 3) + "/e" + std::to_string(i);
    zip.entries.push_back(i % 2 ? StoredEntry(name, std::to_string(i)) : DeflatedEntry(name, std::to_string(i)));
  }
  WriteFile(dir.Path("tiny.zip"), zip.Build());
  const Outcome many = Extract(dir, dir.Path("tiny.zip"), 8);
  EXPECT_EQ(many.code, 0) << many.log;
  EXPECT_NE(many.log.find("6000 entries extracted"), std::string::npos) << many.log;
  for (int i = 0; i < 6000; i += 7)
    ASSERT_EQ(ReadFile(dir.Path("out-j8/dir" + std::to_string(i % 3) + "/e" + std::to_string(i))),
              std::to_string(i));
  const std::string one = Extract(dir, dir.Path("tiny.zip"), 1).tree;
  EXPECT_TRUE(one == many.tree) << FirstDifference(one, many.tree);
}

TEST(ParallelExtract, WorkerCountsOutsideOneTo64AreBadUsage) {
  TempDir dir;
  CraftedZip zip;
  zip.entries = {StoredEntry("a", "a")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  const std::string a = ShellQuote(dir.Path("a.zip")) + " " + ShellQuote(dir.Path("o") + "/");
  const std::string tool = ShellQuote(BuiltProgram("upk4")) + " extract ";
  for (const char* bad : {"-j 0", "-j 65", "-j x", "-j", "-j -1", "-j1 a"})
    EXPECT_EQ(RunCommand(tool + a + " " + bad + " 2>/dev/null"), 2) << bad;
  EXPECT_EQ(RunCommand(tool + a + " -j64 -q"), 0);
  EXPECT_EQ(RunCommand(tool + ShellQuote(dir.Path("a.zip")) + " a " + ShellQuote(dir.Path("p")) +
                       " -j 2 2>/dev/null"),
            2);  // one entry: no workers to count
}

}  // namespace
