// The same on every system: the Windows-1252 and code page 437 tables (the
// POSIX ANSI and OEM code pages), UTF-8 <-> UTF-16, and the collation of the
// C runtime's "C" locale.
#include "platform/code_page.h"

#include <algorithm>
#include <iterator>

#include "platform/code_page_tables.h"

#include <array>

namespace plat {
namespace {

// Bytes 0x80-0xFF. The five bytes that 1252 leaves undefined map to the C1
// control of the same value, as the Windows conversion does, so every byte
// round-trips.
constexpr std::array<char16_t, 128> kAnsiHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

constexpr std::array<char16_t, 128> kOemHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Best-fit ANSI bytes for the OEM characters that 1252 lacks, so that an
// OEM name keeps its length and stays readable: line drawing becomes
// '|', '-' and '+', Greek letters their Latin look-alikes, shades and blocks
// '?'. Indexed by OEM byte - 0x80; 0 means "the 1252 table has it".
constexpr std::array<uint8_t, 128> BuildOemBestFit() {
  std::array<uint8_t, 128> fit{};
  auto set = [&fit](uint8_t oem, char ansi) { fit[oem - 0x80] = static_cast<uint8_t>(ansi); };
  set(0x9E, 'P');                               // peseta sign
  fit[0xA9 - 0x80] = 0xAC;                      // reversed not sign -> not sign
  for (int b = 0xB0; b <= 0xDF; ++b) set(static_cast<uint8_t>(b), '+');
  for (int b : {0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF}) set(static_cast<uint8_t>(b), '?');
  for (int b : {0xB3, 0xBA}) set(static_cast<uint8_t>(b), '|');
  for (int b : {0xC4, 0xCD}) set(static_cast<uint8_t>(b), '-');
  set(0xE0, 'a'); set(0xE2, 'G'); set(0xE3, 'p'); set(0xE4, 'S'); set(0xE5, 's');
  set(0xE7, 't'); set(0xE8, 'F'); set(0xE9, 'T'); set(0xEA, 'O'); set(0xEB, 'd');
  set(0xEC, '8'); set(0xED, 'f'); set(0xEE, 'e'); set(0xEF, 'n'); set(0xF0, '=');
  set(0xF2, '>'); set(0xF3, '<'); set(0xF4, '('); set(0xF5, ')'); set(0xF7, '~');
  fit[0xF9 - 0x80] = 0xB7;                      // bullet operator -> middle dot
  set(0xFB, 'v'); set(0xFC, 'n'); set(0xFE, '?');
  return fit;
}
constexpr std::array<uint8_t, 128> kOemBestFit = BuildOemBestFit();

// Unicode -> 1252 byte; -1 when 1252 has no such character.
int WideToAnsiByte(char16_t c) {
  if (c < 0x80) return c;
  if (c >= 0xA0 && c <= 0xFF) return c;
  for (int i = 0; i < 0x20; ++i) {
    if (kAnsiHigh[i] == c) return 0x80 + i;
  }
  return -1;
}

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(WString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

char16_t AnsiByteToWide(uint8_t b) { return b < 0x80 ? b : kAnsiHigh[b - 0x80]; }
char16_t OemByteToWide(uint8_t b) { return b < 0x80 ? b : kOemHigh[b - 0x80]; }

WString Cp1252ToWide(std::string_view ansi) {
  WString out;
  out.reserve(ansi.size());
  for (char ch : ansi) out.push_back(AnsiByteToWide(static_cast<uint8_t>(ch)));
  return out;
}

std::string WideToCp1252(WStringView wide, bool* lossy) {
  std::string out;
  out.reserve(wide.size());
  bool lost = false;
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t c = wide[i];
    int b = WideToAnsiByte(c);
    if (b < 0) {
      lost = true;
      out.push_back('?');
      // A surrogate pair is one character and gives one '?'.
      if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) ++i;
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  if (lossy) *lossy = lost;
  return out;
}

void Cp437ToCp1252InPlace(uint8_t* bytes, size_t length) {
  if (!bytes) return;
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = bytes[i];
    if (b < 0x80) continue;
    int ansi = WideToAnsiByte(kOemHigh[b - 0x80]);
    bytes[i] = ansi >= 0 ? static_cast<uint8_t>(ansi) : kOemBestFit[b - 0x80];
  }
}

std::string Utf16ToUtf8(WStringView wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t c = wide[i];
    if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

WString Utf8ToUtf16(std::string_view utf8) {
  WString out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n) {
    uint8_t b = static_cast<uint8_t>(utf8[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra;
    char32_t cp;
    char32_t minimum;
    if (b >= 0xC2 && b <= 0xDF) { extra = 1; cp = b & 0x1F; minimum = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { extra = 2; cp = b & 0x0F; minimum = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { extra = 3; cp = b & 0x07; minimum = 0x10000; }
    else { out.push_back(static_cast<char16_t>(kReplacement)); ++i; continue; }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= n || (static_cast<uint8_t>(utf8[j]) & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (static_cast<uint8_t>(utf8[j]) & 0x3F);
    }
    if (ok && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      // Replace the lead byte and the continuation bytes that belonged to
      // it, then resume at the first byte that did not.
      out.push_back(static_cast<char16_t>(kReplacement));
      size_t k = i + 1;
      while (k < j && k < n && (static_cast<uint8_t>(utf8[k]) & 0xC0) == 0x80) ++k;
      i = k;
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

int CollateWide(WStringView a, WStringView b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CollateWideNoCase(WStringView a, WStringView b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldCaseWide(a[i]);
    char16_t y = FoldCaseWide(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace plat
