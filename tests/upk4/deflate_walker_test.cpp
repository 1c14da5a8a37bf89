// The block walk: it passes every stream zlib decodes, however the input is
// cut, and it refuses every block header that zlib refuses, whether crafted
// or made by damaging a real stream. Through the ISA-L backend, a refused
// header ends the stream as zlib ends it, walked in line or on the second
// thread.
#include <gtest/gtest.h>
#include <zlib.h>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>
#include "crafted_zip.h"
#include "test_support.h"
#include "upk4/deflate_walker.h"
#ifdef UPK_WITH_ISAL
#include "upk4/background_walk.h"
#endif
#include "upk4/inflater.h"

using namespace upktest;

namespace {

// Deflate bits, first bit lowest; Huffman codes are put most significant bit
// first, as the format stores them.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) PutBit((value >> i) & 1);
  }
  void PutCode(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) PutBit((code >> i) & 1);
  }
  std::string Bytes() const { return bytes_; }

 private:
  void PutBit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back('\0');
    bytes_.back() = static_cast<char>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) % 8;
  }
  std::string bytes_;
  int used_ = 0;
};

// The canonical codes of a set of lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t count[16] = {}, next[16] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  for (int len = 1, code = 0; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  return codes;
}

// A final dynamic block with the given literal/length and distance code
// lengths, sent with a code-length code of 4-bit codes for lengths 0-15,
// followed by the literal/length symbols of `body` (values below 256 and
// 256 for the end). `prefix` goes before it: blocks that do not end.
std::string DynamicBlock(const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist,
                         const std::vector<int>& body, const std::string& prefix = "") {
  BitWriter w;
  w.Put(1, 1);
  w.Put(2, 2);
  w.Put(static_cast<uint32_t>(lit.size() - 257), 5);
  w.Put(static_cast<uint32_t>(dist.size() - 1), 5);
  w.Put(15, 4);  // all 19 code-length code lengths
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int s : kOrder) w.Put(s < 16 ? 4 : 0, 3);
  for (uint8_t l : lit) w.PutCode(l, 4);  // symbol l has code l
  for (uint8_t l : dist) w.PutCode(l, 4);
  const std::vector<uint32_t> codes = CanonicalCodes(lit);
  for (int s : body) w.PutCode(codes[s], lit[s]);
  return prefix + w.Bytes();
}

// Literal/length lengths: 'a', 'b' and the end in a complete code.
std::vector<uint8_t> ThreeSymbols() {
  std::vector<uint8_t> lit(257, 0);
  lit['a'] = 1;
  lit['b'] = 2;
  lit[256] = 2;
  return lit;
}

bool Walks(const std::string& stream, size_t piece) {
  DeflateWalker walker;
  for (size_t at = 0; at < stream.size(); at += piece)
    if (!walker.Walk(reinterpret_cast<const uint8_t*>(stream.data()) + at,
                     std::min(piece, stream.size() - at)))
      return false;
  return true;
}

// zlib's answer for a whole stream: ended, or the message of its error.
std::string ZlibVerdict(const std::string& stream) {
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  std::string out(1 << 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  int r;
  do {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    r = inflate(&z, Z_NO_FLUSH);
  } while (r == Z_OK);
  const std::string verdict = r == Z_STREAM_END ? "ended" : z.msg != nullptr ? z.msg : "cut";
  inflateEnd(&z);
  return verdict;
}

bool IsHeaderError(const std::string& verdict) {
  for (const char* m : {"invalid block type", "invalid stored block lengths",
                        "too many length or distance symbols", "invalid code lengths set",
                        "invalid bit length repeat", "missing end-of-block",
                        "invalid literal/lengths set", "invalid distances set"})
    if (verdict.find(m) != std::string::npos) return true;
  return false;
}

TEST(DeflateWalkerTest, PassesEveryStreamZlibWritesHoweverItIsCut) {
  const std::string text = MakeTextLikeData(200000, 31), noise = MakeRandomData(40000, 32);
  struct Case {
    int level, strategy;
  } cases[] = {{0, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY}, {6, Z_DEFAULT_STRATEGY},
               {9, Z_FILTERED},         {9, Z_HUFFMAN_ONLY},     {9, Z_RLE},
               {9, Z_FIXED}};
  for (const Case& c : cases)
    for (const std::string* data : {&text, &noise}) {
      z_stream s{};
      ASSERT_EQ(deflateInit2(&s, c.level, Z_DEFLATED, -15, 9, c.strategy), Z_OK);
      std::string stream(deflateBound(&s, data->size()), '\0');
      s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data->data()));
      s.avail_in = static_cast<uInt>(data->size());
      s.next_out = reinterpret_cast<Bytef*>(stream.data());
      s.avail_out = static_cast<uInt>(stream.size());
      ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
      stream.resize(s.total_out);
      deflateEnd(&s);
      for (size_t piece : {stream.size(), size_t{65536}, size_t{4093}, size_t{9}, size_t{1}}) {
        DeflateWalker walker;
        bool ok = true;
        for (size_t at = 0; at < stream.size() && ok; at += piece)
          ok = walker.Walk(reinterpret_cast<const uint8_t*>(stream.data()) + at,
                           std::min(piece, stream.size() - at));
        EXPECT_TRUE(ok && walker.Ended()) << c.level << "/" << c.strategy << "/" << piece;
      }
    }
}

TEST(DeflateWalkerTest, RefusesWhatZlibRefusesInABlockHeader) {
  const std::vector<int> ab = {'a', 'b', 'a', 256};
  std::vector<uint8_t> oneDistance(1, 1), noDistance(1, 0), twoOfFour = {2, 2};
  std::vector<uint8_t> incompleteLit = ThreeSymbols(), overLit = ThreeSymbols();
  incompleteLit['b'] = 3;  // leaves one 3-bit pattern unused
  overLit['c'] = 1;
  std::vector<uint8_t> noEnd = ThreeSymbols(), tooMany = ThreeSymbols();
  noEnd[256] = 0;
  noEnd['c'] = 2;
  tooMany.resize(287);
  const std::string stored = std::string("\x01\x03\x00\xfc\xff", 5) + "abc";
  struct Case {
    const char* what;
    std::string stream;
    bool accepted;
  } cases[] = {
      {"complete codes", DynamicBlock(ThreeSymbols(), {1, 1}, ab), true},
      {"one distance code of one bit", DynamicBlock(ThreeSymbols(), oneDistance, ab), true},
      {"no distance codes", DynamicBlock(ThreeSymbols(), noDistance, ab), true},
      {"incomplete distance code", DynamicBlock(ThreeSymbols(), twoOfFour, ab), false},
      {"incomplete literal code", DynamicBlock(incompleteLit, oneDistance, ab), false},
      {"over-subscribed literal code", DynamicBlock(overLit, oneDistance, ab), false},
      {"no end-of-block code", DynamicBlock(noEnd, oneDistance, {'a', 'c'}), false},
      {"287 literal/length codes", DynamicBlock(tooMany, oneDistance, ab), false},
      {"stored block", stored, true},
      {"stored length check wrong", std::string("\x01\x03\x00\xfc\xfe", 5) + "abc", false},
      {"block type 3", std::string("\x07", 1), false},
  };
  for (const Case& c : cases) {
    const std::string verdict = ZlibVerdict(c.stream);
    ASSERT_EQ(verdict == "ended", c.accepted) << c.what << ": zlib says " << verdict;
    for (size_t piece : {c.stream.size(), size_t{1}})
      EXPECT_EQ(Walks(c.stream, piece), c.accepted) << c.what << " in pieces of " << piece;
  }
}

TEST(DeflateWalkerTest, RefusesEveryDamagedHeaderThatZlibRefuses) {
  // A few hundred bytes of dynamic header and codes, damaged bit by bit.
  const std::string base = RawDeflate(MakeTextLikeData(3000, 33));
  std::mt19937 random(34);
  int headerErrors = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string damaged = base;
    for (int flips = 1 + round % 3; flips > 0; --flips) {
      const size_t bit = random() % std::min<size_t>(damaged.size() * 8, 900);
      damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
    }
    const std::string verdict = ZlibVerdict(damaged);
    const bool whole = Walks(damaged, damaged.size()), bytewise = Walks(damaged, 1);
    EXPECT_EQ(whole, bytewise) << round;
    if (verdict == "ended") {
      EXPECT_TRUE(whole) << round << ": zlib decodes it";
    }
    if (IsHeaderError(verdict)) {
      ++headerErrors;
      EXPECT_FALSE(whole) << round << ": zlib says " << verdict;
    }
  }
  EXPECT_GT(headerErrors, 500);  // the damage reaches the header often enough
}

#ifdef UPK_WITH_ISAL
// What a backend makes of a stream given in pieces, up to its first error.
template <class Backend>
int Decode(const std::string& stream, size_t piece, std::string& bytes, bool background = false) {
  AllocationRegister blocks;
  Backend inflater;
  if constexpr (std::is_same_v<Backend, IsalInflater>)
    if (background) inflater.backgroundWalkFrom = 1;
  EXPECT_EQ(inflater.Init(&blocks), Z_OK);
  std::string out(1 << 20, '\0');
  size_t offset = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    if (inflater.availIn == 0 && offset < stream.size()) {
      inflater.nextIn = reinterpret_cast<const uint8_t*>(stream.data()) + offset;
      inflater.availIn = static_cast<uint32_t>(std::min(piece, stream.size() - offset));
      offset += inflater.availIn;
    }
    inflater.nextOut = reinterpret_cast<uint8_t*>(out.data());
    inflater.availOut = static_cast<uint32_t>(out.size());
    result = inflater.Inflate();
    bytes.append(out.data(), out.size() - inflater.availOut);
  }
  inflater.End();
  return result;
}

TEST(DeflateWalkerTest, TheSecondThreadTakesPiecesAgainAfterEndingWhenIdle) {
  // A stream of many blocks, in pieces with pauses longer than the thread's
  // idle time between some of them; the same blocks followed by a header
  // that zlib refuses are refused the same way.
  const std::string text = MakeTextLikeData(600000, 36);
  const std::string stream = RawDeflate(text);
  const std::string damaged = OpenDeflate(text) + DynamicBlock(ThreeSymbols(), {2, 2}, {256});
  BackgroundWalk background;
  for (const std::string* s : {&stream, &damaged}) {
    DeflateWalker walker;
    const size_t piece = s->size() / 4 + 1;
    bool accepted = true;
    for (size_t at = 0, k = 0; at < s->size() && accepted; at += piece, ++k) {
      if (k == 1) std::this_thread::sleep_for(std::chrono::milliseconds(250));
      const size_t n = std::min(piece, s->size() - at);
      background.Start(&walker, reinterpret_cast<const uint8_t*>(s->data()) + at, n, at);
      accepted = background.WaitFor(at + n);
      background.Stop();
    }
    EXPECT_EQ(accepted, s == &stream);
    if (s == &stream) {
      EXPECT_TRUE(walker.Ended());
    }
  }
}

TEST(DeflateWalkerTest, IsalRefusesTheFixedCodesSymbolsThatZlibRefuses) {
  // The walk ends at a final fixed block's header, trusting ISA-L to refuse
  // literal/length codes 286 and 287 and distance codes 30 and 31.
  const auto fixedBlock = [](std::vector<std::pair<uint32_t, int>> codes) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    codes.insert(codes.begin(), {{0x30 + 'a', 8}, {0x30 + 'b', 8}});
    codes.push_back({0, 7});  // end of block
    for (const auto& [code, length] : codes) w.PutCode(code, length);
    return w.Bytes();
  };
  const std::string streams[] = {
      fixedBlock({{0xC6, 8}}), fixedBlock({{0xC7, 8}}),              // 286, 287
      fixedBlock({{1, 7}, {30, 5}}), fixedBlock({{1, 7}, {31, 5}})};  // length 3
  for (const std::string& stream : streams) {
    std::string viaZlib, viaIsal;
    EXPECT_EQ(Decode<ZlibInflater>(stream, stream.size(), viaZlib), Z_DATA_ERROR);
    EXPECT_EQ(Decode<IsalInflater>(stream, stream.size(), viaIsal), Z_DATA_ERROR);
  }
}

TEST(DeflateWalkerTest, IsalEndsARefusedHeaderAsZlibDoesInLineAndInTheBackground) {
  // Ahead of the block, 70,000 bytes in stored blocks that do not end the
  // stream, so that the whole input is one piece large enough for the
  // second thread.
  const std::string filler = MakeRandomData(70000, 35);
  std::string prefix;
  for (size_t at = 0; at < filler.size(); at += 35000) {
    const uint16_t n = 35000;
    prefix += std::string("\x00", 1) + static_cast<char>(n & 0xFF) + static_cast<char>(n >> 8) +
              static_cast<char>(~n & 0xFF) + static_cast<char>((~n >> 8) & 0xFF);
    prefix += filler.substr(at, n);
  }
  const std::vector<int> ab = {'a', 'b', 'a', 256};
  for (const auto& dist : {std::vector<uint8_t>{2, 2}, std::vector<uint8_t>{1, 1}}) {
    const std::string stream = DynamicBlock(ThreeSymbols(), dist, ab, prefix);
    for (size_t piece : {stream.size(), size_t{16384}, size_t{999}}) {
      std::string viaZlib, viaIsal, viaIsalBehind;
      const int zlibResult = Decode<ZlibInflater>(stream, piece, viaZlib);
      EXPECT_EQ(Decode<IsalInflater>(stream, piece, viaIsal), zlibResult)
          << int(dist[0]) << " in pieces of " << piece;
      // Every piece to the second thread, however small.
      EXPECT_EQ(Decode<IsalInflater>(stream, piece, viaIsalBehind, true), zlibResult)
          << int(dist[0]) << " in pieces of " << piece << ", walked behind";
      EXPECT_EQ(zlibResult, dist[0] == 2 ? Z_DATA_ERROR : Z_STREAM_END);
      if (zlibResult == Z_STREAM_END) {
        EXPECT_TRUE(viaIsal == viaZlib && viaIsalBehind == viaZlib);
      }
    }
  }
}
#endif

}  // namespace
