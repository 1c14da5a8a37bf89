// The real Setup on damaged and cut-short packages: a package whose bytes
// before the config block do not match the CRC-32 in its trailer is refused
// before anything of it is copied or loaded, with code 9, the message, its
// directory removed and a failure exit code; damage elsewhere fails as it
// always did, never with a crash. And upk4 test --package, which checks a
// package without running it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "e2e_harness.h"

namespace fs = std::filesystem;
using upktest::ShellQuote;

namespace {

const char kDamaged[] = "The package is damaged or incomplete. Download it again.\n";

class PackageCrcRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (upktest::BuildDir().empty()) GTEST_SKIP() << "UPK_BUILD_DIR is not set";
    imageLength_ = fs::file_size(e2e::Harness::Built("bin/Setup"));
    libraryLength_ = fs::file_size(e2e::Harness::Built("lib/libupk4.so"));
  }
  void Flip(const std::string& path, uint64_t at) {
    std::string bytes = upktest::ReadFile(path);
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 0x5A;
    upktest::WriteFile(path, bytes);
  }
  std::string Package() const { return upktest::ReadFile(h.Pkg("Setup")); }
  void Restore(const std::string& bytes) {
    upktest::WriteFile(h.Pkg("Setup"), bytes);
    fs::permissions(h.Pkg("Setup"), fs::perms::owner_all);
  }
  // "upk4 test --package" on the package: exit code and output.
  std::pair<int, std::string> TestPackage(const std::string& path) {
    const std::string out = h.Root("upk4-test.txt");
    const int code = upktest::RunCommand(ShellQuote(e2e::Harness::Built("bin/upk4")) +
                                         " test --package " + ShellQuote(path) + " >" +
                                         ShellQuote(out) + " 2>&1");
    return {code, upktest::ReadFile(out)};
  }
  // Setup failed cleanly: its failure status, a log, its directory gone.
  void ExpectCleanFailure(const e2e::SetupRun& run, const std::string& what) {
    EXPECT_EQ(run.exitCode, e2e::kFailedStatus) << what << run.errors << h.Log();
    EXPECT_TRUE(h.HasLog()) << what;
    EXPECT_FALSE(fs::exists(h.SysTmp("SetupTemp0"))) << what;
  }

  e2e::Harness h;
  uint64_t imageLength_ = 0, libraryLength_ = 0;
};

TEST_F(PackageCrcRunTest, DamageInEachCoveredRegionIsRefusedBeforeAnythingRuns) {
  // The CRC-32 comes from the independent builder, so Setup's reading of
  // which bytes count is checked against the documented layout.
  h.Build("--crc");
  const std::string intact = Package();
  const std::string record = h.Root("record.txt");
  struct Region {
    const char* name;
    uint64_t at;
  };
  const Region regions[] = {
      // A byte that the loader ignores (ELF identification padding): damage
      // in what it runs could crash the image before any check of ours.
      {"Setup image", 12},
      {"upk4 library", imageLength_ + libraryLength_ / 2},
      {"archive inside", imageLength_ + libraryLength_ + 100},
  };
  for (const Region& r : regions) {
    Restore(intact);
    Flip(h.Pkg("Setup"), r.at);
    fs::remove(h.SysTmp("qxi_setup.log"));
    const auto run = h.Run("/exitcode=5");
    ExpectCleanFailure(run, r.name);
    EXPECT_TRUE(std::regex_match(h.Log(), std::regex(R"(Setup-ErrorCodes: 9 \(13\), 1168 \(2\), )")))
        << r.name << h.Log();
    EXPECT_NE(run.errors.find(kDamaged), std::string::npos) << r.name << run.errors;
    // Nothing copied, so no "setup file not found" message either.
    EXPECT_EQ(run.errors.find("setup file not found"), std::string::npos) << run.errors;
    EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 1) << r.name;
  }
  Restore(intact);
  fs::remove(h.SysTmp("qxi_setup.log"));
  EXPECT_EQ(h.Run("/exitcode=5").exitCode, 5);
  EXPECT_FALSE(h.HasLog()) << h.Log();
}

TEST_F(PackageCrcRunTest, IntactAndUncheckedPackagesRunAsBefore) {
  for (const char* args : {"--crc", "", "--crc --stored"}) {
    h.Build(args);
    const auto run = h.Run("/exitcode=5");
    EXPECT_EQ(run.exitCode, 5) << args << run.errors << h.Log();
    EXPECT_FALSE(h.HasLog()) << args << h.Log();
  }
  // 0 recorded: not checked, so a byte that nothing reads differs
  // unnoticed, exactly as before.
  h.Build("");
  Flip(h.Pkg("Setup"), 12);
  EXPECT_EQ(h.Run("/exitcode=5").exitCode, 5) << h.Log();
}

TEST_F(PackageCrcRunTest, DamageAfterTheCoveredBytesFailsAsBefore) {
  // The archive beside, named by the config block, which is not covered.
  h.Build("--crc --archive data.zip --config 'x|x|data.zip'");
  const std::string intact = Package();
  ASSERT_EQ(h.Run("/exitcode=5").exitCode, 5) << h.Log();
  const uint64_t size = intact.size();
  // The config block's file name: the archive is not found.
  Flip(h.Pkg("Setup"), size - 14 - 28 - 3);
  ExpectCleanFailure(h.Run("/exitcode=5"), "config block");
  EXPECT_NE(h.Log().find("3 ("), std::string::npos) << h.Log();
  // The marker: no package.
  Restore(intact);
  Flip(h.Pkg("Setup"), size - 5);
  ExpectCleanFailure(h.Run("/exitcode=5"), "marker");
  EXPECT_NE(h.Log().find("2 ("), std::string::npos) << h.Log();
  // Every trailer byte: the program runs (a field that nothing checks) or
  // the run fails cleanly; never a crash.
  for (uint64_t at = size - 14 - 28; at < size - 14; ++at) {
    Restore(intact);
    Flip(h.Pkg("Setup"), at);
    fs::remove(h.SysTmp("qxi_setup.log"));
    const auto run = h.Run("/exitcode=5");
    const std::string what = "trailer byte " + std::to_string(at - (size - 42));
    if (run.exitCode != 5) ExpectCleanFailure(run, what);
    // The config block's length (it moves the covered bytes' end), the
    // library's start and the recorded CRC-32 always fail; a library end
    // cut by a few bytes may still load, as before.
    const uint64_t field = (at - (size - 42)) / 4;
    if (field == 0 || field == 1 || field == 5) {
      EXPECT_EQ(run.exitCode, e2e::kFailedStatus) << what;
    }
  }
}

TEST_F(PackageCrcRunTest, PackageCutShortAnywhereFailsCleanly) {
  h.Build("--crc");
  const std::string intact = Package();
  const uint64_t size = intact.size();
  // Cut inside the Setup image, the system cannot start it at all; the
  // check without running says so.
  for (const uint64_t cut : {uint64_t{1}, uint64_t{4096}, imageLength_ / 2, imageLength_ - 1}) {
    Restore(intact.substr(0, cut));
    EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 1) << cut;
  }
  const uint64_t cuts[] = {imageLength_,
                           imageLength_ + 1,
                           imageLength_ + libraryLength_ / 3,
                           imageLength_ + libraryLength_,
                           imageLength_ + libraryLength_ + 1000,
                           size - 14 - 28 - 1,
                           size - 14 - 28,
                           size - 14 - 10,
                           size - 14,
                           size - 7,
                           size - 1};
  for (const uint64_t cut : cuts) {
    Restore(intact.substr(0, cut));
    fs::remove(h.SysTmp("qxi_setup.log"));
    ExpectCleanFailure(h.Run("/exitcode=5"), "cut at " + std::to_string(cut));
    EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 1) << cut;
  }
  // A block lost inside the library, the tail kept (a download with a hole):
  // the trailer reads, the check refuses the package.
  const uint64_t hole = imageLength_ + 1000;
  Restore(intact.substr(0, hole) + intact.substr(hole + 65536));
  fs::remove(h.SysTmp("qxi_setup.log"));
  ExpectCleanFailure(h.Run("/exitcode=5"), "block lost");
  EXPECT_NE(h.Log().find("9 ("), std::string::npos) << h.Log();
}

TEST_F(PackageCrcRunTest, ArchiveBesideIsNotCoveredAndItsDamageIsStillReported) {
  const std::string upkpack = e2e::Harness::Built("bin/upkpack");
  upktest::WriteFile(h.Root("payload/readme.txt"), upktest::MakeTextLikeData(300000, 3));
  ASSERT_EQ(upktest::RunCommand(ShellQuote(upkpack) + " -q --store -o " +
                                ShellQuote(h.Pkg("Setup")) + " --archive data.zip " +
                                ShellQuote(h.Root("payload"))),
            0);
  EXPECT_EQ(h.Run("/exitcode=5").exitCode, 5) << h.Log();
  // The second stage's bytes inside the volume: the reader's own CRC-32
  // check finds the damage; the package's check has nothing to say.
  const std::string volume = upktest::ReadFile(h.Pkg("data.zip"));
  const size_t a11 = volume.find("A11");
  ASSERT_NE(a11, std::string::npos);
  Flip(h.Pkg("data.zip"), a11 + 3 + 2000);
  EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 0);
  ExpectCleanFailure(h.Run("/exitcode=5"), "damaged volume");
  EXPECT_NE(h.Log().find("3 ("), std::string::npos) << h.Log();
}

TEST_F(PackageCrcRunTest, Upk4TestPackageChecksWithoutRunning) {
  const std::string upkpack = e2e::Harness::Built("bin/upkpack");
  upktest::WriteFile(h.Root("payload/a.txt"), "a");
  ASSERT_EQ(upktest::RunCommand(ShellQuote(upkpack) + " -q -o " + ShellQuote(h.Pkg("Setup")) +
                                " " + ShellQuote(h.Root("payload"))),
            0);
  auto [code, out] = TestPackage(h.Pkg("Setup"));
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("OK "), std::string::npos) << out;
  EXPECT_NE(out.find("CRC-32 "), std::string::npos) << out;
  // Nothing ran: no temporary directory, no log.
  EXPECT_TRUE(fs::is_empty(h.SysTmp()));

  Flip(h.Pkg("Setup"), imageLength_ + 10);
  std::tie(code, out) = TestPackage(h.Pkg("Setup"));
  EXPECT_EQ(code, 1) << out;
  EXPECT_NE(out.find("FAILED "), std::string::npos) << out;

  h.Build("");  // the independent builder without --crc: 0 recorded
  std::tie(code, out) = TestPackage(h.Pkg("Setup"));
  EXPECT_EQ(code, 0) << out;
  EXPECT_NE(out.find("no CRC-32 recorded"), std::string::npos) << out;

  upktest::WriteFile(h.Root("plain"), std::string(50000, 'p'));
  EXPECT_EQ(TestPackage(h.Root("plain")).first, 1);
  EXPECT_EQ(TestPackage(h.Root("missing")).first, 1);
  EXPECT_EQ(upktest::RunCommand(ShellQuote(e2e::Harness::Built("bin/upk4")) +
                                " test --package >/dev/null 2>&1"),
            2);
  EXPECT_EQ(upktest::RunCommand(ShellQuote(e2e::Harness::Built("bin/upk4")) + " test x.zip --package " +
                                ShellQuote(h.Pkg("Setup")) + " >/dev/null 2>&1"),
            2);
}

// A Windows image's checksum and certificate-table entry, which signing
// rewrites, count as zeros in both builders' and the checker's reading.
TEST_F(PackageCrcRunTest, SigningFieldsAgreeBetweenTheBuilderAndTheCheck) {
  std::string image(8192, '\x11');
  image[0] = 'M';
  image[1] = 'Z';
  image.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
  image.replace(0x80, 4, std::string("PE\0\0", 4));
  image[0x80 + 24] = '\x0B';
  image[0x80 + 25] = '\x01';                       // PE32
  image.replace(0x80 + 24 + 92, 4, std::string("\x10\0\0\0", 4));  // 16 directories
  upktest::WriteFile(h.Root("pe-image"), image);
  ASSERT_EQ(upktest::RunCommand("python3 " + ShellQuote(e2e::Harness::Builder()) + " --setup " +
                                ShellQuote(h.Root("pe-image")) + " --upk4 " +
                                ShellQuote(e2e::Harness::Built("lib/libupk4.so")) + " --out " +
                                ShellQuote(h.Pkg("Setup")) + " --crc"),
            0);
  EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 0);
  const uint64_t checksum = 0x80 + 24 + 64, entry = 0x80 + 24 + 96 + 32;
  for (uint64_t at : {checksum, checksum + 3, entry, entry + 7}) Flip(h.Pkg("Setup"), at);
  EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 0);
  Flip(h.Pkg("Setup"), entry + 8);
  EXPECT_EQ(TestPackage(h.Pkg("Setup")).first, 1);
}

}  // namespace
