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
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("a.zip"));
  EXPECT_EQ(reader.GetEntryCount(), 0u);
  reader.Close();

  // The signature straddles the first two 1024-byte search chunks.
  zip.trailer = std::string(1026 - 22, 'x');
  WriteFile(dir.Path("b.zip"), zip.Build());
  ArchiveReader small;
  small.SetBufferSizes(0, 0, 0);
  EXPECT_EQ(small.centralDir.searchBufferSize, 1024);
  small.Open(WinPath(dir.Path("b.zip")));
  EXPECT_EQ(small.GetEntryCount(), 2u);
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
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("e.zip"));
  EXPECT_FALSE(reader.IsClosed());
  EXPECT_EQ(reader.GetEntryCount(), 0u);
  EXPECT_EQ(reader.FindEntry(u"A11"), -1);
}

TEST(EndRecordTest, ArchiveAfterOtherDataIsFoundAtItsOffsets) {
  TempDir dir;
  CraftedZip zip = TwoEntries();
  zip.prefix = MakeRandomData(140800, 9);
  zip.entries[1].afterData = DataDescriptor(zip.entries[1].crc, zip.entries[1].compressedSize,
                                            zip.entries[1].uncompressedSize, true);
  zip.entries[1].flags = zip::kFlagDataDescriptor;
  WriteFile(dir.Path("setup.bin"), zip.Build());
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("setup.bin"));
  EXPECT_EQ(reader.centralDir.bytesBeforeArchive, 140800u);
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
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("n.zip"));
  const EntryRecord& r = *reader.GetEntry(0);
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
  EXPECT_EQ(reader.centralDir.comment.size, 15u);
  EXPECT_EQ(reader.FindEntry(u"DIR\\SUB\\\u00FCBER \u00E4.TXT"), 0);
  EXPECT_EQ(reader.FindEntry(u"dir/sub/\u00FCber \u00E4.txt"), -1);
}

TEST(NameIndexTest, DuplicatesAndCase) {
  TempDir dir;
  CraftedZip zip;
  zip.entries.push_back(StoredEntry("A11", "upper"));
  zip.entries.push_back(StoredEntry("a11", "lower"));
  WriteFile(dir.Path("d.zip"), zip.Build());
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("d.zip"));
  EXPECT_EQ(reader.FindEntry(u"a11", true), 1);
  EXPECT_EQ(reader.FindEntry(u"A11", true), 0);
  EXPECT_EQ(reader.FindEntry(u"A11", false), 0);
  EXPECT_EQ(reader.FindEntry(u"a1", false), -1);

  zip.entries[1].name = "A11";
  WriteFile(dir.Path("e.zip"), zip.Build());
  ArchiveReader same;
  OpenArchive(same, dir.Path("e.zip"));
  EXPECT_EQ(same.FindEntry(u"A11"), 1) << "the later of two equal names";
}

TEST(NameIndexTest, NoCaseLookupFindsNamesThatTheCaseSensitiveOrderHides) {
  // Sorted by code unit, "A11" comes before "_x.txt" and "a.txt"; folded to
  // lower case it sorts after them, so a bisection alone steps past it.
  TempDir dir;
  CraftedZip zip;
  for (const char* name : {"QXSetup.exe", "A11", "_x.txt", "a.txt", "b.txt"})
    zip.entries.push_back(StoredEntry(name, name));
  WriteFile(dir.Path("h.zip"), zip.Build());
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("h.zip"));
  EXPECT_EQ(reader.FindEntry(u"A11", false), 1);
  EXPECT_EQ(reader.FindEntry(u"a11", false), 1);
  EXPECT_EQ(reader.FindEntry(u"qxsetup.EXE", false), 0);
  EXPECT_EQ(reader.FindEntry(u"a11", true), -1);
  EXPECT_EQ(reader.FindEntry(u"A12", false), -1);
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
  ArchiveReader reader;
  OpenArchive(reader, dir.Path("m.zip"));
  for (int i = 0; i < 5000; ++i) {
    std::snprintf(name, sizeof name, "dir%02d\\file%04d.dat", i % 37, i);
    ASSERT_EQ(reader.FindEntry(plat::W(name)), 4999 - i) << name;
  }
  // The index survives a close and is rebuilt at once on the next open.
  reader.Close();
  EXPECT_EQ(reader.FindEntry(u"DIR00\\FILE0000.DAT"), -1);
  OpenArchive(reader, dir.Path("m.zip"));
  EXPECT_EQ(reader.centralDir.nameIndex.size(), 5000u);
  reader.EnableNameIndex(false);
  EXPECT_TRUE(reader.centralDir.nameIndex.empty());
}

TEST(ArchiveObjectTest, OpenCloseAndOptions) {
  TempDir dir;
  WriteFile(dir.Path("a.zip"), TwoEntries().Build());
  WriteFile(dir.Path("b.zip"), CraftedZip().Build());
  ArchiveReader reader;
  EXPECT_TRUE(reader.IsClosed());
  EXPECT_TRUE(reader.IsClosed(ArchiveReader::archiveFile));
  reader.Close();  // closed: nothing happens
  EXPECT_TRUE(reader.SetPassword(u"before"));
  reader.SetBufferSizes(1023, 65535, 0);
  EXPECT_EQ(reader.storage.writeBufferSize, 1024u);
  EXPECT_EQ(reader.decode.readBufferSize, 65535u);
  OpenArchive(reader, dir.Path("a.zip"));
  EXPECT_EQ(reader.password.size, 0u) << "a password set before Open is forgotten";

  reader.Open(WinPath(dir.Path("b.zip")));  // already open: ignored
  EXPECT_EQ(reader.GetEntryCount(), 2u);
  reader.SetBufferSizes(2048, 2048, 2048);
  EXPECT_EQ(reader.decode.readBufferSize, 16384u) << "no option changes while open";

  EXPECT_TRUE(reader.SetPassword(u"secret"));
  EXPECT_EQ(reader.password.size, 6u);
  ASSERT_TRUE(reader.OpenEntry(0));
  EXPECT_FALSE(reader.SetPassword(u"other")) << "an entry is open";
  EXPECT_EQ(reader.password.size, 6u);
  EXPECT_EQ(reader.CloseEntry(nullptr), -1);
  EXPECT_FALSE(reader.SetPassword(u"s\u00E9cret")) << "a byte above 127";
  EXPECT_EQ(reader.password.size, 0u);
  EXPECT_TRUE(reader.SetPassword(u""));
  EXPECT_TRUE(reader.SetPassword(nullptr));

  // Errors carry the archive's path while it is open, none once closed.
  try {
    reader.RaiseError(-102);
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_szFileName, WinPath(dir.Path("a.zip")));
    EXPECT_EQ(e.m_iCause, CZipException::badCrc);
  }
  EXPECT_NO_THROW(reader.CheckInflateResult(Z_OK));
  EXPECT_NO_THROW(reader.CheckInflateResult(Z_NEED_DICT));
  EXPECT_EQ(ZipCauseOf([&] { reader.CheckInflateResult(Z_DATA_ERROR); }), CZipException::dataError);

  reader.Close();
  EXPECT_TRUE(reader.IsClosed(ArchiveReader::archiveFile));
  EXPECT_EQ(reader.GetEntryCount(), 0u);
  try {
    reader.RaiseError(-101);
  } catch (const CZipException& e) {
    EXPECT_TRUE(e.m_szFileName.empty());
  }
  OpenArchive(reader, dir.Path("b.zip"));
  EXPECT_EQ(reader.GetEntryCount(), 0u);
}

TEST(ArchiveObjectTest, CloseAfterErrorGivesTheInflaterMemoryBack) {
  CraftedZip zip = TwoEntries();
  zip.entries[1].crc ^= 1;  // a verdict would raise
  MemoryStorage storage;
  ArchiveReader reader;
  OpenInMemory(reader, storage, zip.Build());
  ASSERT_TRUE(reader.OpenEntry(1));
  std::string data(zip.entries[1].uncompressedSize / 2, '\0');
  EXPECT_EQ(reader.ReadEntry(data.data(), static_cast<uint32_t>(data.size())), data.size());
  EXPECT_NO_THROW(reader.Close(true));
  EXPECT_TRUE(reader.allocations.empty());
  EXPECT_EQ(reader.entryState, EntryState::none);
  EXPECT_TRUE(reader.IsClosed(ArchiveReader::archiveFile));
  // The archive opens again and its entries decode.
  OpenArchive(reader, "/memory/crafted.zip");
  ASSERT_TRUE(reader.OpenEntry(0));
  EXPECT_EQ(reader.ReadEntry(data.data(), 5), 5u);
  EXPECT_EQ(reader.CloseEntry(nullptr), 1);
}

TEST(ArchiveObjectTest, FailedOpenLeavesNoArchiveOpen) {
  TempDir dir;
  ArchiveReader reader;
  try {
    OpenArchive(reader, dir.Path("missing.zip"));
    FAIL() << "opened a missing file";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  }
  EXPECT_TRUE(reader.IsClosed());
  // A failed open can be followed by a good one on the same object.
  WriteFile(dir.Path("bad.zip"), "not an archive at all");
  EXPECT_EQ(ZipCauseOf([&] { OpenArchive(reader, dir.Path("bad.zip")); }),
            CZipException::cdirNotFound);
  WriteFile(dir.Path("good.zip"), TwoEntries().Build());
  OpenArchive(reader, dir.Path("good.zip"));
  EXPECT_EQ(reader.GetEntryCount(), 2u);
}

TEST(NameIndexTest, BuiltIndexEqualsOneByOneInsertion) {
  // The index is built by a sort when names are distinct and by insertion
  // otherwise; either way it must be the order of one-by-one insertion.
  std::mt19937 random(5);
  for (int round = 0; round < 30; ++round) {
    CentralDirectory built, inserted;
    const int count = 1 + static_cast<int>(random() % 300);
    const bool withDuplicates = round % 3 == 0;
    for (int i = 0; i < count; ++i) {
      auto header = std::make_unique<EntryRecord>();
      std::string name = "n" + std::to_string(random() % (withDuplicates ? 40 : 100000));
      if (random() % 2) name[0] = 'N';
      header->name.Allocate(static_cast<uint32_t>(name.size()), false);
      std::memcpy(header->name.data, name.data(), name.size());
      inserted.headers.push_back(std::make_unique<EntryRecord>(*header));
      built.headers.push_back(std::move(header));
    }
    built.BuildNameIndex();
    for (size_t i = 0; i < inserted.headers.size(); ++i)
      inserted.InsertIndexEntry(inserted.headers[i].get(), static_cast<uint16_t>(i));
    ASSERT_EQ(built.nameIndex.size(), inserted.nameIndex.size());
    for (size_t i = 0; i < built.nameIndex.size(); ++i)
      ASSERT_EQ(built.nameIndex[i].directoryIndex, inserted.nameIndex[i].directoryIndex) << round;
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
    CentralDirectory dir;
    const int count = 1 + static_cast<int>(random() % 200);
    for (int i = 0; i < count; ++i) {
      auto header = std::make_unique<EntryRecord>();
      const std::string ansi = plat::WideToAnsi(randomName());
      header->name.Allocate(static_cast<uint32_t>(ansi.size()), false);
      std::memcpy(header->name.data, ansi.data(), ansi.size());
      dir.headers.push_back(std::move(header));
    }
    dir.BuildNameIndex();
    for (int probe = 0; probe < 100; ++probe) {
      const std::u16string name = randomName();
      ASSERT_EQ(dir.FindNoCase(name), dir.FindByScanNoCase(name)) << round;
    }
    EXPECT_EQ(dir.noCaseIndex.size(), dir.headers.size()) << "built once, kept";
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
    CentralDirectory dir;
    const int count = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) {
      auto header = std::make_unique<EntryRecord>();
      const std::u16string wide = randomName();
      const bool utf8 = random() % 4 == 0;
      const std::string bytes = utf8 ? plat::Utf16ToUtf8(wide) : plat::WideToAnsi(wide);
      header->name.Allocate(static_cast<uint32_t>(bytes.size()), false);
      std::memcpy(header->name.data, bytes.data(), bytes.size());
      header->utf8Name = utf8;
      dir.headers.push_back(std::move(header));
    }
    dir.BuildNameIndex();
    for (int probe = 0; probe < 60; ++probe) {
      const std::u16string name = randomName();
      for (const bool caseSensitive : {true, false}) {
        const int32_t scanned = dir.FindByScan(name, caseSensitive);
        if (scanned == CentralDirectory::kSeveralMatch) {
          ++several;
          continue;
        }
        const int32_t at = dir.FindInIndex(name, caseSensitive);
        int32_t indexed = at >= 0 ? dir.nameIndex[static_cast<size_t>(at)].directoryIndex : -1;
        if (at < 0 && !caseSensitive) indexed = dir.FindNoCase(name);
        ASSERT_EQ(scanned, indexed) << round;
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
    CentralDirectory dir;
    std::vector<std::u16string> names;
    const int count = 1 + static_cast<int>(random() % 80);
    for (int i = 0; i < count; ++i) {
      names.push_back(RandomName(random, letters, 1, 4));
      const std::string bytes = plat::WideToAnsi(names.back());
      auto header = std::make_unique<EntryRecord>();
      header->name.Allocate(static_cast<uint32_t>(bytes.size()), false);
      std::memcpy(header->name.data, bytes.data(), bytes.size());
      dir.headers.push_back(std::move(header));
    }
    dir.BuildNameIndex();
    for (int i = 0; i < count; ++i) {
      dir.lastFound = i - 1;
      std::u16string asked = names[static_cast<size_t>(i)];
      if (random() % 3 == 0)
        for (char16_t& c : asked) c = plat::FoldCaseWide(c);
      for (const bool caseSensitive : {true, false}) {
        const int32_t following = dir.FindFollowing(asked, caseSensitive);
        if (following < 0) continue;
        const int32_t at = dir.FindInIndex(asked, caseSensitive);
        int32_t indexed = at >= 0 ? dir.nameIndex[static_cast<size_t>(at)].directoryIndex : -1;
        if (at < 0 && !caseSensitive) indexed = dir.FindNoCase(asked);
        ASSERT_EQ(following, indexed) << round << "/" << i;
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
    ArchiveReader whole, byRecord;
    byRecord.centralDir.readDirectoryWhole = false;
    OpenArchive(whole, dir.Path("w.zip"));
    OpenArchive(byRecord, dir.Path("w.zip"));
    ASSERT_FALSE(whole.centralDir.rawOffsets.empty());
    ASSERT_TRUE(byRecord.centralDir.rawOffsets.empty());
    // Lookups first, while most records of the whole directory are unmade;
    // each one scans (the index is dropped before it).
    for (int probe = 0; probe < 400; ++probe) {
      const std::u16string name = probe % 2 ? plat::AnsiToWide(randomName())
                                            : byRecord.GetEntry(random() % 300)->GetNameWide();
      const bool caseSensitive = probe % 3 == 0;
      whole.EnableNameIndex(false);
      whole.centralDir.scannedLookups = 0;
      ASSERT_EQ(whole.FindEntry(name, caseSensitive), byRecord.FindEntry(name, caseSensitive))
          << zip64 << " " << probe;
    }
    ASSERT_EQ(whole.GetEntryCount(), byRecord.GetEntryCount());
    const auto bytes = [](const ByteBlock& b) {
      return std::string(reinterpret_cast<const char*>(b.data), b.size);
    };
    for (size_t i = 0; i < whole.GetEntryCount(); ++i) {
      const EntryRecord& a = *whole.GetEntry(i);
      const EntryRecord& b = *byRecord.GetEntry(i);
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
