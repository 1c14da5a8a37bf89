// POSIX system calls: whether a standard stream is a terminal.
#include "platform/console.h"

#include <unistd.h>

namespace plat {

bool IsTerminal(StandardStream stream) {
  const int fd = stream == StandardStream::Input    ? STDIN_FILENO
                 : stream == StandardStream::Output ? STDOUT_FILENO
                                                    : STDERR_FILENO;
  return isatty(fd) == 1;
}

}  // namespace plat
