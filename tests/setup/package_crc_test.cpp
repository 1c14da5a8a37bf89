// The package's CRC-32 check: which bytes it covers, the Windows header
// fields it reads as zeros, and Setup refusing a damaged package before it
// copies anything out of it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "framework/file.h"
#include "platform/file_system.h"
#include "setup/package_crc.h"
#include "setup/package_trailer.h"
#include "setup/setup_app.h"
#include "test_support.h"

namespace fs = std::filesystem;
using setup::PackageCrcVerdict;

namespace {

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string Pattern(size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
  return bytes;
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A PE image's first bytes: "MZ", e_lfanew, "PE\0\0", an optional header of
// the given magic with NumberOfRvaAndSizes, padded to `length`.
std::string PeHead(uint16_t magic, uint32_t directories = 16, uint32_t lfanew = 0x80,
                   size_t length = 1024) {
  std::string head = Pattern(length, 9);
  head[0] = 'M';
  head[1] = 'Z';
  Put32(head, 0x3C, lfanew);
  if (lfanew + 4 <= length) std::memcpy(head.data() + lfanew, "PE\0\0", 4);
  const size_t optional = lfanew + 24;
  if (optional + 2 <= length) {
    head[optional] = static_cast<char>(magic & 0xFF);
    head[optional + 1] = static_cast<char>(magic >> 8);
  }
  const size_t count = optional + (magic == 0x20B ? 108 : 92);
  if (count + 4 <= length) Put32(head, count, directories);
  return head;
}

struct Package {
  std::string bytes;
  setup::PackageTrailer trailer;
  size_t imageLength = 0, libraryLength = 0, archiveLength = 0, configLength = 0;
};

// image | library | archive | config | trailer | marker, with the CRC-32 of
// the first three recorded (zlib's, over the bytes as they are: callers
// that use a PE image pass its CRC themselves).
Package MakePackage(const std::string& image, const std::string& library,
                    const std::string& archive, const std::string& config,
                    std::optional<uint32_t> crc = std::nullopt) {
  Package p;
  p.imageLength = image.size();
  p.libraryLength = library.size();
  p.archiveLength = archive.size();
  p.configLength = config.size();
  const std::string covered = image + library + archive;
  p.trailer.configLength = static_cast<int32_t>(config.size());
  p.trailer.libraryStart = static_cast<int32_t>(image.size());
  p.trailer.libraryEnd = static_cast<int32_t>(image.size() + library.size());
  p.trailer.packageFlags = 4;
  p.trailer.reserved = static_cast<int32_t>(crc ? *crc : Crc(covered));
  const auto trailer = p.trailer.Serialize();
  p.bytes = covered + config + std::string(trailer.begin(), trailer.end()) +
            setup::AssembleMarker();
  return p;
}

class PackageCrcTest : public ::testing::Test {
 protected:
  // Writes the bytes and checks them as Setup does.
  setup::PackageCrcResult Check(const std::string& bytes) {
    upktest::WriteFile(dir_.Path("Setup"), bytes);
    CFile file;
    EXPECT_TRUE(file.Open(upktest::WinPath(dir_.Path("Setup")), CFile::modeRead));
    const std::optional<int32_t> distance = setup::LocateMarker(file);
    if (!distance) return {setup::PackageCrcVerdict::Damaged, 0, 0, 0};
    const std::optional<setup::PackageTrailer> trailer = setup::ReadTrailer(file, *distance);
    if (!trailer) return {setup::PackageCrcVerdict::Damaged, 0, 0, 0};
    return setup::CheckPackageCrc(file, *distance, *trailer);
  }
  upktest::TempDir dir_;
};

TEST(PackageCrcFields, CoveredBytesEndAtTheConfigBlock) {
  setup::PackageTrailer t;
  t.libraryStart = 100;
  t.libraryEnd = 300;
  t.configLength = 10;
  struct Case {
    uint64_t fileLength;
    int32_t markerDistance, configLength;
    std::optional<uint64_t> covered;
  };
  const Case cases[] = {
      {1000, 14, 10, 1000 - 14 - 28 - 10},  // an archive inside
      {352, 14, 10, 300},                   // the config block right after the library
      {351, 14, 10, std::nullopt},          // it would start inside the library
      {1000, 14, -1, std::nullopt},         // a negative length
      {1000, 14, 0x7FFFFFFF, std::nullopt}, // past the file's start
      {40, 14, 0, std::nullopt},            // the file is cut inside what it describes
      {1000, -5, 10, std::nullopt},
  };
  for (const Case& c : cases) {
    t.configLength = c.configLength;
    EXPECT_EQ(setup::CoveredLength(c.fileLength, c.markerDistance, t), c.covered)
        << c.fileLength << " " << c.markerDistance << " " << c.configLength;
  }
}

TEST(PackageCrcFields, SigningFieldsOfBothImageKindsAndNoneOtherwise) {
  auto pe32 = setup::FindSigningFields(
      reinterpret_cast<const uint8_t*>(PeHead(0x10B).data()), 1024);
  ASSERT_TRUE(pe32);
  EXPECT_EQ(pe32->checksum, 0x80u + 24 + 64);
  EXPECT_EQ(pe32->certificateEntry, 0x80u + 24 + 96 + 32);
  auto pe64 = setup::FindSigningFields(
      reinterpret_cast<const uint8_t*>(PeHead(0x20B).data()), 1024);
  ASSERT_TRUE(pe64);
  EXPECT_EQ(pe64->checksum, 0x80u + 24 + 64);
  EXPECT_EQ(pe64->certificateEntry, 0x80u + 24 + 112 + 32);

  std::string elf = "\x7f" "ELF" + Pattern(1020, 3);
  std::string noPe = PeHead(0x10B);
  noPe[0x81] = 'X';
  const std::string cases[] = {
      elf,
      noPe,
      PeHead(0x107),                        // neither magic
      PeHead(0x10B, 4),                     // no certificate-table entry
      PeHead(0x10B, 16, 0xFFFFFFF0u),       // e_lfanew far outside
      PeHead(0x10B, 16, 4000, 4096),        // the directories past the head
      PeHead(0x10B).substr(0, 0x80 + 24 + 96 + 32 + 7),  // the entry cut short
      std::string("MZ"),
  };
  for (const std::string& head : cases) {
    EXPECT_FALSE(setup::FindSigningFields(reinterpret_cast<const uint8_t*>(head.data()),
                                          head.size()))
        << head.size();
  }
}

TEST_F(PackageCrcTest, EveryCoveredRegionIsCheckedAndNothingAfterIt) {
  // Larger than one read, so that the blocks join up.
  const Package p =
      MakePackage(Pattern(40000, 1), Pattern(1500000, 2), Pattern(900000, 3), "|x|");
  const auto intact = Check(p.bytes);
  EXPECT_EQ(intact.verdict, PackageCrcVerdict::Intact);
  EXPECT_EQ(intact.covered, 40000u + 1500000 + 900000);
  const size_t libraryStart = p.imageLength, archiveStart = libraryStart + p.libraryLength;
  const size_t configStart = archiveStart + p.archiveLength;
  struct Flip {
    const char* where;
    size_t at;
    PackageCrcVerdict verdict;
  };
  const Flip flips[] = {
      {"image start", 0, PackageCrcVerdict::Damaged},
      {"image", libraryStart / 2, PackageCrcVerdict::Damaged},
      {"library", libraryStart + 3, PackageCrcVerdict::Damaged},
      {"library end", archiveStart - 1, PackageCrcVerdict::Damaged},
      {"archive", archiveStart + 400000, PackageCrcVerdict::Damaged},
      {"archive end", configStart - 1, PackageCrcVerdict::Damaged},
      // The config block is not covered: its own reading decides.
      {"config", configStart + 1, PackageCrcVerdict::Intact},
      // The recorded CRC itself.
      {"reserved", configStart + p.configLength + 20, PackageCrcVerdict::Damaged},
  };
  for (const Flip& f : flips) {
    std::string bytes = p.bytes;
    bytes[f.at] ^= 0x20;
    EXPECT_EQ(Check(bytes).verdict, f.verdict) << f.where;
  }
  // Bytes after the marker (a signature) are not covered either.
  EXPECT_EQ(Check(p.bytes + Pattern(5000, 4)).verdict, PackageCrcVerdict::Intact);
}

TEST_F(PackageCrcTest, SigningFieldsOfAWindowsImageCountAsZeros) {
  std::string image = PeHead(0x10B, 16, 0x80, 8192);
  const auto fields =
      setup::FindSigningFields(reinterpret_cast<const uint8_t*>(image.data()), image.size());
  ASSERT_TRUE(fields);
  std::string zeroed = image;
  std::memset(zeroed.data() + fields->checksum, 0, 4);
  std::memset(zeroed.data() + fields->certificateEntry, 0, 8);
  const std::string library = Pattern(5000, 2);
  const Package p = MakePackage(image, library, "", "", Crc(zeroed + library));
  EXPECT_EQ(Check(p.bytes).verdict, PackageCrcVerdict::Intact);

  // What signing rewrites: the checksum and the certificate-table entry.
  std::string signed_ = p.bytes;
  Put32(signed_, fields->checksum, 0x1234567);
  Put32(signed_, fields->certificateEntry, static_cast<uint32_t>(p.bytes.size()));
  Put32(signed_, fields->certificateEntry + 4, 2048);
  EXPECT_EQ(Check(signed_ + std::string(2048, 's')).verdict, PackageCrcVerdict::Intact);
  // Their neighbours count.
  for (size_t at : {fields->checksum - 1, fields->checksum + 4, fields->certificateEntry - 1,
                    fields->certificateEntry + 8}) {
    std::string bytes = p.bytes;
    bytes[at] ^= 1;
    EXPECT_EQ(Check(bytes).verdict, PackageCrcVerdict::Damaged) << at;
  }
}

TEST_F(PackageCrcTest, FileShorterThanItsLengthIsAReadError) {
  const std::string bytes = Pattern(10000, 5);
  upktest::WriteFile(dir_.Path("short"), bytes);
  CFile file;
  ASSERT_TRUE(file.Open(upktest::WinPath(dir_.Path("short")), CFile::modeRead));
  EXPECT_THROW(setup::ComputePackageCrc(file, 20000, 100), CFileException);
  EXPECT_EQ(setup::ComputePackageCrc(file, 10000, 100), Crc(bytes));
  EXPECT_EQ(setup::ComputePackageCrc(file, 0, 0), 0u);
}

// Setup itself: a damaged package is refused before the library is copied.
class ReadingApp : public CSetupApp {
 public:
  explicit ReadingApp(SetupPlatform* p, const plat::WString& tempDir) : CSetupApp(p) {
    m_strTempDir = tempDir;
  }
};

TEST_F(PackageCrcTest, DamagedPackageIsRefusedBeforeTheLibraryIsCopied) {
  const std::optional<plat::WString> cwd = plat::GetCurrentDirectory();
  const Package p = MakePackage(Pattern(40000, 1), Pattern(20000, 2), Pattern(9000, 3), "|x|");
  const std::string temp = dir_.Path("SetupTemp0");
  for (const size_t at : {size_t{100}, p.imageLength + 50, p.imageLength + p.libraryLength + 9}) {
    fs::remove_all(temp);
    fs::create_directory(temp);
    std::string bytes = p.bytes;
    bytes[at] ^= 0x40;
    upktest::WriteFile(dir_.Path("Setup"), bytes);
    RecordingPlatform platform;
    ReadingApp app(&platform, upktest::WinPath(temp + "/"));
    CFile file;
    ASSERT_TRUE(file.Open(upktest::WinPath(dir_.Path("Setup")), CFile::modeRead));
    EXPECT_FALSE(app.ReadPackageFile(file)) << at;
    EXPECT_FALSE(fs::exists(temp + "/upk4.dll")) << at;
    EXPECT_EQ(app.ErrorCodes(), u"9 (13), ") << at;
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].rfind(
                  u"The package is damaged or incomplete. Download it again.\n", 0),
              0u);
  }
  // Intact, the same package is copied out.
  upktest::WriteFile(dir_.Path("Setup"), p.bytes);
  RecordingPlatform platform;
  ReadingApp app(&platform, upktest::WinPath(temp + "/"));
  CFile file;
  ASSERT_TRUE(file.Open(upktest::WinPath(dir_.Path("Setup")), CFile::modeRead));
  EXPECT_TRUE(app.ReadPackageFile(file));
  EXPECT_EQ(upktest::ReadFile(temp + "/upk4.dll"), Pattern(20000, 2));
  EXPECT_TRUE(app.ErrorCodes().empty());
  EXPECT_TRUE(platform.boxes.empty());
  if (cwd) plat::SetCurrentDirectory(*cwd);
}

}  // namespace
