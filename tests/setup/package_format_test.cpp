// The package format: marker search, trailer bounds, config tokens.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/file.h"
#include "platform/native_path.h"
#include "setup/package_trailer.h"
#include "test_support.h"

namespace {

using setup::FindMarker;
using setup::PackageTrailer;

const std::string kMarker = std::string(">QXI") + "NST_" + "SETUP<";

std::optional<size_t> Find(const std::string& window) {
  return FindMarker(reinterpret_cast<const uint8_t*>(window.data()), window.size(), kMarker);
}

TEST(FindMarker, FirstOccurrenceWins) {
  EXPECT_EQ(Find(kMarker), 0u);
  EXPECT_EQ(Find("abc" + kMarker), 3u);
  EXPECT_EQ(Find("ab" + kMarker + "xx" + kMarker), 2u);
  // Partial markers, one at the very end of the window, never match.
  EXPECT_FALSE(Find("xx" + kMarker.substr(0, 13)).has_value());
  EXPECT_FALSE(Find(">QXINST_SETUX<" + std::string(20, '>')).has_value());
  EXPECT_EQ(Find(">>QX" + kMarker), 4u);
  // A window shorter than the marker holds none.
  EXPECT_FALSE(Find(kMarker.substr(1)).has_value());
  EXPECT_FALSE(Find("").has_value());
}

TEST(FindMarker, AssembledMarkerIsTheFormatsMarker) {
  EXPECT_EQ(setup::AssembleMarker(), kMarker);
  EXPECT_EQ(setup::AssembleMarker().size(), setup::kMarkerLength);
}

TEST(PackageTrailer, LittleEndianFieldsInFileOrder) {
  PackageTrailer t;
  t.configLength = 33;
  t.libraryStart = 34816;
  t.libraryEnd = 140800;
  t.openValue = -2;
  t.packageFlags = 1;
  t.reserved = 0x01020304;
  t.initValue = 10796611;
  const auto bytes = t.Serialize();
  const uint8_t expectStart[] = {33, 0, 0, 0, 0x00, 0x88, 0, 0, 0x00, 0x26, 0x02, 0};
  EXPECT_EQ(std::memcmp(bytes.data(), expectStart, sizeof expectStart), 0);
  EXPECT_EQ(bytes[12], 0xFE);
  EXPECT_EQ(bytes[15], 0xFF);
  EXPECT_EQ(bytes[20], 0x04);
  EXPECT_EQ(bytes[23], 0x01);
  const PackageTrailer back = PackageTrailer::Parse(bytes.data());
  EXPECT_EQ(back.configLength, 33);
  EXPECT_EQ(back.libraryEnd, 140800);
  EXPECT_EQ(back.openValue, -2);
  EXPECT_EQ(back.reserved, 0x01020304);
  EXPECT_EQ(back.initValue, 10796611);
  EXPECT_EQ(back.LibrarySum(), 34816 + 140800);
}

TEST(PackageTrailer, ConfigWantedNeedsAFlagAndAShortBlock) {
  PackageTrailer t;
  for (int flags : {1, 2, 4, 7, 9}) {
    t.packageFlags = flags;
    t.configLength = 6143;
    EXPECT_TRUE(t.ConfigWanted()) << flags;
    t.configLength = 6144;
    EXPECT_FALSE(t.ConfigWanted()) << flags;
  }
  t.packageFlags = 8;
  t.configLength = 10;
  EXPECT_FALSE(t.ConfigWanted());
}

TEST(ConfigBlock, ScramblingIsXorWithTheKeyAndItsOwnInverse) {
  uint8_t block[] = {0x00, 0xA5, 'a', 0xFF};
  setup::UnscrambleConfig(block, sizeof block);
  EXPECT_EQ(block[0], 0xA5);
  EXPECT_EQ(block[1], 0x00);
  EXPECT_EQ(block[2], 'a' ^ 0xA5);
  setup::UnscrambleConfig(block, sizeof block);
  EXPECT_EQ(block[2], 'a');
  EXPECT_EQ(block[3], 0xFF);
}

TEST(ConfigBlock, TokensSplitLikeStrtok) {
  using V = std::vector<plat::WString>;
  EXPECT_EQ(setup::SplitConfigTokens("sub\\|pw|data.zip"), (V{u"sub\\", u"pw", u"data.zip"}));
  // Leading separators are skipped, runs count as one, no token is empty.
  EXPECT_EQ(setup::SplitConfigTokens("|pw|data.zip"), (V{u"pw", u"data.zip"}));
  EXPECT_EQ(setup::SplitConfigTokens("||a|||b||"), (V{u"a", u"b"}));
  EXPECT_EQ(setup::SplitConfigTokens(""), V{});
  EXPECT_EQ(setup::SplitConfigTokens("|||"), V{});
  // The text ends at a zero byte.
  EXPECT_EQ(setup::SplitConfigTokens(std::string_view("a|b\0|c", 6)), (V{u"a", u"b"}));
  // ANSI bytes (Windows-1252) become their characters.
  EXPECT_EQ(setup::SplitConfigTokens("p\xE9|\x80"), (V{u"p\u00E9", u"\u20AC"}));
}

TEST(ConfigBlock, TokensGiveSubdirectoryPasswordAndArchive) {
  const plat::WString setupPath = u"\\pkg\\Setup";
  const plat::WString moduleDir = u"\\pkg\\";
  using setup::PackageConfig;
  using setup::SplitConfigTokens;

  const auto two = PackageConfig::FromTokens(SplitConfigTokens("sub\\|secret"));
  EXPECT_EQ(two.subDir, u"sub\\");
  EXPECT_EQ(two.password, u"secret");
  EXPECT_EQ(two.ArchivePath(setupPath, moduleDir), setupPath);

  const auto oneCharSubdir = PackageConfig::FromTokens(SplitConfigTokens(".|pw|data.zip|more"));
  EXPECT_EQ(oneCharSubdir.ArchivePath(setupPath, moduleDir), u"\\pkg\\data.zip");

  const auto inSubdir = PackageConfig::FromTokens(SplitConfigTokens("disk1\\|pw|data%d.zip"));
  EXPECT_EQ(inSubdir.ArchivePath(setupPath, moduleDir), u"\\pkg\\disk1\\data%d.zip");

  // A leading separator shifts every token by one place.
  const auto shifted = PackageConfig::FromTokens(SplitConfigTokens("|pw|data.zip"));
  EXPECT_EQ(shifted.subDir, u"pw");
  EXPECT_EQ(shifted.password, u"data.zip");
  EXPECT_EQ(shifted.ArchivePath(setupPath, moduleDir), setupPath);

  const auto none = PackageConfig::FromTokens({});
  EXPECT_FALSE(none.subDir || none.password || none.archiveName);
}

// Package files on disk, read through CFile as Setup reads its own file.
class PackageFile : public ::testing::Test {
 protected:
  std::string Build(const std::string& image, const PackageTrailer& trailer,
                    const std::string& config, size_t tail, bool withMarker = true) {
    std::string bytes = image;
    std::string scrambled = config;
    setup::UnscrambleConfig(reinterpret_cast<uint8_t*>(scrambled.data()), scrambled.size());
    bytes += scrambled;
    const auto t = trailer.Serialize();
    bytes.append(reinterpret_cast<const char*>(t.data()), t.size());
    if (withMarker) bytes += kMarker;
    bytes += std::string(tail, '\0');
    return bytes;
  }
  // A plausible trailer for an image of the given length followed by config.
  PackageTrailer TrailerFor(size_t imageLength, size_t configLen, int32_t flags = 4) {
    PackageTrailer t;
    t.libraryStart = static_cast<int32_t>(imageLength / 2);
    t.libraryEnd = static_cast<int32_t>(imageLength);
    t.configLength = static_cast<int32_t>(configLen);
    t.packageFlags = flags;
    t.initValue = 77;
    return t;
  }
  void Open(const std::string& bytes) {
    path_ = dir_.Path("Setup");
    upktest::WriteFile(path_, bytes);
    if (file_.IsOpen()) file_.Close();
    ASSERT_TRUE(file_.Open(upktest::WinPath(path_), CFile::modeRead | CFile::shareDenyNone));
  }
  upktest::TempDir dir_;
  std::string path_;
  CFile file_;
};

TEST_F(PackageFile, MarkerDistanceCountsFromTheEnd) {
  const std::string image(40000, 'x');
  const PackageTrailer t = TrailerFor(image.size(), 0);
  for (size_t tail : {size_t{0}, size_t{100}, size_t{30706}}) {
    Open(Build(image, t, "", tail));
    EXPECT_EQ(setup::LocateMarker(file_), static_cast<int32_t>(14 + tail)) << tail;
  }
  // One byte more and the marker leaves the window.
  Open(Build(image, t, "", 30707));
  EXPECT_FALSE(setup::LocateMarker(file_).has_value());
  Open(Build(image, t, "", 0, /*withMarker=*/false));
  EXPECT_FALSE(setup::LocateMarker(file_).has_value());
}

TEST_F(PackageFile, FileShorterThanTheWindowIsSearchedWhole) {
  const std::string image(300, 'x');
  Open(Build(image, TrailerFor(image.size(), 0), "", 5));
  EXPECT_EQ(setup::LocateMarker(file_), 19);
  Open(kMarker);
  EXPECT_EQ(setup::LocateMarker(file_), 14);
  Open("");
  EXPECT_FALSE(setup::LocateMarker(file_).has_value());
}

TEST_F(PackageFile, EarlierMarkerInTheWindowIsTaken) {
  // A marker inside the library image, within the window, wins; the trailer
  // is then read in front of it.
  std::string image(5000, 'x');
  image += kMarker;
  image += std::string(100, 'y');
  Open(Build(image, TrailerFor(image.size(), 0), "", 0));
  EXPECT_EQ(setup::LocateMarker(file_), static_cast<int32_t>(100 + 28 + 14 + 14));
}

TEST_F(PackageFile, TrailerAndConfigOfAGoodPackage) {
  const std::string image(20000, 'x');
  const std::string config = "sub\\|pw|data.zip";
  Open(Build(image, TrailerFor(image.size(), config.size()), config, 3));
  setup::PackageInfo info;
  ASSERT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  EXPECT_EQ(info.markerDistance, 17);
  EXPECT_EQ(info.trailer.libraryStart, 10000);
  EXPECT_EQ(info.trailer.libraryEnd, 20000);
  EXPECT_EQ(info.trailer.initValue, 77);
  EXPECT_EQ(info.config.subDir, u"sub\\");
  EXPECT_EQ(info.config.password, u"pw");
  EXPECT_EQ(info.config.archiveName, u"data.zip");
}

TEST_F(PackageFile, ConfigIgnoredWithoutFlagsOrWhenTooLong) {
  const std::string image(20000, 'x');
  const std::string config = "sub\\|pw|data.zip";
  setup::PackageInfo info;
  Open(Build(image, TrailerFor(image.size(), config.size(), /*flags=*/0), config, 0));
  ASSERT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  EXPECT_FALSE(info.config.archiveName.has_value());

  // 6144 bytes or more: not read, although everything else is valid.
  const std::string big = "a|b|c" + std::string(6139, 'z');
  Open(Build(image, TrailerFor(image.size(), big.size()), big, 0));
  info = {};
  ASSERT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  EXPECT_FALSE(info.config.subDir.has_value());

  // The longest block that is read.
  const std::string longest = "a|b|c" + std::string(6138, 'z');
  Open(Build(image, TrailerFor(image.size(), longest.size()), longest, 0));
  info = {};
  ASSERT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  EXPECT_EQ(info.config.archiveName->size(), 6139u);

  // An empty block: no tokens.
  Open(Build(image, TrailerFor(image.size(), 0, 1), "", 0));
  info = {};
  ASSERT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  EXPECT_FALSE(info.config.subDir.has_value());
}

TEST_F(PackageFile, TrailerOutsideTheFileIsRefused) {
  const std::string image(1000, 'x');
  const size_t length = image.size() + 28 + 14;
  struct Case {
    const char* what;
    int32_t start, end, configLen, flags;
  } cases[] = {
      {"library past the end", 0, static_cast<int32_t>(length) + 1, 0, 4},
      {"library reversed", 600, 500, 0, 4},
      {"negative start", -1, 500, 0, 4},
      {"negative config length", 0, 1000, -5, 4},
      {"config before the file start", 0, 1000, 1001, 4},
  };
  for (const Case& c : cases) {
    PackageTrailer t;
    t.libraryStart = c.start;
    t.libraryEnd = c.end;
    t.configLength = c.configLen;
    t.packageFlags = c.flags;
    Open(Build(image, t, "", 0));
    setup::PackageInfo info;
    EXPECT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::BadTrailer) << c.what;
  }
  // Limits that still fit: the library may end at the file's end, a config
  // block may start at the file's start, an oversized length is ignored.
  PackageTrailer edge;
  edge.libraryStart = static_cast<int32_t>(length);
  edge.libraryEnd = static_cast<int32_t>(length);
  edge.configLength = 1000;
  edge.packageFlags = 4;
  Open(Build(image, edge, "", 0));
  setup::PackageInfo info;
  EXPECT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  edge.configLength = 1 << 30;
  Open(Build(image, edge, "", 0));
  EXPECT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::Ok);
  // A marker with no room for a trailer in front of it.
  Open("abc" + kMarker);
  EXPECT_EQ(setup::ReadPackage(file_, &info), setup::PackageStatus::BadTrailer);
}

}  // namespace
