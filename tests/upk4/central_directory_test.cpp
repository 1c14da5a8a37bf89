// The end-record search, the directory's consistency checks, the name index
// and the archive object, on crafted archives.
#include <gtest/gtest.h>
#include <functional>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include "upk4/central_directory.h"
#include "upk4/name_index.h"
#include "upk4/password.h"
#include "reader_test_util.h"

using namespace upktest;

namespace {

// A name of shortest to shortest + spread - 1 characters drawn from letters.
template <class Text>
Text RandomName(std::mt19937& random, const Text& letters, size_t shortest, size_t spread) {
  Text name;
  for (size_t n = shortest + random() % spread; n > 0; --n)
    name += letters[random() % letters.size()];
  return name;
}

// Names given directly, as records would have them after conversion.
class NameList final : public NameSource {
 public:
  void Add(const std::string& bytes, bool utf8 = false) {
    EntryRecord record;
    record.name.Allocate(static_cast<uint32_t>(bytes.size()), false);
    if (!bytes.empty()) std::memcpy(record.name.data, bytes.data(), bytes.size());
    record.utf8Name = utf8;
    records.push_back(record);
  }
  size_t Count() const override { return records.size(); }
  plat::WString NameWide(size_t index) const override { return records[index].GetNameWide(); }
  bool NameEquals(size_t index, plat::WStringView name, bool caseSensitive) const override {
    return records[index].NameEquals(name, caseSensitive);
  }
  std::vector<EntryRecord> records;
};

}  // namespace

// The index's parts, each against the others.
struct NameIndexTestAccess {
  static void Build(NameIndex& index) { index.Enable(true); }
  static void Insert(NameIndex& index, uint16_t i) {
    if (index.m_names.size() <= i) index.m_names.resize(i + 1u);
    index.m_names[i] = index.m_directory.NameWide(i);
    index.Insert(i);
  }
  static std::vector<uint16_t> Order(const NameIndex& index) { return index.m_ordered; }
  static int32_t Scan(const NameIndex& index, plat::WStringView name, bool caseSensitive) {
    return index.FindByScan(name, caseSensitive);
  }
  static constexpr int32_t kSeveralMatch = NameIndex::kSeveralMatch;
  // What the ordered index alone gives, confirmed without regard to case.
  static int32_t Indexed(NameIndex& index, plat::WStringView name, bool caseSensitive) {
    const int32_t at = index.FindInIndex(name, caseSensitive);
    if (at >= 0) return index.m_ordered[static_cast<size_t>(at)];
    return caseSensitive ? -1 : index.FindNoCase(name);
  }
  static int32_t NoCase(NameIndex& index, plat::WStringView name) { return index.FindNoCase(name); }
  static size_t NoCaseSize(const NameIndex& index) { return index.m_noCase.size(); }
  static int32_t Following(NameIndex& index, int32_t lastFound, plat::WStringView name,
                           bool caseSensitive) {
    index.m_lastFound = lastFound;
    return index.FindFollowing(name, caseSensitive);
  }
};

namespace {

// The first name equal without regard to case, by a plain scan.
int32_t ScanNoCase(const NameList& names, plat::WStringView name) {
  for (size_t i = 0; i < names.Count(); ++i)
    if (plat::CollateWideNoCase(names.NameWide(i), name) == 0) return static_cast<int32_t>(i);
  return -1;
}

CraftedZip TwoEntries() {
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("first.txt", "hello"));
  zip.entries.push_back(DeflatedEntry("dir/second.txt", MakeTextLikeData(2000, 7)));
  return zip;
}

}  // namespace

TEST(EndRecordTest, ReachIsTheLargestCommentPlusTheRecord) {
  TempDir dir;
  CraftedZip zip = TwoEntries();
  zip.comment = std::string(65535, 'c');
  EXPECT_EQ(OpenCause(zip.Build()), 0) << "signature exactly 65557 bytes before the end";
  zip.trailer = "t";
  EXPECT_EQ(OpenCause(zip.Build()), CZipException::cdirNotFound);
}

TEST(EndRecordTest, TinyAndShortFiles) {
  TempDir dir;
  const std::string signature = Signature(zip::kEndRecordSignature);
  for (size_t size = 0; size < signature.size(); ++size)
    EXPECT_EQ(OpenCause(signature.substr(0, size)), CZipException::cdirNotFound) << "size " << size;
  // A signature with fewer than 22 bytes after it is found but cannot be read.
  EXPECT_EQ(OpenCause("junk" + signature + std::string(zip::kEndRecordSize - 5, '\0')),
            CZipException::badZipFile);
  EXPECT_EQ(OpenCause(MakeRandomData(100000, 3).replace(0, 4, signature)),
            CZipException::cdirNotFound);
}

TEST(EndRecordTest, NearestSignatureWinsAndSeamsAreSearched) {
  TempDir dir;
  CraftedZip zip = TwoEntries();
  // An empty end record after the real one hides it.
  const std::string empty =
      Signature(zip::kEndRecordSignature) + std::string(zip::kEndRecordSize - zip::kSignatureSize, '\0');
  zip.trailer = empty;
  WriteFile(dir.Path("a.zip"), zip.Build());
  EXPECT_EQ(OpenArchive(dir.Path("a.zip"))->EntryCount(), 0u);

  // The signature straddles the first two 1024-byte search chunks (a
  // smaller search size is taken as 1024).
  zip.trailer = std::string(1026 - 22, 'x');
  WriteFile(dir.Path("b.zip"), zip.Build());
  ArchiveOptions options;
  options.searchBufferSize = 0;
  EXPECT_EQ(Archive::Open(WinPath(dir.Path("b.zip")), options)->EntryCount(), 2u);
}

TEST(EndRecordTest, DirectoryFiguresThatDisagreeAreDamage) {
  const struct {
    const char* what;
    std::function<void(CraftedZip&)> damage;
  } cases[] = {
      {"size set, total 0", [](CraftedZip& z) { z.entriesTotal = 0; }},
      {"total set, size 0", [](CraftedZip& z) { z.directorySize = 0; }},
      {"directory past the end record", [](CraftedZip& z) { z.directoryOffset = 0x7FFFFFFF; }},
      // Offset plus size wraps around 32 bits to a small value.
      {"wrapping directory end",
       [](CraftedZip& z) {
         z.directoryOffset = 0xFFFFFFF0u;
         z.directorySize = 0x20;
       }},
      {"a third header read from the end record", [](CraftedZip& z) { z.entriesTotal = 3; }},
      {"comment past the end of the file", [](CraftedZip& z) { z.commentLength = 40; }},
  };
  for (const auto& c : cases) {
    CraftedZip zip = TwoEntries();
    c.damage(zip);
    EXPECT_EQ(OpenCause(zip.Build()), CZipException::badZipFile) << c.what;
  }
}

TEST(EndRecordTest, ArchiveWithoutEntries) {
  TempDir dir;
  WriteFile(dir.Path("e.zip"), CraftedZip().Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("e.zip"));
  const Archive& reader = *archive;
  EXPECT_EQ(reader.EntryCount(), 0u);
  EXPECT_EQ(reader.Find(u"A11"), -1);
}

TEST(EndRecordTest, ArchiveAfterOtherDataIsFoundAtItsOffsets) {
  TempDir dir;
  CraftedZip zip = TwoEntries();
  zip.prefix = MakeRandomData(140800, 9);
  zip.entries[1].afterData = DataDescriptor(zip.entries[1].crc, zip.entries[1].compressedSize,
                                            zip.entries[1].uncompressedSize, true);
  zip.entries[1].flags = zip::kFlagDataDescriptor;
  WriteFile(dir.Path("setup.bin"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("setup.bin"));
  const Archive& reader = *archive;
  EXPECT_EQ(reader.BytesBeforeArchive(), 140800u);
  std::vector<std::string> stored = WalkEntries(reader);
  EXPECT_EQ(stored[0], "hello");
  EXPECT_EQ(stored[1], zip.entries[1].data);
}

TEST(CentralHeaderTest, VariablePartsThatCannotBeReadWholeAreDamage) {
  TempDir dir;
  CraftedZip zip = TwoEntries();
  std::string bytes = zip.BuildAndLayout();
  // The last header's name, extra field or comment claims to run past the
  // end of the file.
  const uint32_t lastHeader = zip.endOffset - zip::kCentralHeaderSize - 14;  // "dir/second.txt"
  for (uint32_t field : {0u, 2u, 4u}) {
    field += zip::kCentralNameLengthAt;  // the name's, extra field's and comment's lengths
    std::string damaged = bytes;
    damaged[lastHeader + field] = '\xff';
    damaged[lastHeader + field + 1] = '\x7f';
    EXPECT_EQ(OpenCause(damaged), CZipException::badZipFile) << "length at " << field;
  }
  std::string wrongSignature = bytes;
  wrongSignature[lastHeader + 2] = 3;
  EXPECT_EQ(OpenCause(wrongSignature), CZipException::badZipFile);
}

TEST(CentralHeaderTest, FieldsNamesAndSeparators) {
  TempDir dir;
  CraftedZip zip;
  CraftedEntry e = StoredEntry("dir/sub/\x81" "ber \x84.txt", "data");
  e.externalAttributes = zip::kDosDirectory << 16;  // a directory bit in the upper half only
  e.extra = "XYZW";
  e.comment = "entry comment";
  e.versionMadeBy = 0x0314;
  e.dosDate = 0x5A6B;
  e.dosTime = 0x7BCD;
  zip.entries.push_back(e);
  zip.comment = "archive comment";
  WriteFile(dir.Path("n.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("n.zip"));
  const Archive& reader = *archive;
  const EntryRecord& r = reader.Entry(0);
  // OEM 0x81 (u umlaut) and 0x84 (a umlaut) become their ANSI bytes, "/"
  // becomes "\", the length stays.
  ASSERT_EQ(r.name.size, e.name.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.name.data), r.name.size),
            "dir\\sub\\\xFC" "ber \xE4.txt");
  EXPECT_EQ(r.GetNameWide(), u"dir\\sub\\\u00FCber \u00E4.txt");
  EXPECT_FALSE(r.IsDirectory());
  EXPECT_EQ(r.versionMadeBy, 0x0314);
  EXPECT_EQ(r.modificationDate, 0x5A6B);
  EXPECT_EQ(r.modificationTime, 0x7BCD);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.extraField.data), r.extraField.size), "XYZW");
  EXPECT_EQ(r.comment.size, 13u);
  EXPECT_EQ(reader.Comment().size, 15u);
  EXPECT_EQ(reader.Find(u"DIR\\SUB\\\u00FCBER \u00E4.TXT"), 0);
  EXPECT_EQ(reader.Find(u"dir/sub/\u00FCber \u00E4.txt"), -1);
}

TEST(NameIndexTest, DuplicatesAndCase) {
  TempDir dir;
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("A11", "upper"));
  zip.entries.push_back(StoredEntry("a11", "lower"));
  WriteFile(dir.Path("d.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("d.zip"));
  const Archive& reader = *archive;
  EXPECT_EQ(reader.Find(u"a11", true), 1);
  EXPECT_EQ(reader.Find(u"A11", true), 0);
  EXPECT_EQ(reader.Find(u"A11", false), 0);
  EXPECT_EQ(reader.Find(u"a1", false), -1);

  zip.entries[1].name = "A11";
  WriteFile(dir.Path("e.zip"), zip.Build());
  EXPECT_EQ(OpenArchive(dir.Path("e.zip"))->Find(u"A11"), 1) << "the later of two equal names";
}

TEST(NameIndexTest, NoCaseLookupFindsNamesThatTheCaseSensitiveOrderHides) {
  // Sorted by code unit, "A11" comes before "_x.txt" and "a.txt"; folded to
  // lower case it sorts after them, so a bisection alone steps past it.
  TempDir dir;
  CraftedZip zip;
  for (const char* name : {"QXSetup.exe", "A11", "_x.txt", "a.txt", "b.txt"})
    zip.entries.push_back(StoredEntry(name, name));
  WriteFile(dir.Path("h.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("h.zip"));
  const Archive& reader = *archive;
  EXPECT_EQ(reader.Find(u"A11", false), 1);
  EXPECT_EQ(reader.Find(u"a11", false), 1);
  EXPECT_EQ(reader.Find(u"qxsetup.EXE", false), 0);
  EXPECT_EQ(reader.Find(u"a11", true), -1);
  EXPECT_EQ(reader.Find(u"A12", false), -1);
}

TEST(NameIndexTest, ManyEntriesAreAllFound) {
  TempDir dir;
  CraftedZip zip;
  char name[32];
  for (int i = 4999; i >= 0; --i) {
    std::snprintf(name, sizeof name, "DIR%02d/FILE%04d.DAT", i % 37, i);
    zip.entries.push_back(StoredEntry(name, ""));
  }
  WriteFile(dir.Path("m.zip"), zip.Build());
  const std::unique_ptr<Archive> archive = OpenArchive(dir.Path("m.zip"));
  const Archive& reader = *archive;
  for (int i = 0; i < 5000; ++i) {
    std::snprintf(name, sizeof name, "dir%02d\\file%04d.dat", i % 37, i);
    ASSERT_EQ(reader.Find(plat::W(name)), 4999 - i) << name;
  }
  EXPECT_TRUE(reader.NameIndexEnabled());
  reader.EnableNameIndex(false);
  EXPECT_FALSE(reader.NameIndexEnabled());
  EXPECT_EQ(reader.Find(u"DIR00\\FILE0000.DAT"), 4999);
}

TEST(ArchiveObjectTest, OptionsPasswordsAndErrors) {
  TempDir dir;
  WriteFile(dir.Path("a.zip"), TwoEntries().Build());
  // Reads never smaller than 1024 bytes, whatever the options say.
  ArchiveOptions options;
  options.readBufferSize = 0;
  const std::unique_ptr<Archive> archive = Archive::Open(WinPath(dir.Path("a.zip")), options);
  EXPECT_EQ(archive->OpenEntry(1, std::nullopt)->ReadSize(), 1024u);
  EXPECT_EQ(LibraryArchiveOptions(u"x.zip").readBufferSize, 16384u);

  // Passwords: 7-bit ANSI only; empty or none is no password.
  std::optional<std::string> key;
  EXPECT_TRUE(PasswordBytes(u"secret", key));
  EXPECT_EQ(key, std::optional<std::string>("secret"));
  EXPECT_FALSE(PasswordBytes(u"s\u00E9cret", key)) << "a byte above 127";
  EXPECT_FALSE(key.has_value());
  EXPECT_TRUE(PasswordBytes(u"", key));
  EXPECT_FALSE(key.has_value());
  EXPECT_TRUE(PasswordBytes(nullptr, key));
  EXPECT_FALSE(key.has_value());

  // Errors of an entry carry the path of the volume it is read from.
  const std::unique_ptr<EntryReader> reader = archive->OpenEntry(0, std::nullopt);
  try {
    reader->RaiseError(-102, reader->Detail("x"));
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_szFileName, WinPath(dir.Path("a.zip")));
    EXPECT_EQ(e.m_iCause, CZipException::badCrc);
    EXPECT_EQ(e.m_strDetail, "entry 0: x");
  }
  EXPECT_EQ(reader->Finish(), -1) << "not read: no verdict";
}

TEST(ArchiveObjectTest, AnEntryBrokenOffLeavesTheArchiveUsable) {
  CraftedZip zip = TwoEntries();
  zip.entries[1].crc ^= 1;  // a verdict would raise
  MemoryStorage storage;
  const std::unique_ptr<Archive> archive = OpenInMemory(storage, zip.Build());
  {
    const std::unique_ptr<EntryReader> reader = archive->OpenEntry(1, std::nullopt);
    std::string data(zip.entries[1].uncompressedSize / 2, '\0');
    EXPECT_EQ(reader->Read(data.data(), static_cast<uint32_t>(data.size())), data.size());
  }  // dropped without a verdict
  int32_t verdict = 0;
  EXPECT_EQ(DecodeEntry(*archive, 0, &verdict), "hello");
  EXPECT_EQ(verdict, 1);
  EXPECT_EQ(ZipCauseOf([&] { DecodeEntry(*archive, 1); }), CZipException::badCrc);
}

TEST(ArchiveObjectTest, FailedOpenThrowsWhatWentWrong) {
  TempDir dir;
  try {
    OpenArchive(dir.Path("missing.zip"));
    FAIL() << "opened a missing file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  }
  WriteFile(dir.Path("bad.zip"), "not an archive at all");
  EXPECT_EQ(ZipCauseOf([&] { OpenArchive(dir.Path("bad.zip")); }), CZipException::cdirNotFound);
}

TEST(NameIndexTest, BuiltIndexEqualsOneByOneInsertion) {
  // The index is built by a sort when names are distinct and by insertion
  // otherwise; either way it must be the order of one-by-one insertion.
  std::mt19937 random(5);
  for (int round = 0; round < 30; ++round) {
    NameList names;
    const int count = 1 + static_cast<int>(random() % 300);
    const bool withDuplicates = round % 3 == 0;
    for (int i = 0; i < count; ++i) {
      std::string name = "n" + std::to_string(random() % (withDuplicates ? 40 : 100000));
      if (random() % 2) name[0] = 'N';
      names.Add(name);
    }
    NameIndex built(names), inserted(names);
    NameIndexTestAccess::Build(built);
    for (size_t i = 0; i < names.Count(); ++i)
      NameIndexTestAccess::Insert(inserted, static_cast<uint16_t>(i));
    ASSERT_EQ(NameIndexTestAccess::Order(built), NameIndexTestAccess::Order(inserted)) << round;
  }
}

TEST(NameIndexTest, NoCaseIndexFindsWhatTheScanFinds) {
  // Names of few letters in mixed case, with 1252 letters that fold, so that
  // many names are equal without regard to case; every lookup, present or
  // not, must give the scan's answer: the first such entry of the directory.
  std::mt19937 random(11);
  const std::u16string letters = u"aAbB_\\.\u00e9\u00c9\u00ff";
  const auto randomName = [&] { return RandomName(random, letters, 1, 4); };
  for (int round = 0; round < 40; ++round) {
    NameList names;
    const int count = 1 + static_cast<int>(random() % 200);
    for (int i = 0; i < count; ++i) names.Add(plat::WideToAnsi(randomName()));
    NameIndex index(names);
    NameIndexTestAccess::Build(index);
    for (int probe = 0; probe < 100; ++probe) {
      const std::u16string name = randomName();
      ASSERT_EQ(NameIndexTestAccess::NoCase(index, name), ScanNoCase(names, name)) << round;
    }
    EXPECT_EQ(NameIndexTestAccess::NoCaseSize(index), names.Count()) << "built once, kept";
  }
}

TEST(NameIndexTest, ScanBeforeTheIndexGivesTheIndexAnswer) {
  // Before the index is built a lookup scans; it must answer as the index
  // would, or report that several entries match. Names of few letters in
  // mixed case (with 1252 and UTF-8 names) make many of them match.
  std::mt19937 random(23);
  const std::u16string letters = u"aAbB\\.\u00e9\u00c9";
  const auto randomName = [&] { return RandomName(random, letters, 1, 3); };
  int several = 0, unique = 0;
  for (int round = 0; round < 40; ++round) {
    NameList names;
    const int count = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) {
      const std::u16string wide = randomName();
      const bool utf8 = random() % 4 == 0;
      names.Add(utf8 ? plat::Utf16ToUtf8(wide) : plat::WideToAnsi(wide), utf8);
    }
    NameIndex index(names);
    NameIndexTestAccess::Build(index);
    for (int probe = 0; probe < 60; ++probe) {
      const std::u16string name = randomName();
      for (const bool caseSensitive : {true, false}) {
        const int32_t scanned = NameIndexTestAccess::Scan(index, name, caseSensitive);
        if (scanned == NameIndexTestAccess::kSeveralMatch) {
          ++several;
          continue;
        }
        ASSERT_EQ(scanned, NameIndexTestAccess::Indexed(index, name, caseSensitive)) << round;
        unique += scanned >= 0;
      }
    }
  }
  EXPECT_GT(several, 100);
  EXPECT_GT(unique, 100);
}

TEST(NameIndexTest, TheEntryAfterTheLastFoundIsTheIndexAnswer) {
  // A lookup may take the entry after the one found last without the
  // bisection; it must be what the index gives, whatever the case of the
  // name asked for, and with names that repeat in other cases.
  std::mt19937 random(29);
  const std::u16string letters = u"aAbB.éÉ";
  int taken = 0;
  for (int round = 0; round < 40; ++round) {
    NameList names;
    std::vector<std::u16string> wide;
    const int count = 1 + static_cast<int>(random() % 80);
    for (int i = 0; i < count; ++i) {
      wide.push_back(RandomName(random, letters, 1, 4));
      names.Add(plat::WideToAnsi(wide.back()));
    }
    NameIndex index(names);
    NameIndexTestAccess::Build(index);
    for (int i = 0; i < count; ++i) {
      std::u16string asked = wide[static_cast<size_t>(i)];
      if (random() % 3 == 0)
        for (char16_t& c : asked) c = plat::FoldCaseWide(c);
      for (const bool caseSensitive : {true, false}) {
        const int32_t following = NameIndexTestAccess::Following(index, i - 1, asked, caseSensitive);
        if (following < 0) continue;
        ASSERT_EQ(following, NameIndexTestAccess::Indexed(index, asked, caseSensitive))
            << round << "/" << i;
        ++taken;
      }
    }
  }
  EXPECT_GT(taken, 200);
}

TEST(CentralHeaderTest, DirectoryReadWholeGivesWhatReadingRecordByRecordGives) {
  // Names of code-page bytes (both cases, "/", bytes above 127), some
  // flagged as UTF-8 (valid or not), extra fields and comments, in a plain
  // and a ZIP64 archive: every record, and every lookup, must be the same
  // whichever way the directory was read.
  std::mt19937 random(31);
  const std::string letters = "aAbB/\x81\x9a\xe1";
  const auto randomName = [&] { return RandomName(random, letters, 2, 6); };
  for (const bool zip64 : {false, true}) {
    TempDir dir;
    CraftedZip zip;
    zip.zip64 = zip64;
    for (int i = 0; i < 300; ++i) {
      CraftedEntry e = StoredEntry(randomName(), std::string(i % 7, 'x'));
      if (i % 5 == 0) {
        e.flags |= zip::kFlagUtf8Name;
        if (i % 10 == 0) e.name = "\xc3\xa4" + e.name;  // valid UTF-8 when the rest is ASCII
      }
      if (i % 3 == 0) e.extra = "XY" + std::string(1, static_cast<char>(i));
      if (i % 4 == 0) e.comment = "c" + std::to_string(i);
      zip.entries.push_back(e);
    }
    WriteFile(dir.Path("w.zip"), zip.Build());
    ArchiveOptions byRecordOptions;
    byRecordOptions.readDirectoryWhole = false;
    const std::unique_ptr<Archive> wholeArchive = OpenArchive(dir.Path("w.zip"));
    const std::unique_ptr<Archive> byRecordArchive =
        Archive::Open(WinPath(dir.Path("w.zip")), byRecordOptions);
    const Archive& whole = *wholeArchive;
    const Archive& byRecord = *byRecordArchive;
    ASSERT_TRUE(whole.DirectoryReadWhole());
    ASSERT_FALSE(byRecord.DirectoryReadWhole());
    // Lookups first, while most records of the whole directory are unmade;
    // each one scans (the index is dropped before it).
    for (int probe = 0; probe < 400; ++probe) {
      const std::u16string name = probe % 2 ? plat::AnsiToWide(randomName())
                                            : byRecord.Entry(random() % 300).GetNameWide();
      const bool caseSensitive = probe % 3 == 0;
      // Each lookup on a fresh archive: it scans the records, most of them
      // unmade.
      const std::unique_ptr<Archive> fresh = OpenArchive(dir.Path("w.zip"));
      ASSERT_EQ(fresh->Find(name, caseSensitive), byRecord.Find(name, caseSensitive))
          << zip64 << " " << probe;
      ASSERT_EQ(fresh->ScannedLookups(), 1u);
    }
    ASSERT_EQ(whole.EntryCount(), byRecord.EntryCount());
    const auto bytes = [](const ByteBlock& b) {
      return std::string(reinterpret_cast<const char*>(b.data), b.size);
    };
    for (size_t i = 0; i < whole.EntryCount(); ++i) {
      const EntryRecord& a = whole.Entry(i);
      const EntryRecord& b = byRecord.Entry(i);
      EXPECT_EQ(bytes(a.name), bytes(b.name)) << i;
      EXPECT_EQ(a.utf8Name, b.utf8Name) << i;
      EXPECT_EQ(bytes(a.extraField), bytes(b.extraField)) << i;
      EXPECT_EQ(bytes(a.comment), bytes(b.comment)) << i;
      EXPECT_EQ(std::tie(a.flags, a.method, a.crc32, a.compressedSize, a.uncompressedSize,
                         a.localHeaderOffset, a.diskNumberStart, a.externalAttributes),
                std::tie(b.flags, b.method, b.crc32, b.compressedSize, b.uncompressedSize,
                         b.localHeaderOffset, b.diskNumberStart, b.externalAttributes))
          << i;
    }
  }
}
