// The reference second stage loaded the way Setup loads it: UPKInit extracts
// a package's payload into the temporary directory and nothing outside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "crafted_zip.h"
#include "package_writer.h"
#include "payload_extractor.h"
#include "platform/code_page.h"
#include "platform/library.h"
#include "setup/upk2_interface.h"
#include "tools_test_util.h"

namespace {

namespace fs = std::filesystem;
using toolstest::Built;
using toolstest::ListTree;
using toolstest::WinPath;
using upktest::ReadFile;
using upktest::RunCommand;
using upktest::ShellQuote;

class SecondStage {
 public:
  SecondStage() {
    m_library = plat::LoadLibrary(WinPath(Built("lib/upk/upk2.so")));
    if (m_library == nullptr) return;
    init = reinterpret_cast<UPKInit_t>(plat::GetProcAddress(m_library, "UPKInit"));
    errors = reinterpret_cast<UPKInitGetErrors_t>(plat::GetProcAddress(m_library, "UPKInitGetErrors"));
    exit = reinterpret_cast<UPKExit_t>(plat::GetProcAddress(m_library, "UPKExit"));
  }
  ~SecondStage() {
    if (m_library != nullptr) plat::FreeLibrary(m_library);
  }
  bool Loaded() const {
    if (m_library == nullptr) return false;
    for (const char* name : kUpk2EntryNames) {
      if (plat::GetProcAddress(m_library, name) == nullptr) return false;
    }
    return true;
  }
  // UPKInit as Setup calls it: Windows-form paths, the temp directory with
  // its trailing backslash.
  int32_t Init(const std::string& package, const std::string& tempDir) {
    const plat::WString setupPath = WinPath(package);
    const plat::WString temp = WinPath(tempDir) + u"\\";
    return init(setupPath.c_str(), temp.c_str(), 0, 10796611, 0);
  }
  std::string Errors() const { return errors() ? errors() : ""; }

  UPKInit_t init = nullptr;
  UPKInitGetErrors_t errors = nullptr;
  UPKExit_t exit = nullptr;

 private:
  plat::LibraryHandle m_library = nullptr;
};

TEST(SecondStage, ExportsExactlyTheFiveEntryPoints) {
  std::string symbols;
  ASSERT_EQ(RunCommand("nm -D --defined-only " + ShellQuote(Built("lib/upk/upk2.so")) +
                           " | awk '$2 == \"T\" {print $3}' | sort",
                       &symbols),
            0);
  EXPECT_EQ(symbols, "UPKExit\nUPKExpand\nUPKInit\nUPKInit3\nUPKInitGetErrors\n");
}

TEST(SecondStage, ExtractsThePayloadOfEveryPlacement) {
  SecondStage upk2;
  ASSERT_TRUE(upk2.Loaded());
  for (const char* options :
       {"", "--password pw", "--archive 'd%%.zip' --subdir 'a b'", "--archive 'v%d.zip' --split 64k --password pw"}) {
    SCOPED_TRACE(options);
    upktest::TempDir dir;
    const auto files = toolstest::MakePayload(dir.Path("payload"));
    std::string out;
    ASSERT_EQ(toolstest::RunUpkpack("-q -o " + ShellQuote(dir.Path("pkg")) + " " + options + " " +
                                        ShellQuote(dir.Path("payload")),
                                    &out),
              0)
        << out;
    fs::create_directory(dir.Path("temp"));
    ASSERT_EQ(upk2.Init(dir.Path("pkg"), dir.Path("temp")), 1) << upk2.Errors();
    EXPECT_EQ(upk2.Errors(), "");
    for (const auto& [name, data] : files) {
      EXPECT_EQ(ReadFile(dir.Path("temp/payload/" + name)), data) << name;
    }
    EXPECT_FALSE(upktest::FileExists(dir.Path("temp/A11")));
    EXPECT_EQ(ReadFile(dir.Path("temp/QXSetup.exe")), ReadFile(Built("lib/upk/QXSetup.exe")));
    EXPECT_NE(fs::status(dir.Path("temp/QXSetup.exe")).permissions() & fs::perms::owner_exec,
              fs::perms::none);
    upk2.exit();
  }
}

TEST(SecondStage, ReportsWhatFailed) {
  SecondStage upk2;
  ASSERT_TRUE(upk2.Loaded());
  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("not-a-package"), "just bytes");
  fs::create_directory(dir.Path("temp"));
  EXPECT_EQ(upk2.Init(dir.Path("not-a-package"), dir.Path("temp")), 0);
  EXPECT_NE(upk2.Errors().find("marker"), std::string::npos) << upk2.Errors();

  // The archive beside the package is gone.
  std::string out;
  ASSERT_EQ(toolstest::RunUpkpack("-q -o " + ShellQuote(dir.Path("pkg")) + " --archive gone.zip", &out), 0)
      << out;
  fs::remove(dir.Path("gone.zip"));
  EXPECT_EQ(upk2.Init(dir.Path("pkg"), dir.Path("temp")), 0);
  EXPECT_NE(upk2.Errors().find("gone.zip"), std::string::npos) << upk2.Errors();
  upk2.exit();
  EXPECT_EQ(upk2.Errors(), "");
}

TEST(SecondStage, RefusesEntriesThatLeaveTheTemporaryDirectoryOrReplaceSetupsFiles) {
  SecondStage upk2;
  ASSERT_TRUE(upk2.Loaded());
  // The last two would overwrite the loaded second stage and the hand-off
  // file in place.
  for (const char* evil : {"../evil.txt", "a/../../evil.txt", "/tmp/evil.txt", "C:evil.txt",
                           "sub\\..\\..\\evil.txt", ".. /evil.txt", "UPK2.DLL", "./qx.tmp"}) {
    SCOPED_TRACE(evil);
    upktest::TempDir dir;
    // An archive beside a hand-made package, written by Python's zipfile,
    // which stores names as given.
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "z.writestr(zipfile.ZipInfo('A11'), b'stage')\n"
        "z.writestr(zipfile.ZipInfo('QXSetup.exe'), b'program')\n"
        "z.writestr(zipfile.ZipInfo(sys.argv[2]), b'evil')\n"
        "z.close()\n";
    upktest::WriteFile(dir.Path("make.py"), script);
    fs::create_directories(dir.Path("pkgdir/temp"));
    ASSERT_EQ(RunCommand("python3 " + ShellQuote(dir.Path("make.py")) + " " +
                         ShellQuote(dir.Path("pkgdir/evil.zip")) + " " + ShellQuote(evil)),
              0);
    upkpack::PackageParts parts;
    parts.setup = Built("bin/Setup");
    parts.upk4 = Built("lib/libupk4.so");
    parts.configText = "-|-|evil.zip";
    upkpack::WritePackage(dir.Path("pkgdir/Setup"), parts);

    EXPECT_EQ(upk2.Init(dir.Path("pkgdir/Setup"), dir.Path("pkgdir/temp")), 0);
    std::string shown = evil;  // as the reader presents names
    std::replace(shown.begin(), shown.end(), '/', '\\');
    EXPECT_NE(upk2.Errors().find(shown), std::string::npos) << upk2.Errors();
    EXPECT_EQ(ListTree(dir.Path("pkgdir/temp")), std::vector<std::string>{});
    EXPECT_EQ(ListTree(dir.Path("pkgdir")),
              (std::vector<std::string>{"Setup", "evil.zip", "temp/"}));
    EXPECT_FALSE(upktest::FileExists("/tmp/evil.txt"));
  }
}

// The payload's files are extracted by several workers; the failure
// reported is the first in archive order, whichever worker met it first, and
// every entry before it is extracted.
TEST(SecondStage, ReportsTheFirstDamagedEntryInArchiveOrder) {
  SecondStage upk2;
  ASSERT_TRUE(upk2.Loaded());
  upktest::TempDir dir;
  const std::string text = upktest::MakeTextLikeData(6000000, 9);
  upktest::CraftedEntry early = upktest::DeflatedEntry("data/early.bin", text);
  early.data[early.data.size() - 1000] ^= 0x5A;  // found only near its end
  upktest::CraftedEntry late = upktest::StoredEntry("data/z/late.txt", "late");
  late.crc ^= 1;
  upktest::CraftedZip zip;
  zip.entries = {upktest::StoredEntry("A11", "stage"), upktest::StoredEntry("QXSetup.exe", "program")};
  for (int i = 0; i < 20; ++i)
    zip.entries.push_back(upktest::StoredEntry("data/a/f" + std::to_string(i), std::to_string(i)));
  zip.entries.push_back(early);
  for (int i = 0; i < 60; ++i)
    zip.entries.push_back(upktest::DeflatedEntry("data/b/g" + std::to_string(i), text.substr(i, 5000)));
  zip.entries.push_back(late);
  fs::create_directories(dir.Path("pkgdir/temp"));
  upktest::WriteFile(dir.Path("pkgdir/p.zip"), zip.Build());
  upkpack::PackageParts parts;
  parts.setup = Built("bin/Setup");
  parts.upk4 = Built("lib/libupk4.so");
  parts.configText = "-|-|p.zip";
  upkpack::WritePackage(dir.Path("pkgdir/Setup"), parts);

  EXPECT_EQ(upk2.Init(dir.Path("pkgdir/Setup"), dir.Path("pkgdir/temp")), 0);
  // The reader names the entry by its number: early.bin is 22, late.txt 83.
  EXPECT_NE(upk2.Errors().find("entry 22:"), std::string::npos) << upk2.Errors();
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(ReadFile(dir.Path("pkgdir/temp/data/a/f" + std::to_string(i))), std::to_string(i));
  upk2.exit();
}

TEST(SecondStage, EntryNameSafety) {
  for (const char16_t* safe : {u"a.txt", u"dir\\sub\\b", u"dir/", u".\\x", u"..a", u"a..", u"x\\.hidden"}) {
    EXPECT_TRUE(upk2::IsSafeEntryName(safe)) << plat::Utf16ToUtf8(safe);
  }
  for (const char16_t* unsafe : {u"", u"..", u"..\\x", u"a\\..", u"\\abs", u"/abs", u"C:x",
                                 u"a\\...\\b", u"a\\.. \\b", u"file:stream"}) {
    EXPECT_FALSE(upk2::IsSafeEntryName(unsafe)) << plat::Utf16ToUtf8(unsafe);
  }
  EXPECT_TRUE(upk2::IsSecondStageEntry(u"a11"));
  EXPECT_FALSE(upk2::IsSecondStageEntry(u"A11.dll"));
}

}  // namespace
