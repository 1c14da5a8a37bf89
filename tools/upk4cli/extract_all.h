// upk4 extract with no entry name: every entry of the archive below one
// destination directory, by a crew of workers over one open archive, with
// the library's results per entry.
#pragma once
#include <optional>
#include <string>

struct ExtractAllArgs {
  std::string archive, destDir = ".";
  std::optional<std::string> password;
  bool progress = false;  // a bar even when stderr is no terminal
  bool quiet = false;     // no bar and no summary; failures are still reported
  unsigned workers = 0;   // 0: one per processor, at most 8
};

// Returns the exit code: 0 every entry extracted, 1 the archive cannot be
// opened, 4 some entries damaged (or a wrong password), 5 some entries
// failed for another reason (5 wins when both happen). The files, the
// messages (in archive order) and the code do not depend on the number of
// workers.
int ExtractAll(const ExtractAllArgs& args);
