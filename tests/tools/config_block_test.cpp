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

// Plain ASCII names are stored as they are; every other name in UTF-8 with
// flag bit 11, never in an OEM code page that the installing Windows would
// read in its own (850, 866, ...). Each reads back as the name that went in.
TEST(EntryNames, NonAsciiNamesAreUtf8AndReadBackAsTheNamesThatWentIn) {
  struct Case {
    std::u16string name;
    std::string bytes;
    bool utf8;
  };
  const Case cases[] = {
      {u"plain/name.txt", "plain/name.txt", false},
      {u"a\\b", "a/b", false},
      {u"d\u00e9j\u00e0/\u00fcber.txt", "d\xc3\xa9j\xc3\xa0/\xc3\xbc" "ber.txt", true},
      {u"\u20ac.txt", "\xe2\x82\xac.txt", true},  // no OEM form at all
      {u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/\u041a\u0438\u0440.txt",
       "\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac/\xd0\x9a\xd0\xb8\xd1\x80.txt", true},
      {u"\U0001F600.txt", "\xf0\x9f\x98\x80.txt", true},
  };
  for (const Case& c : cases) {
    const upkpack::ArchiveName stored = upkpack::ToArchiveName(c.name);
    EXPECT_EQ(stored.bytes, c.bytes);
    EXPECT_EQ(stored.utf8, c.utf8);
    plat::WString back = upkpack::FromArchiveName(stored);
    for (char16_t& ch : back) if (ch == u'/') ch = u'\\';
    plat::WString expected = c.name;
    for (char16_t& ch : expected) if (ch == u'/') ch = u'\\';
    EXPECT_EQ(back, expected);
  }
  EXPECT_THROW(upkpack::ToArchiveName(std::u16string(u"a\0b", 3)), PackError);
  EXPECT_THROW(upkpack::ToArchiveName(u"half\xD800.txt"), PackError);
}

}  // namespace
