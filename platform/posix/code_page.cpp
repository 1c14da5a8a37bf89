// POSIX system calls: none; the ANSI and OEM code pages and the upper-case
// mapping are our own tables.
#include "platform/code_page.h"
#include "platform/code_page_tables.h"

namespace plat {

WString AnsiToWide(std::string_view ansi) { return Cp1252ToWide(ansi); }
std::string WideToAnsi(WStringView wide, bool* lossy) { return WideToCp1252(wide, lossy); }
void OemToAnsiInPlace(uint8_t* bytes, size_t length) { Cp437ToCp1252InPlace(bytes, length); }
char16_t UpperCaseWide(char16_t c) { return UpperCaseFromTable(c); }

}  // namespace plat
