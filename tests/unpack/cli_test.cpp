// The upk4 tool's extract and test commands: output files, messages and exit
// codes.
#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include "crafted_zip.h"
#include "test_support.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

bool IsDirectory(const std::string& p) { return std::filesystem::is_directory(p); }
bool PathExists(const std::string& p) { return std::filesystem::exists(p); }

int Upk4Tool(const std::string& args, std::string* out = nullptr) {
  return RunCommand(ShellQuote(BuiltProgram("upk4")) + " " + args + " 2>&1", out);
}

TEST(Cli, ExtractExitCodesAndFiles) {
  TempDir dir;
  const std::string text = MakeTextLikeData(300000, 61);
  const std::string zip =
      MakeZipInfoZip(dir, "a.zip", {{"d/text.txt", text}}, ZipMethod::deflated, "-P pw");
  const std::string a = ShellQuote(zip), out = ShellQuote(dir.Path("out"));
  std::string log;
  EXPECT_EQ(Upk4Tool("extract " + a + " D/TEXT.TXT " + out + " --password pw --progress", &log), 0);
  EXPECT_NE(log.find("100%"), std::string::npos) << log;
  EXPECT_EQ(ReadFile(dir.Path("out/TEXT.TXT")), text);  // under the name as typed
  EXPECT_EQ(Upk4Tool("extract " + a + " d/text.txt " + out + " --as x/renamed.txt --password pw"), 0);
  EXPECT_EQ(ReadFile(dir.Path("out/renamed.txt")), text);

  EXPECT_EQ(Upk4Tool("extract " + a + " nope.txt " + out, &log), 3);
  EXPECT_NE(log.find("no entry"), std::string::npos) << log;
  EXPECT_EQ(Upk4Tool("extract " + a + " d/text.txt " + out + " --password bad", &log), 4);
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(dir.Path("none.zip")) + " x " + out), 1);
  // A path in a message is shown as the user types it, not in the core's form.
  EXPECT_EQ(Upk4Tool("list " + ShellQuote(dir.Path("none.zip")), &log), 1);
  EXPECT_NE(log.find("not found: \"" + dir.Path("none.zip") + "\""), std::string::npos) << log;
  EXPECT_EQ(Upk4Tool("extract"), 2);
  EXPECT_EQ(Upk4Tool("extract " + a + " " + out + " --as x"), 2);  // --as needs an entry
  EXPECT_EQ(Upk4Tool("extract " + a + " d/text.txt " + out + " -q"), 2);
  EXPECT_EQ(Upk4Tool("extract --help"), 0);
}

// A name asked for in other cases than the archive holds is found as Windows
// would find it, beyond ASCII; a file already in the destination under that
// name in yet other cases is taken for it and replaced.
TEST(Cli, EntriesAreFoundWithoutRegardToCaseInEveryScript) {
  TempDir dir;
  const std::string held = "\u0391\u0392\u0393\u0394/\u03A9\u03BC\u03AD\u03B3\u03B1-\u0416\u0443\u043A.txt";
  const std::string asked = "\u03B1\u03B2\u03B3\u03B4/\u03A9\u039C\u0388\u0393\u0391-\u0436\u0423\u041A.txt";
  const std::string zip = MakeZipPython(dir, "u.zip", {{held, "unicode"}}, ZipMethod::deflated);
  std::filesystem::create_directories(dir.Path("out"));
  WriteFile(dir.Path("out/\u03C9\u03BC\u03AD\u03B3\u03B1-\u0436\u0443\u043A.TXT"), "old");
  std::string log;
  ASSERT_EQ(Upk4Tool("extract " + ShellQuote(zip) + " " + ShellQuote(asked) + " " +
                         ShellQuote(dir.Path("out")), &log), 0) << log;
  // The old file was found as the same name and replaced: one file is left,
  // under the name as typed.
  EXPECT_EQ(ReadFile(dir.Path("out/\u03A9\u039C\u0388\u0393\u0391-\u0436\u0423\u041A.txt")), "unicode");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("out")),
                          std::filesystem::directory_iterator()), 1);
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(zip) + " " + ShellQuote("STRASSE") + " " +
                     ShellQuote(dir.Path("out"))), 3);
}

// A write that fails part of the way through a large entry (a file-size
// limit standing in for a full disk), in blocks written behind the decoding
// or in the last one: the extraction fails, and what reached the file is
// the entry's own beginning.
TEST(Cli, AWriteThatFailsPartWayFailsAndLeavesOnlyTheEntrysBeginning) {
  TempDir dir;
  const std::string text = MakeTextLikeData(1200000, 64);
  const std::string zip = MakeZipInfoZip(dir, "big.zip", {{"big.txt", text}}, ZipMethod::deflated);
  for (const size_t limit : {size_t{1}, size_t{300000}, size_t{700001}, text.size() - 1}) {
    const std::string out = dir.Path("out" + std::to_string(limit));
    std::string log;
    const int code = RunCommand("trap '' XFSZ; prlimit --fsize=" + std::to_string(limit) + " " +
                                    ShellQuote(BuiltProgram("upk4")) + " extract " +
                                    ShellQuote(zip) + " big.txt " + ShellQuote(out) + " 2>&1",
                                &log);
    EXPECT_NE(code, 0) << limit << ": " << log;
    if (PathExists(out + "/big.txt")) {
      const std::string left = ReadFile(out + "/big.txt");
      EXPECT_LE(left.size(), limit);
      EXPECT_TRUE(left == text.substr(0, left.size())) << limit;
    }
  }
}

TEST(Cli, ExtractAllKeepsGoingAndStaysInside) {
  TempDir dir;
  const std::string text = MakeTextLikeData(200000, 63);
  CraftedEntry metaInf = StoredEntry("META-INF/", "");  // attributes of a file
  CraftedEntry bad = DeflatedEntry("com/x/Bad.class", text.substr(0, 5000));
  bad.crc ^= 1;
  CraftedZip zip;
  zip.entries = {metaInf,
                 DeflatedEntry("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"),
                 DeflatedEntry("com/x/A.class", text),
                 bad,
                 StoredEntry("../evil.txt", "out"),
                 StoredEntry("/rooted.txt", "out"),
                 StoredEntry("com/y/", ""),
                 StoredEntry("com/x/B.class", "b")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  const std::string a = ShellQuote(dir.Path("a.zip"));
  std::string log;
  EXPECT_EQ(Upk4Tool("extract " + a + " " + ShellQuote(dir.Path("out") + "/"), &log), 5);
  EXPECT_EQ(ReadFile(dir.Path("out/META-INF/MANIFEST.MF")), "Manifest-Version: 1.0\n");
  EXPECT_TRUE(ReadFile(dir.Path("out/com/x/A.class")) == text);
  EXPECT_EQ(ReadFile(dir.Path("out/com/x/B.class")), "b");  // after the failures
  EXPECT_TRUE(IsDirectory(dir.Path("out/com/y")));
  EXPECT_FALSE(PathExists(dir.Path("evil.txt")));
  EXPECT_FALSE(PathExists("/rooted.txt"));
  for (const char* line : {"com/x/Bad.class: damaged data", "../evil.txt: refused",
                           "/rooted.txt: refused", "3 of 8 entries failed"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

  // Only damage: 4. Quiet: the failure, but no summary. An existing
  // directory as the second argument is the destination.
  zip.entries = {DeflatedEntry("ok.txt", "ok"), bad};
  WriteFile(dir.Path("b.zip"), zip.Build());
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(dir.Path("b.zip")) + " " +
                         ShellQuote(dir.Path("out")) + " -q", &log), 4);
  EXPECT_EQ(ReadFile(dir.Path("out/ok.txt")), "ok");
  EXPECT_NE(log.find("Bad.class"), std::string::npos) << log;
  EXPECT_EQ(log.find("entries"), std::string::npos) << log;

  // Everything fine: 0, a summary, and one bar over the archive that ends
  // at 100% once.
  zip.entries = {DeflatedEntry("t1.txt", text), DeflatedEntry("d/t2.txt", text)};
  WriteFile(dir.Path("c.zip"), zip.Build());
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(dir.Path("c.zip")) + " " +
                         ShellQuote(dir.Path("new") + "/") + " --progress", &log), 0);
  EXPECT_TRUE(ReadFile(dir.Path("new/d/t2.txt")) == text);
  EXPECT_NE(log.find("2 entries extracted"), std::string::npos) << log;
  EXPECT_EQ(log.find("100%"), log.rfind("100%")) << log;
  EXPECT_NE(log.find("100%"), std::string::npos) << log;
}

TEST(Cli, TestReportsEachEntryAndFailsOnDamage) {
  TempDir dir;
  CraftedZip zip;
  CraftedEntry bad = DeflatedEntry("bad.txt", MakeTextLikeData(5000, 62));
  bad.crc ^= 1;
  zip.entries = {StoredEntry("good.txt", "good"), bad, DeflatedEntry("also.txt", "fine")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  std::string log;
  EXPECT_EQ(Upk4Tool("test " + ShellQuote(dir.Path("a.zip")), &log), 1);
  EXPECT_NE(log.find("OK good.txt"), std::string::npos) << log;
  EXPECT_NE(log.find("FAILED bad.txt: CRC-32 mismatch"), std::string::npos) << log;
  // Both sums in eight upper-case hexadecimal digits, leading zeros kept.
  char sums[64];
  std::snprintf(sums, sizeof sums, "data gives CRC-32 %08X, the header %08X", bad.crc ^ 1, bad.crc);
  EXPECT_NE(log.find(sums), std::string::npos) << log;
  EXPECT_NE(log.find("OK also.txt"), std::string::npos) << log;  // goes on after a failure
  EXPECT_NE(log.find("3 entries: 2 OK, 1 failed"), std::string::npos) << log;

  const std::string enc = MakeZip7z(dir, "e.zip", {{"s.txt", "secret text"}},
                                    ZipMethod::deflated, "pw");
  EXPECT_EQ(Upk4Tool("test " + ShellQuote(enc) + " --password pw", &log), 0) << log;
  EXPECT_EQ(Upk4Tool("test " + ShellQuote(enc), &log), 1);
  EXPECT_NE(log.find("FAILED s.txt: encrypted"), std::string::npos) << log;
}

// Another user's link below DESTDIR (and our own alike): the entries that
// would pass through it are refused by name, nothing reaches its target,
// the others are extracted, and the exit code is that of other failures.
// As root the link is given to another user, as in the attacker's run.
TEST(Cli, ExtractAllNeverPassesThroughALinkBelowTheDestination) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path("private"));
  std::filesystem::create_directories(dir.Path("dest/real"));
  std::filesystem::create_directory_symlink(dir.Path("private"), dir.Path("dest/sub"));
  std::filesystem::create_directory_symlink(dir.Path("private"), dir.Path("dest/real/mine"));
  const bool foreign =
      RunCommand("chown -h 65534 " + ShellQuote(dir.Path("dest/sub")) + " 2>/dev/null") == 0;
  CraftedZip zip;
  zip.entries = {StoredEntry("sub/pwn.txt", "x"), StoredEntry("sub/deeper/pwn.txt", "x"),
                 StoredEntry("sub/", ""), StoredEntry("real/mine/pwn.txt", "x"),
                 StoredEntry("real/ok.txt", "ok"), StoredEntry("top.txt", "top")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  std::string log;
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(dir.Path("a.zip")) + " " + ShellQuote(dir.Path("dest")),
                     &log), 5) << log;
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path("private"))) << (foreign ? "foreign" : "own");
  for (const char* name : {"sub/pwn.txt", "sub/deeper/pwn.txt", "sub/", "real/mine/pwn.txt"})
    EXPECT_NE(log.find(std::string(name) + ": refused: a symbolic link below the destination"),
              std::string::npos) << name << "\n" << log;
  EXPECT_NE(log.find("4 of 6 entries failed"), std::string::npos) << log;
  EXPECT_EQ(ReadFile(dir.Path("dest/real/ok.txt")), "ok");
  EXPECT_EQ(ReadFile(dir.Path("dest/top.txt")), "top");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("dest/sub")));
}

// No name is cut: a path of 298 characters lands under its full name; a
// component longer than 255 fails alone with 206 and is named.
TEST(Cli, LongNamesAreExtractedWholeOrFailWith206) {
  TempDir dir;
  std::string deep = "deep";
  for (int i = 1; i <= 15; ++i) deep += "/directory_level_" + std::to_string(i);
  deep += "/deep_file_name.txt";
  ASSERT_GT(deep.size(), 290u);
  const std::string overlong = "x/" + std::string(256, 'n') + ".txt";
  CraftedZip zip;
  zip.entries = {StoredEntry(deep, "deep"), StoredEntry(overlong, "long"),
                 StoredEntry("after.txt", "after")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  std::string log;
  EXPECT_EQ(Upk4Tool("extract " + ShellQuote(dir.Path("a.zip")) + " " + ShellQuote(dir.Path("out/")),
                     &log), 5) << log;
  EXPECT_EQ(ReadFile(dir.Path("out/" + deep)), "deep");
  EXPECT_NE(log.find(overlong + ": refused: a component of the name is longer than 255 characters (code 206)"),
            std::string::npos) << log;
  EXPECT_EQ(ReadFile(dir.Path("out/after.txt")), "after");
  EXPECT_FALSE(PathExists(dir.Path("out/x")));
  // Nothing under a cut name anywhere.
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Path("out")))
    EXPECT_EQ(e.path().filename().string().find("directory_ledeep"), std::string::npos) << e.path();
}

}  // namespace
