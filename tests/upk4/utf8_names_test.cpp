// Names that the writer marked as UTF-8 (flag bit 11) beside names in the
// OEM code page: how they read, how they are looked up, and the file that
// extraction creates for them.
#include <gtest/gtest.h>
#include <functional>
#include "reader_test_util.h"
#include "zip_writers.h"

using namespace upktest;

namespace {

const std::vector<ZipInput> kInputs = {
    {"Ärger ß.txt", "umlaut"},
    {"данные/", ""},
    {"данные/файл.txt", "cyrillic"},
    {"日本語.txt", "japanese"},
    {"A11", "plain ascii"},
};

}  // namespace

TEST(Utf8NamesTest, FlaggedNamesFromRealWritersReadLookUpAndExtractUnderTheirNames) {
  TempDir dir;
  struct Writer {
    const char* what;
    std::function<std::string()> make;
  };
  const Writer writers[] = {
      {"7z", [&] { return MakeZip7z(dir, "7z.zip", kInputs, ZipMethod::deflated); }},
      {"python", [&] { return MakeZipPython(dir, "py.zip", kInputs, ZipMethod::stored); }},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.what);
    const std::string archive = w.make();
    const std::unique_ptr<Archive> readerOwner = OpenArchive(archive);
    const Archive& reader = *readerOwner;
    ASSERT_EQ(reader.EntryCount(), kInputs.size());
    for (const ZipInput& in : kInputs) {
      SCOPED_TRACE(in.name);
      plat::WString lookup = plat::Utf8ToUtf16(in.name);
      for (char16_t& c : lookup)
        if (c == u'/') c = u'\\';
      const int32_t index = reader.Find(lookup, true);
      ASSERT_GE(index, 0);
      EXPECT_EQ(reader.Find(lookup, false), index);
      const EntryRecord& e = reader.Entry(static_cast<size_t>(index));
      EXPECT_EQ(ListedName(e), in.name);
      EXPECT_EQ((e.flags & zip::kFlagUtf8Name) != 0, in.name != "A11");
    }
    // Without regard to case, as for code-page names: Latin letters fold.
    EXPECT_EQ(ListedName(reader.Entry(reader.Find(u"äRGER ß.TXT", false))), "Ärger ß.txt");
    EXPECT_EQ(reader.Find(u"äRGER ß.TXT", true), -1);

    const std::string out = dir.Path(std::string("out-") + w.what);
    const plat::WString outW = WinPath(out);
    for (uint16_t i = 0; i < kInputs.size(); ++i)
      ASSERT_TRUE(ExtractOne(reader, i, outW.c_str(), true, nullptr));
    EXPECT_EQ(ReadFile(out + "/данные/файл.txt"), "cyrillic");
    EXPECT_EQ(ReadFile(out + "/日本語.txt"), "japanese");
    EXPECT_EQ(ReadFile(out + "/Ärger ß.txt"), "umlaut");
  }
}

TEST(Utf8NamesTest, TheFlagDecidesHowTheBytesOfANameRead) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string stored;  // the name's bytes in the archive
    uint16_t flags;
    std::u16string wide;  // how it reads
  };
  const Case cases[] = {
      {"UTF-8 flagged", "\xC3\x84rger/\xD0\x94.txt", zip::kFlagUtf8Name, u"Ärger\\Д.txt"},
      // The same bytes without the flag are OEM (code page 437) bytes, as
      // every name has always been read: box drawing has no ANSI form.
      {"same bytes unflagged", "\xC3\x84rger/\xD0\x94.txt", 0, u"+ärger\\+ö.txt"},
      {"OEM umlaut unflagged", "\x8Erger.txt", 0, u"Ärger.txt"},
      // Flagged but not UTF-8: read as the code page rather than garbled.
      {"flagged but not UTF-8", "\x8Erger.txt", zip::kFlagUtf8Name, u"Ärger.txt"},
  };
  CraftedZip zip;
  for (const Case& c : cases) {
    CraftedEntry e = StoredEntry(c.stored, c.what);
    e.flags = c.flags;
    zip.entries.push_back(e);
  }
  WriteFile(dir.Path("names.zip"), zip.Build());
  const std::unique_ptr<Archive> readerOwner = OpenArchive(dir.Path("names.zip"));
  const Archive& reader = *readerOwner;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    const EntryRecord& e = reader.Entry(i);
    EXPECT_EQ(e.GetNameWide(), cases[i].wide);
    // The 8-bit name keeps the stored length, so the local header agrees.
    EXPECT_EQ(e.name.size, cases[i].stored.size());
    EXPECT_EQ(e.flags, cases[i].flags);
  }
  // Two names that read alike: the lookup finds one of them, whichever way
  // each was stored.
  const int32_t found = reader.Find(u"ärger.txt", false);
  EXPECT_TRUE(found == 2 || found == 3) << found;
  // Every entry opens: the local headers' name lengths match.
  EXPECT_NO_THROW(WalkEntries(reader));
}
