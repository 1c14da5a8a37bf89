// The subcommands of the upk4 tool. Each receives the arguments from the
// command name on (argv[0] is "list", "extract", ...) and returns the exit
// code: 0 success, 1 the archive could not be read, 2 bad usage.
#pragma once

int RunList(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunTest(int argc, char** argv);
// upk4 test --package PACKAGE: the package's own CRC-32.
int RunPackageTest(const char* packagePath);

// Shared by the subcommands: true when the argument asks for help.
bool IsHelpArgument(const char* arg);
