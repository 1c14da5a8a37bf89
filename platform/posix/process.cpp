// POSIX system calls: starting a program with posix_spawn and waiting for it.
#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "platform/posix/posix_support.h"

extern char** environ;

namespace plat {

void SetProcessArguments(int argc, char** argv) {
  std::vector<WString> args;
  for (int i = 1; i < argc && argv && argv[i]; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  SetArgumentText(JoinCommandLine(args));
}

namespace posix {

int SpawnAndWait(const std::string& program, const std::vector<std::string>& args,
                 uint32_t* exitCode) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int err = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (err != 0) return err;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return errno;
  }
  uint32_t code = 0;
  if (WIFEXITED(status)) code = static_cast<uint32_t>(WEXITSTATUS(status));
  else if (WIFSIGNALED(status)) code = 128u + static_cast<uint32_t>(WTERMSIG(status));
  if (exitCode) *exitCode = code;
  return 0;
}

}  // namespace posix

bool RunProcessAndWait(WStringView commandLine, uint32_t* exitCode) {
  std::vector<WString> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string program = ResolveNativePath(args[0]);
  struct stat st{};
  if (::stat(program.c_str(), &st) != 0) {
    posix::SetLastErrorForPath(errno, program);
    return false;
  }
  if (!S_ISREG(st.st_mode) || ::access(program.c_str(), X_OK) != 0 || (st.st_mode & 0111) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::vector<std::string> argv;
  argv.push_back(program);
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(Utf16ToUtf8(args[i]));
  int err = posix::SpawnAndWait(program, argv, exitCode);
  if (err != 0) {
    SetLastError(err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ErrnoToWin32(err));
    return false;
  }
  return true;
}

bool SetProcessShutdownParameters(uint32_t /*level*/, uint32_t /*flags*/) { return true; }

}  // namespace plat
