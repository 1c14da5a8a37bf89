// Conversions between UTF-16 and the 8-bit code pages. On POSIX the ANSI code
// page is Windows-1252 and the OEM code page is 437, both as single-byte
// tables, so that an OEM-to-ANSI conversion keeps the byte length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include "platform/win_types.h"

namespace plat {

// MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ...): every byte gives one
// UTF-16 unit.
WString AnsiToWide(std::string_view ansi);

// WideCharToMultiByte(CP_ACP, 0, ..., no default character). Characters
// without an ANSI form become '?' and set *lossy when given.
std::string WideToAnsi(WStringView wide, bool* lossy = nullptr);

// OemToCharBuffA over a buffer, in place; the length stays the same.
void OemToAnsiInPlace(uint8_t* bytes, size_t length);

// The file-system boundary on POSIX: names there are UTF-8.
std::string Utf16ToUtf8(WStringView wide);
WString Utf8ToUtf16(std::string_view utf8);

// Convenience for literals and messages: ASCII/UTF-8 text to UTF-16.
inline WString W(std::string_view utf8) { return Utf8ToUtf16(utf8); }

// Wide-string collation as the C runtime does it in the "C" locale: wcscoll
// compares code units; the no-case form compares the FoldCaseWide keys, so
// names are equal exactly when Windows takes them for one name, and ASCII
// letters order as lower case (as _wcsicoll orders them).
int CollateWide(WStringView a, WStringView b);
int CollateWideNoCase(WStringView a, WStringView b);

// One byte of the ANSI (1252) or OEM (437) code page as UTF-16.
char16_t AnsiByteToWide(uint8_t b);
char16_t OemByteToWide(uint8_t b);
// The upper-case form of a UTF-16 unit as Windows compares names: the
// system's own table on Windows; elsewhere the simple uppercase mapping of
// the Unicode Character Database (upper_case_table.h). Windows does not fold:
// ß and ẞ stay apart, ı upper-cases to I, İ stays itself.
char16_t UpperCaseWide(char16_t c);
// The same mapping from the generated table, on every system.
char16_t UpperCaseFromTable(char16_t c);
// The key of a unit for comparisons without regard to case: its upper-case
// form, with the ASCII capitals given back as small letters so that ASCII
// names keep the order they always had. Two units have the same key exactly
// when their upper-case forms are the same.
inline char16_t FoldCaseWide(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
  const char16_t upper = UpperCaseWide(c);
  return (upper >= u'A' && upper <= u'Z') ? static_cast<char16_t>(upper + 0x20) : upper;
}

}  // namespace plat
