// The built "upk4 list" against the writers' own listings, and its exit
// codes and messages.
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

struct ListRun {
  int exitCode = 0;
  std::string out, err;
};

ListRun RunTool(const TempDir& dir, const std::string& arguments) {
  ListRun run;
  const std::string errFile = dir.Path("stderr.txt");
  run.exitCode = RunCommand(ShellQuote(BuiltProgram("upk4")) + " " + arguments + " 2> " +
                                ShellQuote(errFile),
                            &run.out);
  run.err = ReadFile(errFile);
  return run;
}

// The listing's lines by name (names here hold no blanks).
std::map<std::string, ListedEntry> ParseListing(const std::string& text) {
  std::map<std::string, ListedEntry> entries;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    ListedEntry e;
    std::string method, flags, crc, date, time, attributes;
    f >> e.name >> method >> flags >> e.packedSize >> e.size >> crc >> date >> time >> attributes;
    const std::map<std::string, int> byName = {{"stored", 0}, {"deflate", 8}, {"lzma", 14}, {"zstd", 93}};
    e.method = byName.count(method) ? byName.at(method) : std::stoi(method);
    e.flags = std::stoi(flags, nullptr, 16);
    e.crc = static_cast<uint32_t>(std::stoul(crc, nullptr, 16));
    e.modified = date + " " + time;
    e.attributes = std::stoll(attributes, nullptr, 16);
    entries[e.name] = e;
  }
  return entries;
}

void ExpectSameEntries(const std::map<std::string, ListedEntry>& listed,
                       const std::vector<ListedEntry>& oracle, bool everyField) {
  ASSERT_EQ(listed.size(), oracle.size());
  for (const ListedEntry& o : oracle) {
    SCOPED_TRACE(o.name);
    auto it = listed.find(o.name);
    ASSERT_NE(it, listed.end());
    const ListedEntry& l = it->second;
    EXPECT_EQ(l.size, o.size);
    EXPECT_EQ(l.packedSize, o.packedSize);
    EXPECT_EQ(l.crc, o.crc);
    if (everyField) {
      EXPECT_EQ(l.method, o.method);
      EXPECT_EQ(l.flags, o.flags);
      EXPECT_EQ(l.attributes, o.attributes);
      EXPECT_EQ(l.modified, o.modified);
    }
  }
}

std::vector<ZipInput> Inputs() {
  return {{"top.txt", MakeTextLikeData(20000, 41)},
          {"empty", ""},
          {"dir/", ""},
          {"dir/inner.bin", MakeRandomData(5000, 42)}};
}

class ListCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(BuiltProgram("upk4"))) GTEST_SKIP() << "the upk4 tool is not built";
  }
  TempDir dir;
};

}  // namespace

TEST_F(ListCommandTest, ListingsMatchEachWriter) {
  const std::vector<ZipInput> in = Inputs();
  struct Case {
    std::string archive;
    std::vector<ListedEntry> (*oracle)(const std::string&);
    bool everyField;
  } cases[] = {
      {MakeZipPython(dir, "py.zip", in, ZipMethod::deflated), ListWithPython, true},
      {MakeZipPython(dir, "pys.zip", in, ZipMethod::stored, true), ListWithPython, true},
      {MakeZipInfoZip(dir, "iz.zip", in, ZipMethod::deflated), ListWithPython, true},
      {MakeZipInfoZipStreamed(dir, "izs.zip", in, ZipMethod::deflated), ListWithUnzip, false},
      {MakeZip7z(dir, "7z.zip", in, ZipMethod::deflated), ListWith7z, false},
      {MakeZipBsdtar(dir, "bt.zip", in, ZipMethod::stored), ListWithUnzip, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    ListRun run = RunTool(dir, "list " + ShellQuote(c.archive));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Name ", 0), 0u) << "header line first";
    ExpectSameEntries(ParseListing(run.out), c.oracle(c.archive), c.everyField);
  }
}

TEST_F(ListCommandTest, SplitArchiveByPatternAndArchiveBehindOtherData) {
  std::vector<ZipInput> inputs = Inputs();
  inputs.push_back({"big.bin", MakeRandomData(150000, 43)});
  std::vector<std::string> volumes =
      MakeSplitZipInfoZip(dir, "vol", inputs, ZipMethod::stored, "64k");
  ASSERT_GE(volumes.size(), 2u);
  // The writer's listing of the same archive joined into one file.
  const std::string first = volumes.front();
  const std::string splitDir = first.substr(0, first.rfind('/'));
  std::string joined = dir.Path("joined.zip");
  ASSERT_EQ(RunCommand("cd " + ShellQuote(splitDir) + " && cp vol1.zip j.zip && " +
                       "for n in $(seq 2 " + std::to_string(volumes.size()) +
                       "); do cp vol$n.zip j.z$(printf %02d $((n-1))); done && zip -q -s 0 j.zip --out " +
                       ShellQuote(joined)),
            0);
  ListRun run = RunTool(dir, "list " + ShellQuote(splitDir + "/vol%d.zip"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectSameEntries(ParseListing(run.out), ListWithUnzip(joined), false);

  WriteFile(dir.Path("setup.bin"), MakeRandomData(140800, 5) + ReadFile(joined));
  run = RunTool(dir, "list " + ShellQuote(dir.Path("setup.bin")));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectSameEntries(ParseListing(run.out), ListWithPython(dir.Path("setup.bin")), true);
}

TEST_F(ListCommandTest, MissingAndDamagedArchives) {
  const std::string missing = dir.Path("missing.zip");
  ListRun run = RunTool(dir, "list " + ShellQuote(missing));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.err.rfind("upk4: cannot open " + missing + ": ", 0), 0u) << run.err;
  EXPECT_GT(run.err.size(), ("upk4: cannot open " + missing + ": \n").size());

  CraftedZip zip;
  zip.entries.push_back(StoredEntry("a", "b"));
  zip.entriesTotal = 2;
  WriteFile(dir.Path("damaged.zip"), zip.Build());
  run = RunTool(dir, "list " + ShellQuote(dir.Path("damaged.zip")));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;

  WriteFile(dir.Path("text.zip"), "just some text");
  run = RunTool(dir, "list " + ShellQuote(dir.Path("text.zip")));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("end-of-central-directory"), std::string::npos) << run.err;
}

TEST_F(ListCommandTest, UsageAndHelp) {
  ListRun run = RunTool(dir, "--help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("list ARCHIVE"), std::string::npos);
  run = RunTool(dir, "list --help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("usage: upk4 list"), std::string::npos);
  run = RunTool(dir, "frobnicate x.zip");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find("usage:"), std::string::npos);
  EXPECT_EQ(RunTool(dir, "").exitCode, 2);
  EXPECT_EQ(RunTool(dir, "list").exitCode, 2);
  EXPECT_EQ(RunTool(dir, "list a.zip b.zip").exitCode, 2);
}
