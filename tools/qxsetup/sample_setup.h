// The sample setup program. Setup starts it without arguments; the user's
// arguments reach it through "qx.tmp" beside it (section "PARA", key
// "CommandString"). It understands four switches and passes everything else
// to its "real work", which only prints what it would install:
//
//   /exitcode=N      exit with N (default 0)
//   /report=PATH     write a UTF-8 report of what it saw (see WriteReport)
//   /writestvar=TEXT write "stvar.ini" beside itself holding TEXT
//   /sleep=MS        wait that long after the report before exiting (a
//                    setup program that outlives its Setup)
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "platform/win_types.h"

namespace qxsetup {

struct Options {
  std::vector<plat::WString> arguments;  // every argument, switches included
  std::vector<plat::WString> work;       // the arguments that are not switches
  std::optional<int64_t> exitCode;
  std::optional<plat::WString> reportPath;
  std::optional<plat::WString> stvarText;
  std::optional<int64_t> sleepMs;
};

// Switch names compare without regard to case; a later switch of the same
// name wins. An /exitcode whose value is not a number is passed on as work.
Options ParseArguments(const std::vector<plat::WString>& arguments);

// What the program saw when it started.
struct Observation {
  plat::WString moduleDir;      // own directory, Windows form, trailing "\"
  plat::WString currentDir;     // Windows form
  bool qxTmpPresent = false;
  plat::WString commandString;  // raw "CommandString" value
  bool stvarPresent = false;    // "stvar.ini" beside the program at start
};

// The report, one "key=value" line each, in this order:
//   argument=<arg>            once per argument, in order
//   directory=<current directory, native form>
//   module=<own directory, native form>
//   qx.tmp=present|absent
//   commandstring=<raw value>
//   stvar.ini=present|absent
//   exitcode=<code the program exits with>
std::string FormatReport(const Options& options, const Observation& seen, int64_t exitCode);

// The whole program; returns the process exit code.
int Run();

}  // namespace qxsetup
