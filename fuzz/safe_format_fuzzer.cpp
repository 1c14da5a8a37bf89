// Fuzzes the integer-only formatter. Any pattern must give bounded output,
// leave text without '%' as it is and never format the directory part of a
// path; and a pattern built from pieces (text, "%%", conversions with any
// flags, width, precision and length) must give what the C library's
// snprintf gives for each integer conversion it substitutes, and the
// conversion's own text for everything it leaves alone.
//
// Input: byte 0 picks the number of arguments (0-4), 8 bytes each follow,
// then the pattern; the same pattern bytes also drive the piece builder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/safe_format.h"
#include "fuzz/fuzz_check.h"

namespace {

// Widths and precisions above this are refused by the formatter.
constexpr int kMaxField = 512;
// Longest output of one conversion: a field of kMaxField digits behind a
// two-character prefix.
constexpr size_t kMaxConversionOutput = kMaxField + 2;

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Empty() const { return m_pos >= m_size; }
  uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }
  int64_t Int64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
    return static_cast<int64_t>(v);
  }
  size_t Position() const { return m_pos; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

plat::WString Widen(const std::string& text) {
  return plat::WString(text.begin(), text.end());
}

plat::WString Format(const plat::WString& pattern, const std::vector<int64_t>& a) {
  switch (a.size()) {
    case 0: return FormatIntegers(pattern, {});
    case 1: return FormatIntegers(pattern, {a[0]});
    case 2: return FormatIntegers(pattern, {a[0], a[1]});
    case 3: return FormatIntegers(pattern, {a[0], a[1], a[2]});
    default: return FormatIntegers(pattern, {a[0], a[1], a[2], a[3]});
  }
}

// What the C library makes of one integer conversion. "l" is 32 bits for
// the formatter (as where its patterns were written), so it goes to C as int.
std::string CFormat(const std::string& flags, const std::string& field, const std::string& length,
                    char conversion, int64_t arg) {
  const std::string cLength = length == "l" ? "" : length;
  const std::string format = "%" + flags + field + cLength + conversion;
  const bool isSigned = conversion == 'd' || conversion == 'i';
  std::vector<char> out(2 * kMaxField + 64);
  int n;
  if (length == "ll") {
    n = isSigned ? std::snprintf(out.data(), out.size(), format.c_str(), static_cast<long long>(arg))
                 : std::snprintf(out.data(), out.size(), format.c_str(),
                                 static_cast<unsigned long long>(arg));
  } else {
    const auto low = static_cast<uint32_t>(arg);
    n = isSigned ? std::snprintf(out.data(), out.size(), format.c_str(), static_cast<int>(low))
                 : std::snprintf(out.data(), out.size(), format.c_str(), low);
  }
  FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < out.size());
  return std::string(out.data(), static_cast<size_t>(n));
}

// Builds a pattern from pieces and what it must format to.
void CheckAgainstSnprintf(ByteReader in, const std::vector<int64_t>& args) {
  plat::WString pattern, expected;
  size_t nextArg = 0;
  for (int piece = 0; piece < 24 && !in.Empty(); ++piece) {
    const uint8_t kind = in.Byte();
    if (kind % 4 == 0) {  // text, never a '%'
      for (int n = in.Byte() % 6; n > 0; --n) {
        uint8_t c = in.Byte();
        if (c == '%') c = 'P';
        pattern += static_cast<char16_t>(c);
        expected += static_cast<char16_t>(c);
      }
      continue;
    }
    if (kind % 4 == 1) {
      pattern += u"%%";
      expected += u"%";
      continue;
    }
    static const char kConversions[] = "diuxXdiuxXsfncpq";
    const char conversion = kConversions[in.Byte() % (sizeof kConversions - 1)];
    const bool hex = conversion == 'x' || conversion == 'X';
    const uint8_t flagBits = in.Byte();
    std::string flags;
    if (flagBits & 1) flags += '-';
    if (flagBits & 2) flags += '+';
    if (flagBits & 4) flags += ' ';
    if ((flagBits & 8) && hex) flags += '#';  // '#' means nothing defined for the others
    if (flagBits & 16) flags += '0';
    // Sizes near the formatter's limit as often as small ones.
    const auto fieldSize = [&in](uint8_t mode) {
      const uint8_t v = in.Byte();
      return mode == 1 ? v % 40 : kMaxField - 20 + v % 40;
    };
    std::string field;
    int width = 0, precision = 0;
    if (const uint8_t mode = in.Byte() % 3; mode != 0) {
      width = fieldSize(mode);
      if (width > 0) field += std::to_string(width);
    }
    if (const uint8_t mode = in.Byte() % 4; mode == 3) {
      field += '.';
    } else if (mode != 0) {
      precision = fieldSize(mode);
      field += "." + std::to_string(precision);
    }
    static const char* const kLengths[] = {"", "h", "hh", "l", "ll"};
    const std::string length = kLengths[in.Byte() % 5];

    const std::string text = "%" + flags + field + length + conversion;
    pattern += Widen(text);
    const bool integer = std::string_view("diuxX").find(conversion) != std::string_view::npos;
    if (integer && width <= kMaxField && precision <= kMaxField && nextArg < args.size()) {
      expected += Widen(CFormat(flags, field, length, conversion, args[nextArg++]));
    } else {
      expected += Widen(text);
    }
  }
  const plat::WString got = Format(pattern, args);
  if (got != expected) {
    std::fprintf(stderr, "pattern %s\n", std::string(pattern.begin(), pattern.end()).c_str());
    std::fprintf(stderr, "got      %s\nexpected %s\n", std::string(got.begin(), got.end()).c_str(),
                 std::string(expected.begin(), expected.end()).c_str());
  }
  FUZZ_CHECK(got == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  std::vector<int64_t> args(in.Byte() % 5);
  for (int64_t& arg : args) arg = in.Int64();
  const size_t patternStart = in.Position();

  // Any pattern, one character per byte.
  const plat::WString pattern(data + patternStart, data + size);
  const plat::WString out = Format(pattern, args);
  FUZZ_CHECK(out.size() <= pattern.size() + args.size() * kMaxConversionOutput);
  if (pattern.find(u'%') == plat::WString::npos) FUZZ_CHECK(out == pattern);

  // A path's directory part comes back as it was.
  const size_t slash = pattern.find_last_of(u"\\/");
  if (slash != plat::WString::npos) {
    const plat::WString named = FormatFileNamePart(pattern, {1, 1});
    FUZZ_CHECK(named.compare(0, slash + 1, pattern, 0, slash + 1) == 0);
  }

  CheckAgainstSnprintf(ByteReader(data + patternStart, size - patternStart), args);
  return 0;
}
