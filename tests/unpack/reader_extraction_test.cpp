// Extraction into a destination directory: where files land, which names are
// refused, directory entries, chunking, progress and cancellation.
#include <gtest/gtest.h>
#include <filesystem>
#include <vector>
#include "crafted_zip.h"
#include "test_support.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"

using namespace upktest;
namespace fs = std::filesystem;

namespace {

class Extraction : public ::testing::Test {
 protected:
  void OpenWith(std::vector<CraftedEntry> entries) {
    CraftedZip zip;
    zip.entries = std::move(entries);
    const std::string path = dir.Path("work/a.zip");
    WriteFile(path, zip.Build());
    archive = Archive::Open(upktest::WinPath(path), ArchiveOptions());
    fs::create_directories(out);
  }
  bool Extract(uint16_t index, bool fullPath, const char16_t* newName = nullptr,
               ExtractProgressCallback callback = nullptr, void* user = nullptr,
               uint32_t bufferSize = 65535, const char16_t* destination = nullptr,
               ExtractOutcome* outcome = nullptr) {
    Transfer transfer;
    transfer.chunkSize = bufferSize;
    return ExtractEntry(*archive, index, std::nullopt, destination ? destination : destW.c_str(),
                        fullPath, newName, callback, user, transfer, outcome);
  }
  // Every path below the test's directory, relative to it.
  std::vector<std::string> Tree() const {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
      paths.push_back(fs::relative(e.path(), dir.path()).string());
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  TempDir dir;
  const std::string out = dir.Path("work/out");
  const plat::WString destW = upktest::WinPath(out);
  std::unique_ptr<Archive> archive;
};

TEST_F(Extraction, NamesThatWouldLeaveTheDestinationAreRefused) {
  const std::vector<std::string> names = {"../x",  "/abs", "C:x", "a/../../x",
                                          "..",    "a/..", "",    "//server/share/y"};
  std::vector<CraftedEntry> entries;
  for (const std::string& n : names) entries.push_back(StoredEntry(n, "evil"));
  OpenWith(entries);
  const std::vector<std::string> before = Tree();
  for (uint16_t i = 0; i < names.size(); ++i) {
    plat::SetLastError(0);
    EXPECT_FALSE(Extract(i, true)) << names[i];
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_NAME) << names[i];
  }
  EXPECT_EQ(Tree(), before);
  EXPECT_FALSE(fs::exists("/abs"));

  // Without full path only the file name is used: what names a file lands
  // inside, the rest is refused.
  for (uint16_t i = 0; i < names.size(); ++i) {
    const bool named = names[i] != ".." && names[i] != "a/.." && !names[i].empty();
    EXPECT_EQ(Extract(i, false), named) << names[i];
  }
  EXPECT_EQ(ReadFile(out + "/x"), "evil");
  EXPECT_EQ(ReadFile(out + "/abs"), "evil");
  EXPECT_EQ(ReadFile(out + "/y"), "evil");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() + "/work"), fs::directory_iterator()),
            2);  // a.zip and out, nothing beside them
  // A new name cannot lead elsewhere either.
  EXPECT_FALSE(Extract(0, false, u"..\\"));
  EXPECT_FALSE(Extract(0, true, u"sub\\..\\..\\z"));
}

TEST_F(Extraction, FileLandsByFullPathOrByNameAlone) {
  OpenWith({StoredEntry("a/b/c.txt", "deep")});
  ASSERT_TRUE(Extract(0, true));
  EXPECT_EQ(ReadFile(out + "/a/b/c.txt"), "deep");
  ASSERT_TRUE(Extract(0, false));
  EXPECT_EQ(ReadFile(out + "/c.txt"), "deep");
  // A new name pointing elsewhere, and a destination with a trailing "\".
  const plat::WString slashed = destW + u"\\";
  ASSERT_TRUE(Extract(0, false, u"..\\elsewhere\\new.dat", nullptr, nullptr, 65535,
                      slashed.c_str()));
  EXPECT_EQ(ReadFile(out + "/new.dat"), "deep");
  EXPECT_FALSE(fs::exists(dir.Path("work/elsewhere")));
}

TEST_F(Extraction, DirectoryEntryCreatesItsChainWithoutOpening) {
  CraftedEntry d = StoredEntry("d1/d2/d3/", "");
  d.externalAttributes = zip::kDosDirectory;
  OpenWith({d});
  EXPECT_TRUE(Extract(0, true));
  EXPECT_TRUE(fs::is_directory(out + "/d1/d2/d3"));
}

// Records each written count; stops after stopAfter calls.
struct Recorder {
  std::vector<uint64_t> written;
  size_t stopAfter = SIZE_MAX;
  static bool Callback(uint64_t, uint64_t done, void* user) {
    auto* self = static_cast<Recorder*>(user);
    self->written.push_back(done);
    return self->written.size() < self->stopAfter;
  }
};

TEST_F(Extraction, ChunksReportProgressAndACancelKeepsOneChunk) {
  const std::string data = MakeRandomData(3000, 7);
  OpenWith({DeflatedEntry("big.bin", data), StoredEntry("small.bin", "tiny")});
  Recorder all;
  ASSERT_TRUE(Extract(0, false, nullptr, Recorder::Callback, &all, 1024));
  EXPECT_EQ(all.written, (std::vector<uint64_t>{1024, 2048, 3000}));
  EXPECT_EQ(ReadFile(out + "/big.bin"), data);

  Recorder cancel;
  cancel.stopAfter = 1;
  EXPECT_FALSE(Extract(0, false, nullptr, Recorder::Callback, &cancel, 1024));
  EXPECT_EQ(ReadFile(out + "/big.bin"), data.substr(0, 1024));

  // An entry that fits one chunk is done before the answer matters.
  Recorder late;
  late.stopAfter = 1;
  EXPECT_TRUE(Extract(1, false, nullptr, Recorder::Callback, &late, 1024));
  EXPECT_EQ(ReadFile(out + "/small.bin"), "tiny");
}

// Stops after the first chunk.
bool StopAtOnce(uint64_t, uint64_t, void*) { return false; }

TEST_F(Extraction, EveryEndWithoutAnErrorNamesItsOutcome) {
  CraftedEntry encrypted = StoredEntry("locked", std::string(20, 'x'));
  encrypted.flags = zip::kFlagEncrypted;
  CraftedEntry directory = StoredEntry("dir/", "");
  directory.externalAttributes = zip::kDosDirectory;
  OpenWith({StoredEntry("good", "content"), encrypted, StoredEntry("long", std::string(5000, 'y')),
            directory});
  struct Case {
    const char* what;
    uint16_t index;
    ExtractProgressCallback callback;
    uint32_t bufferSize;
    ExtractOutcome outcome;
    uint32_t lastError;  // checked for system failures only
  };
  const Case cases[] = {
      {"complete", 0, nullptr, 65535, ExtractOutcome::extracted, 0},
      {"encrypted without a password", 1, nullptr, 65535, ExtractOutcome::refused, 0},
      {"stopped by its callback", 2, StopAtOnce, 1024, ExtractOutcome::incomplete, 0},
      {"no transfer buffer", 0, nullptr, 0, ExtractOutcome::systemFailure,
       plat::ERROR_INVALID_PARAMETER},
      {"directory", 3, nullptr, 65535, ExtractOutcome::extracted, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A stale system error must not turn a refusal into a system failure.
    plat::SetLastError(plat::ERROR_ACCESS_DENIED);
    ExtractOutcome outcome = ExtractOutcome::systemFailure;
    const bool ok = Extract(c.index, true, nullptr, c.callback, nullptr, c.bufferSize, nullptr,
                            &outcome);
    EXPECT_EQ(ok, c.outcome == ExtractOutcome::extracted);
    EXPECT_EQ(outcome, c.outcome);
    if (c.outcome == ExtractOutcome::systemFailure) {
      EXPECT_EQ(plat::GetLastError(), c.lastError);
    }
  }
}

TEST_F(Extraction, FilesTakeTheEntrysTimeAndReadOnlyAttributeAfterAVerdict) {
  // The times are set through the open file before it closes, the
  // attributes by name after: what lands must be the same as ever.
  const uint16_t date = (41 << 9) | (3 << 5) | 14, time = (15 << 11) | (9 << 5) | 13;
  const auto entry = [&](const char* name, uint32_t attributes, const std::string& data) {
    CraftedEntry e = StoredEntry(name, data);
    e.dosDate = date;
    e.dosTime = time;
    e.externalAttributes = attributes;
    return e;
  };
  CraftedEntry badCrc = entry("bad", zip::kDosArchive, "damaged");
  badCrc.crc = 0x12345678;
  OpenWith({entry("plain", zip::kDosArchive, "p"), entry("ro", zip::kDosReadOnly, "r"),
            entry("long", zip::kDosReadOnly, std::string(5000, 'y')), badCrc});
  const plat::CalendarTime entryTime = plat::DosDateTimeToLocalTime(date, time);
  struct Case {
    uint16_t index;
    ExtractProgressCallback callback;
    bool throws;
    bool timed;     // takes the entry's time
    bool readOnly;  // and its read-only attribute
  };
  const Case cases[] = {
      {0, nullptr, false, true, false},
      {1, nullptr, false, true, true},
      {2, StopAtOnce, false, true, true},  // incomplete: no verdict on the CRC, still finished
      {3, nullptr, true, false, false},    // a CRC mismatch finishes nothing
  };
  for (const Case& c : cases) {
    const std::string name = plat::ToNativePath(archive->Entry(c.index).GetNameWide());
    SCOPED_TRACE(name);
    if (c.throws) {
      EXPECT_ANY_THROW(Extract(c.index, true, nullptr, c.callback, nullptr, 1024));
    } else {
      Extract(c.index, true, nullptr, c.callback, nullptr, 1024);
    }
    const std::optional<plat::FoundFile> found = plat::FindFile(upktest::WinPath(out + "/" + name));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->lastWrite == entryTime, c.timed);
    EXPECT_EQ((found->attributes & plat::FILE_ATTRIBUTE_READONLY) != 0, c.readOnly);
  }
  EXPECT_EQ(ReadFile(out + "/plain"), "p");
  EXPECT_EQ(ReadFile(out + "/ro"), "r");
}

TEST_F(Extraction, ZeroBufferSizeIsRefused) {
  OpenWith({StoredEntry("a", "abc")});
  EXPECT_FALSE(Extract(0, false, nullptr, nullptr, nullptr, 0));
  const plat::WString none;
  EXPECT_FALSE(Extract(0, false, nullptr, nullptr, nullptr, 0, none.c_str()));
}

}  // namespace
