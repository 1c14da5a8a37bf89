// The inflater backends: the same bytes and results for the same stream,
// however the input and output are cut, and the fast CRC-32 equal to zlib's.
#include <gtest/gtest.h>
#include <zlib.h>
#include <string>
#include "crafted_zip.h"
#include "reader_test_util.h"
#include "test_support.h"
#include "upk4/inflater.h"
#include "upk4/isal_library.h"

using namespace upktest;

namespace {

// What a stream gives when decoded in pieces: the bytes and the last result.
struct Decoded {
  std::string bytes;
  int result = Z_OK;
};

template <class Backend>
Decoded DecodeInPieces(const std::string& stream, size_t inPiece, size_t outPiece) {
  Backend inflater;
  InflateBuffers io;
  EXPECT_EQ(inflater.Init(), Z_OK);
  Decoded d;
  std::string out(outPiece, '\0');
  size_t offset = 0;
  for (int guard = 0; guard < 1000000; ++guard) {
    if (io.availIn == 0 && offset < stream.size()) {
      const size_t n = std::min(inPiece, stream.size() - offset);
      io.nextIn = reinterpret_cast<const uint8_t*>(stream.data()) + offset;
      io.availIn = static_cast<uint32_t>(n);
      offset += n;
    }
    io.nextOut = reinterpret_cast<uint8_t*>(out.data());
    io.availOut = static_cast<uint32_t>(outPiece);
    d.result = inflater.Inflate(io);
    d.bytes.append(out.data(), outPiece - io.availOut);
    if (d.result != Z_OK) break;
  }
  inflater.End();
  return d;
}

// Decodes the whole stream into out with one call's worth of room; the
// last result.
template <class Backend>
int DecodeWhole(Backend& inflater, const std::string& stream, std::string& out) {
  InflateBuffers io;
  io.nextIn = reinterpret_cast<const uint8_t*>(stream.data());
  io.availIn = static_cast<uint32_t>(stream.size());
  io.nextOut = reinterpret_cast<uint8_t*>(out.data());
  io.availOut = static_cast<uint32_t>(out.size());
  int result = Z_OK;
  while (result == Z_OK) result = inflater.Inflate(io);
  return result;
}

template <class Backend>
class InflaterTest : public ::testing::Test {};

#ifdef UPK_WITH_ISAL
using Backends = ::testing::Types<ZlibInflater, IsalInflater>;
#else
using Backends = ::testing::Types<ZlibInflater>;
#endif
TYPED_TEST_SUITE(InflaterTest, Backends);

TYPED_TEST(InflaterTest, WholeStreamsCutAnyWayGiveTheSameBytes) {
  const std::string text = MakeTextLikeData(300000, 21), noise = MakeRandomData(70000, 22);
  struct Case {
    const std::string* data;
    size_t in, out;
  } cases[] = {{&text, 16384, 65535}, {&text, 1, 4096}, {&text, 1 << 20, 1},
               {&text, 7, 1 << 20}, {&noise, 16384, 65535}, {&noise, 3, 333}};
  for (const Case& c : cases) {
    const Decoded d = DecodeInPieces<TypeParam>(RawDeflate(*c.data), c.in, c.out);
    EXPECT_EQ(d.result, Z_STREAM_END) << c.in << "/" << c.out;
    EXPECT_TRUE(d.bytes == *c.data) << c.in << "/" << c.out;
  }
}

TYPED_TEST(InflaterTest, DamagedAndTruncatedStreamsEndInZlibsCodes) {
  std::string cut = RawDeflate(MakeTextLikeData(100000, 23));
  cut.resize(cut.size() / 2);
  const std::string tooFarBack("\x03\x02\x00", 3);  // a match before the first byte
  const std::string badType = RawDeflate("") + std::string("\x07", 1);
  EXPECT_EQ(DecodeInPieces<TypeParam>(cut, 16384, 65535).result, Z_BUF_ERROR);
  EXPECT_EQ(DecodeInPieces<TypeParam>(tooFarBack, 16384, 65535).result, Z_DATA_ERROR);
  EXPECT_EQ(DecodeInPieces<TypeParam>(std::string("\x07", 1), 16384, 65535).result,
            Z_DATA_ERROR);
  // Once ended, a stream stays ended: nothing after it is read.
  EXPECT_EQ(DecodeInPieces<TypeParam>(badType, 16384, 65535).result, Z_STREAM_END);
}

TYPED_TEST(InflaterTest, AnInflaterStartsAgainAfterAnyStop) {
  // Ended in the middle of a stream, or dropped there, the inflater takes a
  // new stream from its start (its memory checked by the sanitizers).
  const std::string stream = RawDeflate(MakeTextLikeData(50000, 24));
  for (const bool endFirst : {true, false}) {
    TypeParam inflater;
    InflateBuffers io;
    ASSERT_EQ(inflater.Init(), Z_OK);
    std::string out(50000, '\0');
    io.nextIn = reinterpret_cast<const uint8_t*>(stream.data());
    io.availIn = static_cast<uint32_t>(stream.size());
    io.nextOut = reinterpret_cast<uint8_t*>(out.data());
    io.availOut = 100;
    EXPECT_EQ(inflater.Inflate(io), Z_OK);
    if (endFirst) inflater.End();
    ASSERT_EQ(inflater.Init(), Z_OK);
    EXPECT_EQ(DecodeWhole(inflater, stream, out), Z_STREAM_END);
    EXPECT_TRUE(out == MakeTextLikeData(50000, 24));
  }
}

TEST(FastCrcTest, EqualsZlibsCrcInAnyPieces) {
  const std::string data = MakeRandomData(1 << 20, 25);
  const uint32_t whole = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  for (size_t piece : {size_t{1} << 20, size_t{65535}, size_t{4096}, size_t{7}, size_t{1}}) {
    uint32_t crc = 0;
    for (size_t at = 0; at < data.size(); at += piece)
      crc = UpdateCrc32(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(crc, whole) << piece;
  }
  EXPECT_EQ(UpdateCrc32(0, "", 0), 0u);
  EXPECT_EQ(UpdateCrc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(ZlibCrc32(0, "123456789", 9), 0xCBF43926u);
}

#ifdef UPK_WITH_ISAL
TEST(IsalLoadingTest, TheLibraryBindsOnceAndAStreamMayGoThroughZlibFromItsStart) {
  const IsalEntryPoints* isal = BindIsal();
  ASSERT_NE(isal, nullptr) << "ISA-L not loadable by its soname";
  EXPECT_EQ(BindIsal(), isal);
  EXPECT_EQ(BoundIsal(), isal);

  const std::string text = MakeTextLikeData(200000, 26);
  const std::string stream = RawDeflate(text);
  for (const bool fast : {false, true}) {
    IsalInflater inflater;
    ASSERT_EQ(inflater.Init(fast), Z_OK);
    EXPECT_EQ(inflater.CanFallBack(), fast);
    std::string out(text.size(), '\0');
    EXPECT_EQ(DecodeWhole(inflater, stream, out), Z_STREAM_END) << fast;
    EXPECT_TRUE(out == text) << fast;
    inflater.End();
  }
}

// The reader turns to ISA-L once the deflated entries it has opened claim
// enough output in all; stored entries do not count, and the bytes are the
// same either way.
TEST(IsalLoadingTest, TheReaderTakesIsalOnceTheEntriesOpenedClaimEnoughOutput) {
  struct Step {
    size_t size;
    bool deflated;
    bool fast;  // expected
  } steps[] = {{10000, true, false}, {300000, false, false}, {20000, true, false},
               {240000, true, true}, {5000, true, true}};
  CraftedZip zip;
  std::vector<std::string> texts;
  for (size_t i = 0; i < std::size(steps); ++i) {
    texts.push_back(MakeTextLikeData(steps[i].size, 30 + static_cast<int>(i)));
    const std::string name = "e" + std::to_string(i);
    zip.entries.push_back(steps[i].deflated ? DeflatedEntry(name, texts.back())
                                            : StoredEntry(name, texts.back()));
  }
  MemoryStorage storage;
  storage.Add(WinPath("/memory/crafted.zip"), zip.Build());
  ArchiveOptions options;
  options.storage = &storage;
  options.fastInflaterFrom = 256 * 1024;
  const std::unique_ptr<Archive> archive = Archive::Open(WinPath("/memory/crafted.zip"), options);
  for (size_t i = 0; i < std::size(steps); ++i) {
    const std::unique_ptr<EntryReader> reader =
        archive->OpenEntry(static_cast<uint16_t>(i), std::nullopt);
    ASSERT_TRUE(reader);
    if (steps[i].deflated) {
      EXPECT_EQ(reader->UsesFastInflater(), steps[i].fast) << i;
    }
    std::string out(steps[i].size + 1, '\0');
    EXPECT_EQ(reader->Read(out.data(), static_cast<uint32_t>(out.size())), steps[i].size);
    out.resize(steps[i].size);
    EXPECT_TRUE(out == texts[i]) << i;
    EXPECT_EQ(reader->Finish(), 1) << i;
  }
}
#endif

}  // namespace
