// Shared helpers of the test programs: a private temporary directory per
// test, running shell commands, file I/O and generated test data.
#pragma once
#include <cstdint>
#include <string>
#include "platform/win_types.h"

namespace upktest {

// A path in the system's form (UTF-8, "/"), which the tests use for files,
// in the form the core takes (UTF-16, "\"), and back.
plat::WString WinPath(const std::string& native);
std::string NativePath(plat::WStringView path);

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path()/name
  std::string Path(const std::string& name) const;
  // The directory, or path()/name, in the core's form.
  plat::WString WinPath(const std::string& name = {}) const;

 private:
  std::string m_path;
};

// Runs cmdline with /bin/sh. Standard output goes to *output when given
// (standard error stays on the test's own unless the command redirects it).
// Returns the exit code, or -1 when the command died of a signal.
int RunCommand(const std::string& cmdline, std::string* output = nullptr);
// Single-quotes text for the shell.
std::string ShellQuote(const std::string& text);

// Writes bytes to path, creating missing parent directories.
void WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Word-like text that deflate compresses about 3:1; the same for the same
// seed.
std::string MakeTextLikeData(size_t size, uint32_t seed);
// Incompressible bytes; the same for the same seed.
std::string MakeRandomData(size_t size, uint32_t seed);

uint32_t Crc32(const std::string& bytes);

// The built tree of the project ($UPK_BUILD_DIR, which ctest sets) and a
// program in its bin directory; empty when the variable is unset.
std::string BuildDir();
std::string BuiltProgram(const std::string& name);

}  // namespace upktest
