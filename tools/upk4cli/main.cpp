// upk4: lists, tests and extracts the entries of a ZIP archive through the
// same reader that the unpacker library uses.
#include <cstdio>
#include <cstring>
#include "commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* synopsis;
};

// One line per subcommand.
const Command kCommands[] = {
    {"list", RunList, "list ARCHIVE            list the entries of ARCHIVE"},
    {"extract", RunExtract, "extract ARCHIVE ENTRY [DESTDIR] [--as NAME] [--password PW]  extract one entry"},
    {"extract", RunExtract, "extract ARCHIVE [DESTDIR] [--password PW] [-q] [-j N]  extract every entry"},
    {"test", RunTest, "test ARCHIVE [--password PW]  decode every entry and check its CRC-32"},
    {"test", RunTest, "test --package PACKAGE  check a package's own CRC-32 without running it"},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: upk4 COMMAND [OPTIONS] ARCHIVE ...\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.synopsis);
  std::fprintf(out, "\n'upk4 COMMAND --help' describes a command.\n");
}

}  // namespace

bool IsHelpArgument(const char* arg) {
  return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (IsHelpArgument(argv[1]) || std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "upk4: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
