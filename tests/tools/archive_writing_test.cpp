// The archive as upkpack writes it: real readers (Python's zipfile, Info-ZIP
// unzip and zip, the upk4 reader) accept it, encrypted entries included,
// and split volumes follow the naming and whole-record rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "crafted_zip.h"
#include "framework/safe_format.h"
#include "pack_error.h"
#include "package_archive.h"
#include "platform/code_page.h"
#include "tools_test_util.h"
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"
#include "upk4/path_functions.h"
#include "upk4/zip_format.h"
#include "volume_splitter.h"
#include "zip_writer.h"

namespace {

namespace fs = std::filesystem;
using upktest::ReadFile;
using upktest::RunCommand;
using upktest::ShellQuote;

struct Source {
  std::string name;
  std::string data;
};

std::vector<Source> SampleSources() {
  return {{"A11", upktest::MakeRandomData(40000, 11)},
          {"QXSetup.exe", upktest::MakeTextLikeData(30000, 12)},
          {"dir/", ""},
          {"dir/a.txt", "tiny"},
          {"dir/zero.txt", ""},
          {"dir/big.bin", upktest::MakeRandomData(90000, 13)}};
}

std::string WriteSampleZip(const upktest::TempDir& dir, const std::vector<Source>& sources,
                           bool store, const std::string& password,
                           std::optional<int64_t> fixedTime = std::nullopt, bool zip64 = false) {
  std::vector<upkpack::ZipSource> entries;
  for (const Source& s : sources) {
    upkpack::ZipSource e;
    e.name = s.name;
    e.directory = s.name.back() == '/';
    if (!e.directory) {
      e.source = dir.Path("src/" + s.name);
      upktest::WriteFile(e.source, s.data);
      e.size = s.data.size();
    }
    entries.push_back(e);
  }
  upkpack::ZipWriteOptions options;
  options.store = store;
  options.password = password;
  options.zip64 = zip64;
  options.fixedTime = fixedTime;
  const std::string out = dir.Path("archive.zip");
  upkpack::WriteZip(out, entries, options);
  return out;
}

// Every file entry read back by Python's zipfile equals its source.
void ExpectPythonReads(const std::string& zip, const std::vector<Source>& sources,
                       const std::string& password, const upktest::TempDir& dir) {
  const std::string out = dir.Path("py-out");
  const std::string script =
      "import sys, zipfile, os\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "pw = sys.argv[3].encode() or None\n"
      "for i in z.infolist():\n"
      "    if i.is_dir(): continue\n"
      "    p = os.path.join(sys.argv[2], i.filename)\n"
      "    os.makedirs(os.path.dirname(p), exist_ok=True)\n"
      "    open(p, 'wb').write(z.read(i, pwd=pw))\n";
  upktest::WriteFile(dir.Path("read.py"), script);
  ASSERT_EQ(RunCommand("python3 " + ShellQuote(dir.Path("read.py")) + " " + ShellQuote(zip) + " " +
                       ShellQuote(out) + " " + ShellQuote(password)),
            0);
  for (const Source& s : sources) {
    if (s.name.back() != '/') {
      EXPECT_EQ(ReadFile(out + "/" + s.name), s.data) << s.name;
    }
  }
}

TEST(ZipWriter, DeflatedStoredAndEncryptedArchivesReadInRealReaders) {
  const auto sources = SampleSources();
  for (const bool store : {false, true}) {
    for (const std::string password : {"", "se cret"}) {
      SCOPED_TRACE(std::string(store ? "stored" : "deflated") + " password=" + password);
      upktest::TempDir dir;
      const std::string zip = WriteSampleZip(dir, sources, store, password);
      ExpectPythonReads(zip, sources, password, dir);
      std::string listing;
      EXPECT_EQ(RunCommand("unzip -P " + ShellQuote(password) + " -t " + ShellQuote(zip), &listing),
                0)
          << listing;
      if (!password.empty()) {
        // A wrong password must be refused, not decoded into garbage.
        EXPECT_NE(RunCommand("unzip -P wrong -t " + ShellQuote(zip) + " >/dev/null 2>&1"), 0);
      }
    }
  }
}

uint16_t Get16(const std::string& b, size_t at);
uint32_t Get32(const std::string& b, size_t at);
// A central header's length with its name, extra field and comment.
size_t CentralHeaderLength(const std::string& b, size_t at);

// With a fixed time, the same entries give the same bytes whatever the
// files' own times, encrypted entries included, and every entry carries the
// fixed time as UTC MS-DOS fields.
TEST(ZipWriter, FixedTimeGivesTheSameBytes) {
  const auto sources = SampleSources();
  constexpr int64_t kEpoch = 1700000000;  // 2023-11-14 22:13:20 UTC
  constexpr uint16_t kDosDate = (2023 - 1980) << 9 | 11 << 5 | 14;
  constexpr uint16_t kDosTime = 22 << 11 | 13 << 5 | 20 / 2;
  for (const std::string password : {"", "se cret"}) {
    SCOPED_TRACE("password=" + password);
    upktest::TempDir one, two;
    const std::string first = ReadFile(WriteSampleZip(one, sources, false, password, kEpoch));
    // The same sources in another place, 400 days older.
    const std::string plain = ReadFile(WriteSampleZip(two, sources, false, password));
    std::vector<upkpack::ZipSource> entries;
    for (const Source& s : sources) {
      upkpack::ZipSource e;
      e.name = s.name;
      e.directory = s.name.back() == '/';
      if (!e.directory) {
        e.source = two.Path("src/" + s.name);
        e.size = s.data.size();
        fs::last_write_time(e.source, fs::last_write_time(e.source) - std::chrono::hours(24 * 400));
      }
      entries.push_back(e);
    }
    upkpack::ZipWriteOptions options;
    options.password = password;
    options.fixedTime = kEpoch;
    upkpack::WriteZip(two.Path("again.zip"), entries, options);
    EXPECT_EQ(ReadFile(two.Path("again.zip")), first);
    // Without the fixed time the files' own times show.
    options.fixedTime.reset();
    upkpack::WriteZip(two.Path("own-times.zip"), entries, options);
    EXPECT_NE(ReadFile(two.Path("own-times.zip")), first);
    EXPECT_NE(plain, first);

    const size_t end = first.rfind(upktest::Signature(zip::kEndRecordSignature));
    ASSERT_NE(end, std::string::npos);
    size_t at = Get32(first, end + zip::kEndDirectorySizeAt + 4);
    for (size_t i = 0; i < sources.size(); ++i) {
      ASSERT_EQ(Get32(first, at), zip::kCentralHeaderSignature);
      ByteCursor fields(reinterpret_cast<const uint8_t*>(first.data()) + at, zip::kCentralHeaderSize);
      fields.Skip(zip::kSignatureSize + 8);  // versions, flags, method
      EXPECT_EQ(fields.U16(), kDosTime) << sources[i].name;
      EXPECT_EQ(fields.U16(), kDosDate) << sources[i].name;
      at += CentralHeaderLength(first, at);
    }
    // The derived encryption headers still decrypt.
    ExpectPythonReads(WriteSampleZip(one, sources, false, password, kEpoch), sources, password, one);
  }
}

// Reads the whole split archive through the upk4 reader as a package would
// open it: the pattern's volume 1 first.
void ExpectReaderReads(const std::string& directory, const std::string& pattern,
                       const std::vector<Source>& sources, const std::string& password,
                       bool zip64 = false) {
  upk2::PackageArchive archive;
  archive.archivePath = upktest::WinPath(directory + "/" + pattern);
  archive.openName = upk2::OpenNameForFlags(archive.archivePath, 1);
  archive.password = plat::Utf8ToUtf16(password);
  const upk2::OpenedPackage package = upk2::OpenPackageArchive(archive);
  const Archive& reader = *package.archive;
  ASSERT_EQ(reader.EntryCount(), sources.size());
  const std::string out = directory + "/out";
  std::filesystem::create_directories(out);
  const plat::WString dest = upktest::WinPath(out);
  Transfer transfer;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (sources[i].name.back() != '/') {
      // Whether the local header carries its sizes in a ZIP64 extra field.
      const std::unique_ptr<EntryReader> entry =
          reader.OpenEntry(static_cast<uint16_t>(i), package.password);
      ASSERT_TRUE(entry);
      EXPECT_EQ(entry->LocalZip64(), zip64) << sources[i].name;
    }
    ASSERT_TRUE(ExtractEntry(reader, static_cast<uint16_t>(i), package.password, dest.c_str(), true,
                             nullptr, nullptr, nullptr, transfer))
        << sources[i].name;
    if (sources[i].name.back() != '/') {
      EXPECT_EQ(ReadFile(out + "/" + sources[i].name), sources[i].data) << sources[i].name;
    }
  }
  std::filesystem::remove_all(out);
}

uint16_t Get16(const std::string& b, size_t at) {
  return GetLe16(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
uint32_t Get32(const std::string& b, size_t at) {
  return GetLe32(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
size_t CentralHeaderLength(const std::string& b, size_t at) {
  const size_t lengths = at + zip::kCentralNameLengthAt;
  return zip::kCentralHeaderSize + Get16(b, lengths) + Get16(b, lengths + 2) + Get16(b, lengths + 4);
}

// The records of a real split archive, checked byte by byte.
void ExpectSplitRecords(const std::vector<fs::path>& volumes, uint64_t size) {
  std::vector<std::string> bytes;
  for (const fs::path& v : volumes) {
    bytes.push_back(ReadFile(v.string()));
    EXPECT_LE(bytes.back().size(), size) << v;
  }
  const std::string& last = bytes.back();
  ASSERT_GE(last.size(), zip::kEndRecordSize);
  const size_t end = last.size() - zip::kEndRecordSize;
  ByteCursor record(reinterpret_cast<const uint8_t*>(last.data()) + end, zip::kEndRecordSize);
  ASSERT_EQ(record.U32(), zip::kEndRecordSignature);
  EXPECT_EQ(record.U16(), volumes.size() - 1);  // this volume = the last
  const uint16_t cdVolume = record.U16();
  const uint16_t onLastRecorded = record.U16();
  const uint16_t total = record.U16();
  record.U32();  // directory size
  size_t at = record.U32();
  size_t volume = cdVolume;
  size_t onLast = 0;
  for (uint16_t i = 0; i < total; ++i) {
    if (at == bytes[volume].size()) {  // the next header starts the next volume
      ++volume;
      at = 0;
    }
    const std::string& v = bytes[volume];
    ASSERT_EQ(Get32(v, at), zip::kCentralHeaderSignature) << "central header " << i;
    const size_t length = CentralHeaderLength(v, at);
    EXPECT_LE(at + length, v.size()) << "central header " << i << " straddles";
    if (volume == volumes.size() - 1) ++onLast;
    // Its local header lies whole at the volume and offset it names.
    const std::string& lv = bytes.at(Get16(v, at + zip::kCentralDiskStartAt));
    const size_t local = Get32(v, at + zip::kCentralLocalOffsetAt);
    ASSERT_EQ(Get32(lv, local), zip::kLocalHeaderSignature) << "local header " << i;
    const size_t lengths = local + zip::kLocalNameLengthAt;
    EXPECT_LE(local + zip::kLocalHeaderSize + Get16(lv, lengths) + Get16(lv, lengths + 2), lv.size());
    at += length;
  }
  EXPECT_EQ(onLastRecorded, onLast);
}

TEST(VolumeSplitter, VolumesFollowTheNamingAndRecordRules) {
  const auto sources = SampleSources();
  // Sizes chosen so that records land on, and just across, volume ends.
  for (const uint64_t size : {uint64_t{4096}, uint64_t{7001}, uint64_t{65536}, uint64_t{1} << 20}) {
    for (const std::string password : {"", "pw"}) {
      SCOPED_TRACE("size " + std::to_string(size) + " password=" + password);
      upktest::TempDir dir;
      const std::string zip = WriteSampleZip(dir, sources, true, password);
      fs::create_directories(dir.Path("vol"));
      const auto volumes = upkpack::SplitArchive(zip, size, dir.Path("vol"), [](uint32_t n) {
        return "data" + std::to_string(n) + ".zip";
      });
      ASSERT_FALSE(volumes.empty());
      EXPECT_EQ(volumes.back().filename(), "data1.zip");
      for (size_t k = 0; k + 1 < volumes.size(); ++k) {
        EXPECT_EQ(volumes[k].filename(), "data" + std::to_string(k + 2) + ".zip");
      }
      ExpectSplitRecords(volumes, size);
      ExpectReaderReads(dir.Path("vol"), "data%d.zip", sources, password);

      // Info-ZIP joins the volumes under its own names into a whole archive.
      const std::string iz = dir.Path("iz");
      fs::create_directories(iz);
      for (size_t k = 0; k < volumes.size(); ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "x.z%02zu", k + 1);
        fs::copy_file(volumes[k], k + 1 == volumes.size() ? iz + "/x.zip" : iz + "/" + name);
      }
      EXPECT_EQ(RunCommand("cd " + ShellQuote(iz) +
                           " && zip -q -s 0 x.zip --out joined.zip && unzip -qq -P " +
                           ShellQuote(password) + " -t joined.zip >/dev/null"),
                0);
    }
  }
}

TEST(ZipWriter, Zip64ArchivesReadInRealReadersWholeAndSplit) {
  const auto sources = SampleSources();
  for (const std::string password : {"", "pw"}) {
    SCOPED_TRACE("password=" + password);
    upktest::TempDir dir;
    const std::string zip = WriteSampleZip(dir, sources, false, password, std::nullopt, true);
    ExpectPythonReads(zip, sources, password, dir);
    EXPECT_EQ(RunCommand("unzip -qq -P " + ShellQuote(password) + " -t " + ShellQuote(zip) +
                         " >/dev/null"),
              0);
    ExpectReaderReads(dir.path(), "archive.zip", sources, password, true);
    fs::create_directories(dir.Path("vol"));
    const auto volumes = upkpack::SplitArchive(zip, 7001, dir.Path("vol"), [](uint32_t n) {
      return "data" + std::to_string(n) + ".zip";
    });
    ExpectSplitRecords(volumes, 7001);
    ExpectReaderReads(dir.Path("vol"), "data%d.zip", sources, password, true);
  }
}

TEST(VolumeSplitter, RefusesVolumesTooSmallForARecord) {
  upktest::TempDir dir;
  const std::string zip = WriteSampleZip(dir, SampleSources(), true, "");
  EXPECT_THROW(upkpack::SplitArchive(zip, 40, dir.path(), [](uint32_t n) { return std::to_string(n); }),
               upkpack::PackError);
}

}  // namespace
