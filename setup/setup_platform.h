// The system calls of the clean-up and the restart, behind one seam: the real
// ones can restart the machine, sleep for seconds or depend on files that
// another process holds, so tests replace them with a subclass.
#pragma once
#include <cstdint>
#include "platform/dir_tree.h"
#include "platform/library.h"
#include "platform/win_types.h"

class SetupPlatform {
 public:
  virtual ~SetupPlatform() = default;

  virtual void Sleep(uint32_t milliseconds);
  virtual bool PathFileExists(plat::WStringView path);
  virtual bool DeleteFile(plat::WStringView path);
  virtual bool DeleteTree(plat::WStringView path);
  virtual bool RemoveDirectory(plat::WStringView path);
  // Whether the path still names the run's own directory (see
  // DirectoryLock::Names).
  virtual bool IsRunDirectory(const plat::DirectoryLock& lock, plat::WStringView path);
  virtual bool MoveFileDelayUntilReboot(plat::WStringView path);
  virtual bool FreeLibrary(plat::LibraryHandle library);
  virtual int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style);

  virtual bool IsNtFamily();
  virtual uint32_t GetMajorVersion();
  virtual bool EnableShutdownPrivilege();
  virtual bool RequestRestart(bool force);

  // The process-wide real implementation.
  static SetupPlatform& Real();
};
