// The config block's tokens must come back through Setup's own token reader
// as the subdirectory, password and archive name meant, and the archive path
// Setup forms from them (a pattern formatted with 1) must name the files
// upkpack writes.
#include <gtest/gtest.h>

#include "config_block.h"
#include "entry_names.h"
#include "framework/safe_format.h"
#include "pack_error.h"
#include "package_archive.h"
#include "platform/code_page.h"
#include "setup/package_trailer.h"

namespace {

using upkpack::BuildConfigText;
using upkpack::PackError;
using upkpack::PlaceArchive;

struct ReadBack {
  setup::PackageConfig config;
  plat::WString openName;  // the file Setup's unpacker opens
};

ReadBack ThroughSetup(const upkpack::ArchivePlacement& placement, const std::string& password) {
  const std::string text = BuildConfigText(placement, password);
  ReadBack back;
  back.config = setup::PackageConfig::FromTokens(setup::SplitConfigTokens(text));
  const plat::WString path = back.config.ArchivePath(u"\\pkg\\Setup", u"\\pkg\\");
  back.openName = upk2::OpenNameForFlags(
      path, placement.split ? upkpack::kPackageFlagsPattern : upkpack::kPackageFlagsPlain);
  return back;
}

TEST(ConfigBlock, EveryPlacementReadsBackAsMeant) {
  // Inside, without and with password: no archive name, Setup's own file.
  ReadBack inside = ThroughSetup(PlaceArchive(std::nullopt, "", false), "");
  EXPECT_FALSE(inside.config.password);
  EXPECT_EQ(inside.openName, u"\\pkg\\Setup");
  inside = ThroughSetup(PlaceArchive(std::nullopt, "", false), "pw 1");
  EXPECT_EQ(inside.config.password.value_or(u""), u"pw 1");
  EXPECT_EQ(inside.openName, u"\\pkg\\Setup");

  // Beside without password: the placeholder keeps the name in third place.
  ReadBack beside = ThroughSetup(PlaceArchive("data.zip", "", false), "");
  EXPECT_EQ(beside.config.archiveName.value_or(u""), u"data.zip");
  EXPECT_EQ(beside.openName, u"\\pkg\\data.zip");

  // Beside in a nested subdirectory, with password.
  beside = ThroughSetup(PlaceArchive("data.zip", "a/b/", false), "secret");
  EXPECT_EQ(beside.config.password.value_or(u""), u"secret");
  EXPECT_EQ(beside.openName, u"\\pkg\\a\\b\\data.zip");

  // A one-letter subdirectory still counts (it carries its backslash).
  beside = ThroughSetup(PlaceArchive("d.zip", "x", false), "");
  EXPECT_EQ(beside.openName, u"\\pkg\\x\\d.zip");
}

TEST(ConfigBlock, PercentSignsSurviveTheFormatting) {
  ReadBack back = ThroughSetup(PlaceArchive("100% %d %s.zip", "50%d", false), "");
  EXPECT_EQ(back.openName, u"\\pkg\\50%d\\100% %d %s.zip");
  // Only a split archive's file name is a pattern; its directories never.
  const plat::WString path = u"\\dl%20x\\50%d\\v%d.zip";
  EXPECT_EQ(upk2::OpenNameForFlags(path, upkpack::kPackageFlagsPattern), u"\\dl%20x\\50%d\\v1.zip");
  EXPECT_EQ(upk2::OpenNameForFlags(path, upkpack::kPackageFlagsPlain), path);

  // Split: the one %d numbers the volumes; other percent signs stay literal.
  const upkpack::ArchivePlacement split = PlaceArchive("v%%%d.zip", "", true);
  EXPECT_EQ(ThroughSetup(split, "").openName, u"\\pkg\\v%%1.zip");
  EXPECT_EQ(FormatIntegers(split.nameToken, {7}), u"v%%7.zip");
}

TEST(ConfigBlock, RefusesNamesThatCannotWork) {
  for (const char* name : {"", "a/b.zip", "a\\b.zip", "a|b.zip", "c:x.zip", ".."}) {
    EXPECT_THROW(PlaceArchive(std::string(name), "", false), PackError) << name;
  }
  EXPECT_THROW(PlaceArchive("data.zip", "", true), PackError);      // no %d
  EXPECT_THROW(PlaceArchive("d%d-%d.zip", "", true), PackError);    // two
  for (const char* dir : {"../up", "a/../../b", "/abs", "\\abs", "a|b", "c:"}) {
    EXPECT_THROW(PlaceArchive("d.zip", dir, false), PackError) << dir;
  }
  EXPECT_THROW(upkpack::CheckPassword("a|b"), PackError);
  EXPECT_THROW(upkpack::CheckPassword("caf\xc3\xa9"), PackError);  // above 127: reader refuses
  EXPECT_NO_THROW(upkpack::CheckPassword("Pass word!~"));
}

TEST(EntryNames, OemNamesReadBackAsTheNamesThatWentIn) {
  const plat::WString name = plat::Utf8ToUtf16("d\xc3\xa9j\xc3\xa0/\xc3\xbc" "ber.txt");
  const std::string bytes = upkpack::ToArchiveName(name);
  EXPECT_EQ(bytes.size(), name.size());
  EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0x82);  // é in code page 437
  EXPECT_EQ(upkpack::FromArchiveName(bytes), name);
  EXPECT_EQ(upkpack::ToArchiveName(u"a\\b"), "a/b");
  // The euro sign has an ANSI form but no OEM one; CJK has neither.
  EXPECT_THROW(upkpack::ToArchiveName(u"\u20ac.txt"), PackError);
  EXPECT_THROW(upkpack::ToArchiveName(u"\u6f22.txt"), PackError);
}

}  // namespace
