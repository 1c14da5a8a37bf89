// The block walk of a raw-deflate stream (see deflate_walker.h). The checks
// on a dynamic header are zlib's: at most 286 literal/length and 30 distance
// codes, a complete code for the code lengths, no repeat before the first
// length or past the last, a code for the end of the block, and literal/
// length and distance codes that are neither over-subscribed nor incomplete,
// except for a single code of one bit (or, for distances, none at all).
#include "upk4/deflate_walker.h"
#include <cstring>

namespace {

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the header gives the lengths of the code-length code.
constexpr uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Table entries: the bits taken in the low six bits, the kind above.
constexpr uint16_t kLiteral = 0 << 8, kLength = 1 << 8, kEndOfBlock = 2 << 8, kSlow = 3 << 8;
constexpr uint16_t kKindMask = 3 << 8, kTakenMask = 63;

using Code = DeflateWalker::Code;

// Counts the codes of n lengths. Returns what is left of the code space in
// units of the longest code (0 complete, above 0 incomplete, below 0
// over-subscribed); longest gets the longest length used.
int CountCode(Code& code, const uint8_t* lengths, int n, int& longest) {
  std::memset(code.count, 0, sizeof code.count);
  for (int s = 0; s < n; ++s) ++code.count[lengths[s]];
  code.count[0] = 0;
  int left = 1;
  longest = 0;
  for (int len = 1; len <= 15; ++len) {
    left = (left << 1) - code.count[len];
    if (left < 0) return left;
    if (code.count[len] != 0) longest = len;
  }
  return left;
}

// Orders the symbols of a counted code by their codes.
void OrderCode(Code& code, const uint8_t* lengths, int n) {
  uint16_t offset[16];
  offset[1] = 0;
  for (int len = 1; len < 15; ++len) offset[len + 1] = offset[len] + code.count[len];
  for (int s = 0; s < n; ++s)
    if (lengths[s] != 0) code.symbol[offset[lengths[s]]++] = static_cast<uint16_t>(s);
}

int MakeCode(Code& code, const uint8_t* lengths, int n, int& longest) {
  const int left = CountCode(code, lengths, n, longest);
  if (left >= 0) OrderCode(code, lengths, n);
  return left;
}

// Decodes one symbol from the low bits (count of them) bit by bit. -1 if
// the bits are no code, -2 if they are too few to tell.
int DecodeSlow(const Code& code, uint64_t bits, unsigned count, unsigned& used) {
  int value = 0, first = 0, index = 0;
  for (unsigned len = 1; len <= 15; ++len) {
    if (len > count) return -2;
    value |= static_cast<int>((bits >> (len - 1)) & 1);
    const int n = code.count[len];
    if (value - n < first) {
      used = len;
      return code.symbol[index + (value - first)];
    }
    index += n;
    first = (first + n) << 1;
    value <<= 1;
  }
  return -1;
}

uint16_t LiteralEntry(int s, unsigned len) {
  if (s < 256) return static_cast<uint16_t>(kLiteral | len);
  if (s == 256) return static_cast<uint16_t>(kEndOfBlock | len);
  if (s <= 285) return static_cast<uint16_t>(kLength | (len + kLengthExtra[s - 257]));
  return kSlow;
}

uint16_t DistanceEntry(int s, unsigned len) {
  return s < 30 ? static_cast<uint16_t>(len + kDistanceExtra[s]) : kSlow;
}

// Fills the table for the codes of up to `bits` bits; longer codes and
// unused bit patterns are left to the slow way.
// The bits of a 10-bit value in reverse order: codes are stored from their
// first bit, tables are indexed from the stream's first bit.
struct Reversed10 {
  uint16_t value[1024];
  constexpr Reversed10() : value() {
    for (unsigned v = 0; v < 1024; ++v)
      for (unsigned b = 0; b < 10; ++b) value[v] |= static_cast<uint16_t>(((v >> b) & 1u) << (9 - b));
  }
};
constexpr Reversed10 kReversed10;

template <class Entry>
void FillTable(uint16_t* table, int bits, const Code& code, Entry entry) {
  static_assert(DeflateWalker::kLitBits <= 10 && DeflateWalker::kDistBits <= 10);
  for (int i = 0; i < (1 << bits); ++i) table[i] = kSlow;
  unsigned value = 0;
  int index = 0;
  for (int len = 1; len <= bits; ++len) {
    for (int k = 0; k < code.count[len]; ++k, ++value, ++index) {
      const unsigned reversed = kReversed10.value[value] >> (10 - len);
      const uint16_t e = entry(code.symbol[index], static_cast<unsigned>(len));
      for (unsigned r = reversed; r < (1u << bits); r += 1u << len) table[r] = e;
    }
    value <<= 1;
  }
}

struct FixedCodes {
  Code lit, dist;
  uint16_t litTable[1 << DeflateWalker::kLitBits];
  uint16_t distTable[1 << DeflateWalker::kDistBits];
  FixedCodes() {
    uint8_t lengths[288];
    for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    int longest;
    MakeCode(lit, lengths, 288, longest);
    std::memset(lengths, 5, 32);
    MakeCode(dist, lengths, 32, longest);
    FillTable(litTable, DeflateWalker::kLitBits, lit, LiteralEntry);
    FillTable(distTable, DeflateWalker::kDistBits, dist, DistanceEntry);
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes codes;
  return codes;
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

}  // namespace

bool DeflateWalker::Walk(const uint8_t* data, size_t size) {
  const uint8_t* in = data;
  const uint8_t* const end = data + size;
  for (;;) {
    if (stage_ == Stage::kRefused) return false;
    if (stage_ == Stage::kEnded) return true;
    if (stage_ == Stage::kStoredCopy) {
      while (storedLeft_ > 0 && count_ >= 8) {
        Take(8);
        --storedLeft_;
      }
      if (storedLeft_ > 0) {
        bits_ = 0;  // any bits left belong to the bytes skipped here
        const size_t k = storedLeft_ < static_cast<size_t>(end - in) ? storedLeft_ : end - in;
        in += k;
        storedLeft_ -= static_cast<uint32_t>(k);
        if (storedLeft_ > 0) return true;
      }
      BlockEnded();
      continue;
    }
    if (stage_ == Stage::kSymbols && end - in >= 8) {
      SymbolsFast(in, end);
      continue;
    }
    // Up to 56 bits, so that the fast loop's shift stays below 64.
    while (count_ <= 48 && in < end) {
      bits_ |= static_cast<uint64_t>(*in++) << count_;
      count_ += 8;
    }
    if (!Step()) {
      if (stage_ == Stage::kRefused) return false;
      if (in == end) return true;
      stage_ = Stage::kRefused;  // more than 48 bits and still no step
    }
  }
}

void DeflateWalker::SymbolsFast(const uint8_t*& inRef, const uint8_t* end) {
  const uint16_t* litTable = fixed_ ? Fixed().litTable : litTable_;
  const uint16_t* distTable = fixed_ ? Fixed().distTable : distTable_;
  constexpr uint64_t litMask = (1u << kLitBits) - 1, distMask = (1u << kDistBits) - 1;
  // The bit buffer in registers while the loop runs.
  const uint8_t* in = inRef;
  uint64_t bits = bits_;
  unsigned count = count_;
  while (end - in >= 8) {
    // At least 56 bits after this: enough for the longest symbol with its
    // distance (15 + 5 + 15 + 13 bits).
    bits |= Load64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;
    // A literal or a length with its distance, without a branch on which:
    // the distance entry is looked up either way and counts for lengths
    // only. Ends of blocks and long codes leave the loop.
    const uint16_t e = litTable[bits & litMask];
    const unsigned n = e & kTakenMask;
    const uint16_t d = distTable[(bits >> n) & distMask];
    const unsigned isLength = (e & kKindMask) == kLength ? ~0u : 0u;
    if (((e & kKindMask) >= kEndOfBlock) | ((d & kKindMask & isLength) != 0)) {
      bits_ = bits;
      count_ = count;
      const bool more = StepSymbol() && stage_ == Stage::kSymbols;
      bits = bits_;
      count = count_;
      if (!more) break;
      continue;
    }
    const unsigned taken = n + ((d & kTakenMask) & isLength);
    bits >>= taken;
    count -= taken;
  }
  inRef = in;
  bits_ = bits;
  count_ = count;
}

bool DeflateWalker::StepSymbol() {
  // A literal from the table when it is one: the last bytes of every
  // stream come this way.
  const uint16_t e = (fixed_ ? Fixed().litTable : litTable_)[bits_ & ((1u << kLitBits) - 1)];
  if ((e & kKindMask) == kLiteral) {
    if ((e & kTakenMask) > count_) return false;
    Take(e & kTakenMask);
    return true;
  }
  const Code& lit = fixed_ ? Fixed().lit : lit_;
  const Code& dist = fixed_ ? Fixed().dist : dist_;
  unsigned used = 0;
  const int s = DecodeSlow(lit, bits_, count_, used);
  if (s == -2) return false;
  if (s < 0 || s > 285) {
    stage_ = Stage::kRefused;
    return false;
  }
  if (s <= 256) {
    Take(used);
    if (s == 256) BlockEnded();
    return true;
  }
  unsigned taken = used + kLengthExtra[s - 257];
  if (taken > count_) return false;
  const int d = DecodeSlow(dist, bits_ >> taken, count_ - taken, used);
  if (d == -2) return false;
  if (d < 0 || d >= 30) {
    stage_ = Stage::kRefused;
    return false;
  }
  taken += used + kDistanceExtra[d];
  if (taken > count_) return false;
  Take(taken);
  return true;
}

bool DeflateWalker::Step() {
  switch (stage_) {
    case Stage::kBlockStart: {
      if (count_ < 3) return false;
      final_ = (bits_ & 1) != 0;
      const unsigned type = (bits_ >> 1) & 3;
      Take(3);
      if (type == 0) {
        Take(count_ % 8);  // to the byte boundary
        stage_ = Stage::kStoredLengths;
      } else if (type == 1) {
        // The fixed codes hold symbols zlib refuses (literal/length 286 and
        // 287, distances 30 and 31), but ISA-L refuses them too: a final
        // fixed block is the end of the walk as well.
        fixed_ = true;
        stage_ = final_ ? Stage::kEnded : Stage::kSymbols;
      } else if (type == 2) {
        stage_ = Stage::kCounts;
      } else {
        stage_ = Stage::kRefused;
        return false;
      }
      return true;
    }
    case Stage::kStoredLengths: {
      if (count_ < 32) return false;
      const uint32_t length = bits_ & 0xFFFF, check = (bits_ >> 16) & 0xFFFF;
      if (length != (~check & 0xFFFF)) {
        stage_ = Stage::kRefused;
        return false;
      }
      Take(32);
      storedLeft_ = length;
      stage_ = Stage::kStoredCopy;
      return true;
    }
    case Stage::kCounts: {
      if (count_ < 14) return false;
      nlen_ = static_cast<uint16_t>(257 + (bits_ & 31));
      ndist_ = static_cast<uint16_t>(1 + ((bits_ >> 5) & 31));
      ncode_ = static_cast<uint16_t>(4 + ((bits_ >> 10) & 15));
      Take(14);
      if (nlen_ > 286 || ndist_ > 30) {
        stage_ = Stage::kRefused;
        return false;
      }
      std::memset(lengths_, 0, 19);
      read_ = 0;
      stage_ = Stage::kCodeLengthCode;
      return true;
    }
    case Stage::kCodeLengthCode: {
      if (read_ < ncode_) {
        if (count_ < 3) return false;
        do {
          lengths_[kLengthOrder[read_++]] = bits_ & 7;
          Take(3);
        } while (read_ < ncode_ && count_ >= 3);
        return true;
      }
      int longest;
      if (MakeCode(lengthCode_, lengths_, 19, longest) != 0) {
        stage_ = Stage::kRefused;  // incomplete, over-subscribed or empty
        return false;
      }
      // A complete code of at most 7 bits: every 7-bit value finds its code.
      FillTable(lengthTable_, 7, lengthCode_, [](int symbol, unsigned len) {
        return static_cast<uint16_t>(symbol << 8 | len);
      });
      read_ = 0;
      stage_ = Stage::kLengths;
      return true;
    }
    case Stage::kLengths: {
      const unsigned total = nlen_ + ndist_;
      if (read_ == total) {
        if (!BuildTables(lengths_, nlen_, ndist_)) {
          stage_ = Stage::kRefused;
          return false;
        }
        return true;
      }
      // As many lengths as the bits at hand hold.
      bool progress = false;
      while (read_ < total) {
        const uint16_t e = lengthTable_[bits_ & 127];
        const unsigned used = e & 15;
        if (used > count_) return progress;
        const int s = e >> 8;
        if (s < 16) {
          Take(used);
          lengths_[read_++] = static_cast<uint8_t>(s);
          progress = true;
          continue;
        }
        const unsigned extraBits = s == 16 ? 2 : s == 17 ? 3 : 7;
        if (used + extraBits > count_) return progress;
        const unsigned extra = (bits_ >> used) & ((1u << extraBits) - 1);
        const unsigned repeat = (s == 16 ? 3 : s == 17 ? 3 : 11) + extra;
        if ((s == 16 && read_ == 0) || read_ + repeat > total) {
          stage_ = Stage::kRefused;
          return false;
        }
        const uint8_t value = s == 16 ? lengths_[read_ - 1] : 0;
        Take(used + extraBits);
        std::memset(lengths_ + read_, value, repeat);
        read_ = static_cast<uint16_t>(read_ + repeat);
        progress = true;
      }
      return true;
    }
    case Stage::kSymbols:
      return StepSymbol();
    default:
      return false;
  }
  stage_ = Stage::kRefused;
  return false;
}

bool DeflateWalker::BuildTables(const uint8_t* lengths, int nlen, int ndist) {
  if (lengths[256] == 0) return false;  // no end of block
  int longest;
  const int litLeft = CountCode(lit_, lengths, nlen, longest);
  if (litLeft < 0 || (litLeft > 0 && longest != 1)) return false;
  const int distLeft = CountCode(dist_, lengths + nlen, ndist, longest);
  if (distLeft < 0 || (distLeft > 0 && longest > 1)) return false;
  if (final_ && litLeft == 0 && distLeft == 0) {
    // The last header of the stream, and codes with no unused bit pattern:
    // every symbol the block can hold is valid, so nothing further in the
    // stream is for the walk to see (a distance too far back is ISA-L's
    // own error). Small entries, one block each, end here.
    stage_ = Stage::kEnded;
    return true;
  }
  OrderCode(lit_, lengths, nlen);
  OrderCode(dist_, lengths + nlen, ndist);
  FillTable(litTable_, kLitBits, lit_, LiteralEntry);
  FillTable(distTable_, kDistBits, dist_, DistanceEntry);
  fixed_ = false;
  stage_ = Stage::kSymbols;
  return true;
}
