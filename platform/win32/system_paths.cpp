// Win32 system calls: the temporary directory and the file of a module.
#include "platform/win32/windows_api.h"

#include "platform/file_system.h"

namespace plat {
namespace {

using win32::FromWide;

using GetTempPathFn = DWORD(WINAPI*)(DWORD, LPWSTR);

WString TempPathFrom(GetTempPathFn get) {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD n = get(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return {};
  WString path = FromWide(buffer, n);
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path;
}

}  // namespace

WString GetTempPath() { return TempPathFrom(&::GetTempPathW); }

WString GetRunTempPath() {
  // GetTempPath2W (Windows 11, and 10 with the 2022 updates) gives SYSTEM
  // its own "C:\Windows\SystemTemp", which other users cannot write; every
  // other caller gets what GetTempPathW gives.
  static const auto get2 = reinterpret_cast<GetTempPathFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  return TempPathFrom(get2 ? get2 : &::GetTempPathW);
}

WString GetModuleFileName(const void* addressInModule) {
  HMODULE module = nullptr;
  if (addressInModule &&
      !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(addressInModule), &module)) {
    module = nullptr;
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace plat
