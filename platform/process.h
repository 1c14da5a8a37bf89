// Starting a program and waiting for it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "platform/win_types.h"

namespace plat {

// Splits a command line by the Windows rules (CommandLineToArgvW /
// the C runtime's argv parsing): blanks separate, quotes group, backslashes
// escape quotes only in front of them.
std::vector<WString> SplitCommandLine(WStringView commandLine);
// Joins arguments so that SplitCommandLine gives them back exactly: an
// argument holding a blank, a tab or a quote (or empty) is quoted.
WString QuoteArgument(WStringView argument);
WString JoinCommandLine(const std::vector<WString>& arguments);

// The argument text of this process, set by main through
// SetProcessArguments: argv[1..] joined as above on POSIX, the command line
// after the program name on Windows.
void SetProcessArguments(int argc, char** argv);
void SetArgumentText(WString text);
WString GetArgumentText();

// CreateProcess with the command line parsed by the Windows rules (the first
// argument is the program), the current environment and directory, then a
// wait without limit. Returns false (last error set) when the program cannot
// be started; otherwise the exit code in *exitCode.
bool RunProcessAndWait(WStringView commandLine, uint32_t* exitCode);

// SetProcessShutdownParameters: no effect on POSIX.
bool SetProcessShutdownParameters(uint32_t level, uint32_t flags);

}  // namespace plat
