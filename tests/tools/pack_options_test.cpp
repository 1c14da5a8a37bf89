#include <gtest/gtest.h>

#include "pack_error.h"
#include "platform/code_page.h"
#include "pack_options.h"
#include "payload_list.h"
#include "test_support.h"
#include "windows_target.h"

namespace {

using upkpack::PackError;
using upkpack::PackOptions;
using upkpack::ParseCommandLine;

TEST(PackOptions, ParsesTheWholeCommandLine) {
  PackOptions o;
  ASSERT_EQ(ParseCommandLine({"-o", "out", "--password=pw", "--store", "--archive", "d%d.zip",
                              "--subdir", "s", "--split", "64k", "--open-value", "4294967295",
                              "--init-value", "-7", "file", "--", "-dash"},
                             o),
            upkpack::ParseOutcome::Run);
  EXPECT_EQ(o.output, "out");
  EXPECT_EQ(o.password, "pw");
  EXPECT_TRUE(o.store);
  EXPECT_EQ(o.archiveName.value_or(""), "d%d.zip");
  EXPECT_EQ(o.splitSize, 65536u);
  EXPECT_EQ(o.openValue, -1);
  EXPECT_EQ(o.initValue, -7);
  ASSERT_EQ(o.payload.size(), 2u);
  EXPECT_EQ(o.payload[1], "-dash");
}

TEST(PackOptions, RefusesMalformedCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {"file"},                                         // no output
      {"-o", "x", "--subdir", "s"},                     // subdir without archive
      {"-o", "x", "--split", "1M"},                     // split without archive
      {"-o", "x", "--archive", "a", "--split", "0"},    // zero size
      {"-o", "x", "--archive", "a", "--split", "10q"},  // unknown unit
      {"-o", "x", "--open-value", "12x"},
      {"-o", "x", "--init-value", "99999999999"},
      {"-o", "x", "--password", ""},
      {"-o", "x", "--store=yes"},
      {"-o", "x", "--bogus"},
      {"-o"},
  };
  for (const auto& args : bad) {
    PackOptions o;
    EXPECT_THROW(ParseCommandLine(args, o), PackError) << args.back();
  }
  PackOptions o;
  EXPECT_EQ(ParseCommandLine({"--help"}, o), upkpack::ParseOutcome::Help);
}

TEST(PackOptions, DefaultsFollowTheInstallLayout) {
  PackOptions o;
  o.upk2 = "mine.so";
  upkpack::ApplyDefaultInputs(o, "/opt/upk/bin");
  EXPECT_EQ(o.setup.lexically_normal(), "/opt/upk/bin/Setup");
  EXPECT_EQ(o.upk4.lexically_normal(), "/opt/upk/lib/libupk4.so");
  EXPECT_EQ(o.upk2, "mine.so");
  EXPECT_EQ(o.qxsetup.lexically_normal(), "/opt/upk/lib/upk/QXSetup.exe");
}

TEST(PackOptions, WindowsTargetTakesTheWindowsSet) {
  PackOptions o;
  ASSERT_EQ(ParseCommandLine({"-o", "out", "--target", "windows-i686"}, o),
            upkpack::ParseOutcome::Run);
  upkpack::ApplyDefaultInputs(o, "/opt/upk/bin");
  EXPECT_EQ(o.setup.lexically_normal(), "/opt/upk/windows-i686/bin/Setup.exe");
  EXPECT_EQ(o.upk4.lexically_normal(), "/opt/upk/windows-i686/bin/upk4.dll");
  EXPECT_EQ(o.upk2.lexically_normal(), "/opt/upk/windows-i686/lib/upk/upk2.dll");
  EXPECT_EQ(o.qxsetup.lexically_normal(), "/opt/upk/windows-i686/lib/upk/QXSetup.exe");

  PackOptions w;
  ASSERT_EQ(ParseCommandLine({"-o", "out", "--target=windows-x86_64", "--windows-set", "/w64"}, w),
            upkpack::ParseOutcome::Run);
  upkpack::ApplyDefaultInputs(w, "/opt/upk/bin");
  EXPECT_EQ(w.upk4, "/w64/bin/upk4.dll");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"-o", "out", "--target", "windows-arm64"},
        std::vector<std::string>{"-o", "out", "--windows-set", "/w64"}}) {
    PackOptions p;
    EXPECT_THROW(ParseCommandLine(bad, p), PackError) << bad[2];
  }
}

// A package for one Windows target is never made of another's binaries.
TEST(PackOptions, WindowsImagesAreCheckedForTheTargetsMachine) {
  auto image = [](uint16_t machine) {
    std::string b(0x100, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    b[0x3C] = static_cast<char>(0x80);
    b.replace(0x80, 4, std::string("PE\0\0", 4));
    b[0x84] = static_cast<char>(machine & 0xFF);
    b[0x85] = static_cast<char>(machine >> 8);
    return b;
  };
  EXPECT_EQ(upkpack::PeMachine(image(upkpack::kMachineI386)), upkpack::kMachineI386);
  EXPECT_EQ(upkpack::PeMachine(image(upkpack::kMachineAmd64)), upkpack::kMachineAmd64);
  EXPECT_FALSE(upkpack::PeMachine("\x7f" "ELF and more bytes than a header needs"));
  std::string truncated = image(upkpack::kMachineI386);
  truncated[0x3C] = static_cast<char>(0xF0);  // PE header beyond the bytes
  EXPECT_FALSE(upkpack::PeMachine(truncated));

  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("i386.exe"), image(upkpack::kMachineI386));
  upktest::WriteFile(dir.Path("amd64.exe"), image(upkpack::kMachineAmd64));
  PackOptions o;
  o.target = "windows-i686";
  o.setup = o.upk4 = o.upk2 = o.qxsetup = dir.Path("i386.exe");
  EXPECT_NO_THROW(upkpack::CheckWindowsInputs(o));
  o.upk4 = dir.Path("amd64.exe");
  EXPECT_THROW(upkpack::CheckWindowsInputs(o), PackError);
  o.target.clear();  // this system's own set is not checked
  EXPECT_NO_THROW(upkpack::CheckWindowsInputs(o));
}

// Payload names for Windows: refused when Windows would read them as
// something else, a warning when they need long paths there.
TEST(PackOptions, WindowsPayloadNamesAreCheckedAndLongPathsWarned) {
  for (const char16_t* bad : {u"a.txt:stream", u"aux/x.txt", u"CON", u"trail./y.txt", u"sp /z.txt",
                              u"d/LPT1.log"}) {
    EXPECT_THROW(upkpack::CheckWindowsPayloadName(bad), PackError) << plat::Utf16ToUtf8(bad);
  }
  EXPECT_NO_THROW(upkpack::CheckWindowsPayloadName(u"docs/console.txt"));
  try {
    upkpack::CheckWindowsPayloadName(u"aux/x.txt");
  } catch (const PackError& e) {
    EXPECT_NE(std::string(e.what()).find("\"aux/x.txt\" cannot be extracted on Windows: \"aux\" is a device name"),
              std::string::npos) << e.what();
  }

  // 62 characters of run directory in front: a file reaches MAX_PATH at 198
  // characters of name, a directory (or a file's directory) 248 at 186.
  const plat::WString file197(197, u'f'), file198(198, u'f');
  EXPECT_EQ(upkpack::LongPathWarning(file197, false), "");
  EXPECT_NE(upkpack::LongPathWarning(file198, false).find("198 characters) needs long-path support"),
            std::string::npos);
  EXPECT_EQ(upkpack::LongPathWarning(plat::WString(185, u'd') + u"/", true), "");
  EXPECT_NE(upkpack::LongPathWarning(plat::WString(186, u'd') + u"/", true), "");
  EXPECT_EQ(upkpack::LongPathWarning(plat::WString(185, u'd') + u"/a.txt", false), "");
  EXPECT_NE(upkpack::LongPathWarning(plat::WString(186, u'd') + u"/a.txt", false), "");
}

TEST(PackOptions, SourceDateEpochIsPlainSecondsOrRefused) {
  EXPECT_FALSE(upkpack::ParseSourceDateEpoch(nullptr));
  EXPECT_EQ(upkpack::ParseSourceDateEpoch("0").value_or(-1), 0);
  EXPECT_EQ(upkpack::ParseSourceDateEpoch("1700000000").value_or(-1), 1700000000);
  for (const char* bad : {"", "-1", "12x", " 5", "1e9", "0x10", "99999999999999999999"}) {
    EXPECT_THROW(upkpack::ParseSourceDateEpoch(bad), PackError) << '"' << bad << '"';
  }
}

TEST(PayloadList, NamesTreesRelativelyAndRefusesCaseCollisions) {
  upktest::TempDir dir;
  upktest::WriteFile(dir.Path("tree/a.txt"), "a");
  upktest::WriteFile(dir.Path("tree/sub/b.txt"), "bb");
  upktest::WriteFile(dir.Path("single.bin"), "xyz");

  auto names = [](const std::vector<upkpack::PayloadItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) {
      out.push_back(std::string(item.name.begin(), item.name.end()));
    }
    return out;
  };
  const auto items = upkpack::CollectPayload({dir.Path("tree/"), dir.Path("single.bin")});
  EXPECT_EQ(names(items), (std::vector<std::string>{"tree/", "tree/a.txt", "tree/sub/",
                                                    "tree/sub/b.txt", "single.bin"}));
  EXPECT_EQ(items[3].size, 2u);
  EXPECT_EQ(names(upkpack::CollectPayload({dir.Path("tree/.")})),
            (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));

  EXPECT_THROW(upkpack::CollectPayload({dir.Path("missing")}), PackError);
  EXPECT_THROW(upkpack::CheckDistinctNames({u"A11", u"QXSetup.exe", u"a11"}), PackError);
  EXPECT_NO_THROW(upkpack::CheckDistinctNames({u"A11", u"QXSetup.exe", u"a12"}));
  // Names that Windows takes for one, beyond ASCII too.
  EXPECT_THROW(upkpack::CheckDistinctNames({u"\u03a9.txt", u"\u03c9.TXT"}), PackError);
  EXPECT_NO_THROW(upkpack::CheckDistinctNames({u"\u00df", u"\u1e9e"}));

  // Links inside a payload directory: refused without --dereference, taken
  // as what they point to with it; a link back into the tree never ends.
  std::filesystem::create_symlink(dir.Path("single.bin"), dir.Path("tree/file-link"));
  std::filesystem::create_directory_symlink(dir.Path("tree/sub"), dir.Path("tree/dir-link"));
  EXPECT_THROW(upkpack::CollectPayload({dir.Path("tree/.")}), PackError);
  const auto taken = upkpack::CollectPayload({dir.Path("tree/.")}, true);
  EXPECT_EQ(names(taken), (std::vector<std::string>{"a.txt", "dir-link/", "dir-link/b.txt",
                                                    "file-link", "sub/", "sub/b.txt"}));
  EXPECT_EQ(taken[3].size, 3u);
  std::filesystem::create_directory_symlink(dir.Path("tree"), dir.Path("tree/sub/loop"));
  EXPECT_THROW(upkpack::CollectPayload({dir.Path("tree/.")}, true), PackError);
}

}  // namespace
