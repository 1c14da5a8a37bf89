// Walks the block structure of a raw-deflate stream without producing any
// output, to say whether zlib would accept every block header in it.
//
// ISA-L takes block headers that zlib refuses (a code of lengths that leaves
// codes unused, for one), and decodes such a block as long as the data never
// reaches an unused code. The walker runs over the input before ISA-L sees it
// and answers false at the first header that zlib would refuse, or at
// anything it cannot follow (a symbol without a code, a length without a
// distance code, a stored length that fails its check): the caller then hands
// the stream to zlib, whose verdict holds. A false answer costs speed only;
// the walker never needs to be right about damage, only never to pass a
// header that zlib refuses.
//
// Input comes in pieces, each given once, in order; the walker keeps at most
// 56 bits between pieces. It reads no more once the final block has begun
// with fixed codes or with complete dynamic ones: no header follows, and
// ISA-L itself refuses every symbol in such a block that zlib refuses.
// Only the blocks before the last, and a last one whose codes leave bit
// patterns unused, are walked symbol by symbol.
#pragma once
#include <cstddef>
#include <cstdint>

class DeflateWalker {
 public:
  // Takes the next size bytes of the stream. False once the stream has shown
  // something that zlib refuses or that the walk cannot follow; it then stays
  // false.
  bool Walk(const uint8_t* data, size_t size);
  // Back to the start of a stream (the tables are built again before use).
  void Reset() {
    bits_ = 0;
    count_ = 0;
    stage_ = Stage::kBlockStart;
    final_ = false;
  }
  // Whether the walk is over: nothing further in the stream needs it.
  bool Ended() const { return stage_ == Stage::kEnded; }
  // Bits taken in but not walked yet (at most 56).
  unsigned HeldBits() const { return count_; }

  // Lookup tables: one entry per value of the next kLitBits (kDistBits)
  // bits, giving the bits that the symbol takes together with its extra
  // bits, and what it is. Codes longer than the table go the slow way.
  static constexpr int kLitBits = 10;
  static constexpr int kDistBits = 8;
  struct Code {
    uint8_t count[16];     // codes of each length
    uint16_t symbol[288];  // symbols ordered by code
  };

 private:
  enum class Stage : uint8_t {
    kBlockStart,
    kStoredLengths,
    kStoredCopy,
    kCounts,
    kCodeLengthCode,
    kLengths,
    kSymbols,
    kEnded,
    kRefused,
  };

  // One step of the stage, on the bits at hand; false if they are too few
  // (nothing is then taken). Sets stage_ to kRefused on a refusal.
  bool Step();
  bool StepSymbol();
  void SymbolsFast(const uint8_t*& in, const uint8_t* end);
  // Checks the codes of a dynamic header and goes on to its symbols, or to
  // the end when nothing in them can need the walk; false on a refusal.
  bool BuildTables(const uint8_t* lengths, int nlen, int ndist);
  void BlockEnded() { stage_ = final_ ? Stage::kEnded : Stage::kBlockStart; }

  void Take(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }

  uint64_t bits_ = 0;  // the next count_ bits of the stream, first bit lowest
  unsigned count_ = 0;
  Stage stage_ = Stage::kBlockStart;
  bool final_ = false;
  bool fixed_ = false;
  uint32_t storedLeft_ = 0;
  // The dynamic header being read.
  uint16_t nlen_ = 0, ndist_ = 0, ncode_ = 0, read_ = 0;
  uint8_t lengths_[320] = {};
  Code lengthCode_{};
  uint16_t lengthTable_[128] = {};  // symbol << 8 | length, by the next 7 bits
  // The codes of the current dynamic block.
  Code lit_{}, dist_{};
  uint16_t litTable_[1 << kLitBits] = {};
  uint16_t distTable_[1 << kDistBits] = {};
};
