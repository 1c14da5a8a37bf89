// Win32 system calls: the process's own command line, and CreateProcessW
// with a wait for the program's end.
#include "platform/win32/windows_api.h"

#include "platform/last_error.h"
#include "platform/process.h"

namespace plat {
namespace {

// The command line after the program name, as the C runtime skips it: a
// quoted name ends at the next quote, a plain one at the first blank.
WString ArgumentTail(WStringView line) {
  size_t i = 0;
  if (i < line.size() && line[i] == u'"') {
    ++i;
    while (i < line.size() && line[i] != u'"') ++i;
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && line[i] != u' ' && line[i] != u'\t') ++i;
  }
  while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
  return WString(line.substr(i));
}

}  // namespace

void SetProcessArguments(int /*argc*/, char** /*argv*/) {
  // argv is in the ANSI code page there; the wide command line is exact.
  const wchar_t* line = ::GetCommandLineW();
  SetArgumentText(ArgumentTail(line ? win32::FromWide(line, wcslen(line)) : WString()));
}

bool RunProcessAndWait(WStringView commandLine, uint32_t* exitCode) {
  const std::vector<WString> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // The program is named, never searched for along the path.
  const std::wstring program = win32::Wide(args[0]);
  std::wstring line = win32::Wide(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    return false;
  }
  win32::ScopedHandle process(info.hProcess);
  win32::ScopedHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return false;
  if (exitCode) *exitCode = code;
  return true;
}

bool SetProcessShutdownParameters(uint32_t level, uint32_t flags) {
  return ::SetProcessShutdownParameters(level, flags) != FALSE;
}

}  // namespace plat
