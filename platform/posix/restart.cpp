// POSIX system calls: the restart. On POSIX the privilege is root or
// CAP_SYS_BOOT; the restart itself is the command in UPK_RESTART_COMMAND when
// that is set (tests always set it), else the system's reboot command.
#include "platform/restart.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/posix_support.h"

namespace plat {
namespace {

constexpr int kCapSysBoot = 22;

bool HoldsShutdownPrivilege() {
  if (::geteuid() == 0) return true;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    unsigned long long caps = std::strtoull(line.c_str() + 7, nullptr, 16);
    return (caps >> kCapSysBoot) & 1u;
  }
  return false;
}

bool RunShell(const std::string& command) {
  uint32_t code = 0;
  int err = posix::SpawnAndWait("/bin/sh", {"/bin/sh", "-c", command}, &code);
  if (err != 0) {
    SetLastErrorFromErrno(err);
    return false;
  }
  if (code != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

bool IsExecutable(const char* path) { return ::access(path, X_OK) == 0; }

}  // namespace

bool IsNtFamily() { return true; }

uint32_t GetMajorVersion() {
  struct utsname name{};
  if (::uname(&name) != 0) return 4;
  unsigned long major = std::strtoul(name.release, nullptr, 10);
  return major >= 4 ? static_cast<uint32_t>(major) : 4u;
}

bool EnableShutdownPrivilege() {
  SetLastError(HoldsShutdownPrivilege() ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return true;
}

bool RequestRestart(bool /*force*/) {
  if (const char* command = std::getenv("UPK_RESTART_COMMAND")) {
    // Set but empty: nothing to run, and never the real restart.
    if (!*command) return true;
    return RunShell(command);
  }
  if (!HoldsShutdownPrivilege()) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return false;
  }
  if (IsExecutable("/usr/bin/systemctl") || IsExecutable("/bin/systemctl")) {
    // A forced restart on Windows only skips asking programs; the orderly
    // reboot is the match, not "--force", which skips stopping services.
    if (RunShell("systemctl reboot")) return true;
  }
  for (const char* reboot : {"/sbin/reboot", "/usr/sbin/reboot"}) {
    if (IsExecutable(reboot)) return RunShell(reboot);
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

}  // namespace plat
