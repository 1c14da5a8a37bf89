// The upk4 tool's extract and test commands: output files, messages and exit
// codes.
#include <gtest/gtest.h>
#include "crafted_zip.h"
#include "test_support.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

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
  EXPECT_EQ(Upk4Tool("extract " + a), 2);
  EXPECT_EQ(Upk4Tool("extract --help"), 0);
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
  EXPECT_NE(log.find("OK also.txt"), std::string::npos) << log;  // goes on after a failure
  EXPECT_NE(log.find("3 entries: 2 OK, 1 failed"), std::string::npos) << log;

  const std::string enc = MakeZip7z(dir, "e.zip", {{"s.txt", "secret text"}},
                                    ZipMethod::deflated, "pw");
  EXPECT_EQ(Upk4Tool("test " + ShellQuote(enc) + " --password pw", &log), 0) << log;
  EXPECT_EQ(Upk4Tool("test " + ShellQuote(enc), &log), 1);
  EXPECT_NE(log.find("FAILED s.txt: encrypted"), std::string::npos) << log;
}

}  // namespace
