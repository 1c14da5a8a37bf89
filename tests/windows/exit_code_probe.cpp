// A helper of the Windows tests, run under Wine. Two uses:
//   exit_code_probe --exit N           exits with N (full 32 bits)
//   exit_code_probe [NAME=VALUE ...] -- COMMAND LINE
//       sets the variables, runs the command line, waits, and prints the
//       program's exit code in full, which the Linux side cannot see (a
//       Wine process's status there keeps 8 bits).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--exit") {
    return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
  }
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    if (_putenv(argv[i]) != 0) return 125;
  }
  std::vector<plat::WString> args;
  for (++i; i < argc; ++i) args.push_back(plat::Utf8ToUtf16(argv[i]));
  if (args.empty()) {
    std::fprintf(stderr, "usage: exit_code_probe --exit N | [NAME=VALUE ...] -- PROGRAM [ARG ...]\n");
    return 2;
  }
  uint32_t code = 0;
  if (!plat::RunProcessAndWait(plat::JoinCommandLine(args), &code)) {
    std::printf("not started: %lu\n", static_cast<unsigned long>(plat::GetLastError()));
    return 126;
  }
  std::printf("exit code: %lu\n", static_cast<unsigned long>(code));
  return 0;
}
