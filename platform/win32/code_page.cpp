// Win32 system calls: the real ANSI and OEM code pages of the system.
#include "platform/win32/windows_api.h"

#include "platform/code_page.h"

namespace plat {

WString AnsiToWide(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.data(),
                                      static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.data(), static_cast<int>(ansi.size()),
                          out.data(), n);
  }
  return win32::FromWide(out);
}

std::string WideToAnsi(WStringView wide, bool* lossy) {
  if (lossy) *lossy = false;
  if (wide.empty()) return {};
  const std::wstring in = win32::Wide(wide);
  BOOL usedDefault = FALSE;
  // CP_UTF7/8 take no default-character flag; the ANSI code page does.
  const int n = ::WideCharToMultiByte(CP_ACP, 0, in.data(), static_cast<int>(in.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, in.data(), static_cast<int>(in.size()), out.data(), n,
                          nullptr, &usedDefault);
  }
  if (lossy) *lossy = usedDefault != FALSE;
  return out;
}

char16_t UpperCaseWide(char16_t c) {
  // The system's own table, the one its file systems compare names with;
  // ntdll has exported it since the first Windows NT. Were it missing, only
  // the ASCII letters would be upper-cased: the generated table stays out of
  // the Windows binaries.
  using RtlUpcaseUnicodeCharFn = WCHAR(NTAPI*)(WCHAR);
  static const auto upcase = reinterpret_cast<RtlUpcaseUnicodeCharFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
  if (upcase) return static_cast<char16_t>(upcase(static_cast<WCHAR>(c)));
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
}

void OemToAnsiInPlace(uint8_t* bytes, size_t length) {
  if (!bytes || length == 0) return;
  // OemToCharBuffA converts in place and keeps the length.
  ::OemToCharBuffA(reinterpret_cast<LPCSTR>(bytes), reinterpret_cast<LPSTR>(bytes),
                   static_cast<DWORD>(length));
}

}  // namespace plat
