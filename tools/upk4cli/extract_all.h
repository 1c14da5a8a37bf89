// upk4 extract with no entry name: every entry of the archive, through the
// library's exports, below one destination directory.
#pragma once
#include <optional>
#include <string>

struct ExtractAllArgs {
  std::string archive, destDir = ".";
  std::optional<std::string> password;
  bool progress = false;  // a bar even when stderr is no terminal
  bool quiet = false;     // no bar and no summary; failures are still reported
};

// Returns the exit code: 0 every entry extracted, 1 the archive cannot be
// opened, 4 some entries damaged (or a wrong password), 5 some entries
// failed for another reason (5 wins when both happen).
int ExtractAll(const ExtractAllArgs& args);
