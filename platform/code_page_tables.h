// Conversions over our own Windows-1252 and code page 437 tables: the ANSI
// and OEM code pages of the POSIX backend. Windows uses its real code pages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include "platform/win_types.h"

namespace plat {

// Every byte gives one UTF-16 unit.
WString Cp1252ToWide(std::string_view bytes);
// Characters without a 1252 byte become '?' and set *lossy when given.
std::string WideToCp1252(WStringView wide, bool* lossy);
// OEM bytes to ANSI bytes in place, keeping the length (best fit where 1252
// lacks the character).
void Cp437ToCp1252InPlace(uint8_t* bytes, size_t length);

}  // namespace plat
