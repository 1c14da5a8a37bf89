// upkpack as users run it: the package layout, every placement of the
// archive, and that a failure leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "tools_test_util.h"

namespace {

namespace fs = std::filesystem;
using toolstest::Built;
using toolstest::ListTree;
using toolstest::ReadPackageInfo;
using toolstest::RunUpkpack;
using upktest::ReadFile;
using upktest::RunCommand;
using upktest::ShellQuote;

// unzip reports the Setup image in front of the archive as a warning (exit
// 1); what matters is that every entry tests fine.
void ExpectUnzipTests(const std::string& archive, const std::string& password = "") {
  std::string out;
  const int rc = RunCommand("unzip -P " + ShellQuote(password) + " -t " + ShellQuote(archive) + " 2>&1", &out);
  EXPECT_TRUE(rc == 0 || rc == 1) << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
}

TEST(Upkpack, PackageLayoutReadsBackAsSetupSeesIt) {
  upktest::TempDir dir;
  toolstest::MakePayload(dir.Path("payload"));
  std::string out;
  ASSERT_EQ(RunUpkpack("-q -o " + ShellQuote(dir.Path("pkg")) + " --open-value 77 " +
                           ShellQuote(dir.Path("payload")),
                       &out),
            0)
      << out;

  const std::string package = ReadFile(dir.Path("pkg"));
  const std::string setupImage = ReadFile(Built("bin/Setup"));
  const std::string library = ReadFile(Built("lib/libupk4.so"));
  const setup::PackageInfo info = ReadPackageInfo(dir.Path("pkg"));
  EXPECT_EQ(info.markerDistance, 14);
  EXPECT_EQ(info.trailer.libraryStart, static_cast<int32_t>(setupImage.size()));
  EXPECT_EQ(info.trailer.libraryEnd, static_cast<int32_t>(setupImage.size() + library.size()));
  EXPECT_EQ(package.compare(0, setupImage.size(), setupImage), 0);
  EXPECT_EQ(package.compare(setupImage.size(), library.size(), library), 0);
  EXPECT_EQ(info.trailer.packageFlags, 4);  // a plain path: nothing in it is a pattern
  EXPECT_EQ(info.trailer.openValue, 77);
  EXPECT_EQ(info.trailer.initValue, 10796611);
  EXPECT_EQ(info.config.subDir.value_or(u""), u"-");
  EXPECT_FALSE(info.config.password);
  EXPECT_FALSE(info.config.archiveName);
  EXPECT_NE(fs::status(dir.Path("pkg")).permissions() & fs::perms::owner_exec, fs::perms::none);

  ExpectUnzipTests(dir.Path("pkg"));
  std::string listing;
  RunCommand("unzip -Z1 " + ShellQuote(dir.Path("pkg")) + " 2>/dev/null", &listing);
  EXPECT_EQ(listing.rfind("A11\nQXSetup.exe\npayload/\n", 0), 0u) << listing;
  EXPECT_EQ(ListTree(dir.path()).size(), ListTree(dir.Path("payload")).size() + 2)
      << "only the package and the payload: no working files left";
}

TEST(Upkpack, EveryArchivePlacementBuildsAndReadsWithRealReaders) {
  struct Case {
    const char* options;
    std::vector<std::string> archives;  // relative to the package's directory
    std::string password;
    std::vector<std::u16string> tokens;
  };
  const std::vector<Case> cases = {
      {"--store --password 'p w'", {}, "p w", {u"-", u"p w"}},
      {"--archive data.zip", {"data.zip"}, "", {u"-", u"-", u"data.zip"}},
      {"--archive 'd 100%.zip' --subdir sub/inner --password pw",
       {"sub/inner/d 100%.zip"}, "pw", {u"sub\\inner\\", u"pw", u"d 100%.zip"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    upktest::TempDir dir;
    const auto files = toolstest::MakePayload(dir.Path("payload"));
    std::string out;
    ASSERT_EQ(RunUpkpack("-q -o " + ShellQuote(dir.Path("pkg")) + " " + c.options + " " +
                             ShellQuote(dir.Path("payload") + "/."),
                         &out),
              0)
        << out;
    const setup::PackageInfo info = ReadPackageInfo(dir.Path("pkg"));
    std::vector<std::u16string> tokens;
    for (const auto* t : {&info.config.subDir, &info.config.password, &info.config.archiveName}) {
      if (*t) tokens.push_back(**t);
    }
    EXPECT_EQ(tokens, c.tokens);
    const std::string archive = c.archives.empty() ? dir.Path("pkg") : dir.Path(c.archives[0]);
    ExpectUnzipTests(archive, c.password);
    // Python reads the payload back byte for byte.
    std::string data;
    ASSERT_EQ(RunCommand("python3 -c " +
                             ShellQuote("import sys,zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read('docs/manual.txt', pwd=sys.argv[2].encode() or None))") +
                             " " + ShellQuote(archive) + " " + ShellQuote(c.password),
                         &data),
              0);
    EXPECT_EQ(data, files[3].second);
  }
}

TEST(Upkpack, SplitPackageWritesNumberedVolumesBesideIt) {
  upktest::TempDir dir;
  toolstest::MakePayload(dir.Path("payload"));
  std::string out;
  ASSERT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) +
                           " --archive 'vol%d.zip' --subdir v --split 256k " +
                           ShellQuote(dir.Path("payload")),
                       &out),
            0)
      << out;
  const auto names = ListTree(dir.Path("v"));
  ASSERT_GE(names.size(), 3u) << out;
  for (size_t n = 1; n <= names.size(); ++n) {
    EXPECT_TRUE(upktest::FileExists(dir.Path("v/vol" + std::to_string(n) + ".zip"))) << n;
  }
  EXPECT_EQ(ReadPackageInfo(dir.Path("pkg")).config.archiveName.value_or(u""), u"vol%d.zip");
}

TEST(Upkpack, FailureLeavesNothingBehind) {
  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("pkg"), "the old package");
  // A stored payload file that carries the marker text near the package's
  // end would make Setup read the wrong trailer: caught by the read-back,
  // after archive and package have been written.
  upktest::WriteFile(dir.Path("payload/marker.txt"), std::string(">QXI") + "NST_SETUP<");
  upktest::WriteFile(dir.Path("Upk4.dll"), "would replace the loaded library");
  const auto before = ListTree(dir.path());

  std::string out;
  EXPECT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) + " --store " +
                           ShellQuote(dir.Path("payload")),
                       &out),
            1);
  EXPECT_NE(out.find("marker"), std::string::npos) << out;
  EXPECT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) +
                           " --store --archive 'v%d.zip' --split 64k --subdir new " +
                           ShellQuote(dir.Path("payload")) + " " + ShellQuote(dir.Path("nothing")),
                       &out),
            1);
  EXPECT_NE(out.find("nothing"), std::string::npos) << out;
  EXPECT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) + " --setup " +
                           ShellQuote(dir.Path("no-setup")),
                       &out),
            1);
  EXPECT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) + " " + ShellQuote(dir.Path("Upk4.dll")),
                       &out),
            1);
  EXPECT_NE(out.find("Upk4.dll"), std::string::npos) << out;
  EXPECT_EQ(RunUpkpack("-o " + ShellQuote(dir.Path("pkg")) + " --subdir x", &out), 2);

  EXPECT_EQ(ListTree(dir.path()), before);
  EXPECT_EQ(ReadFile(dir.Path("pkg")), "the old package");
}

}  // namespace
