#include "setup/setup_platform.h"

#include "platform/dir_tree.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/restart.h"
#include "platform/window.h"

void SetupPlatform::Sleep(uint32_t milliseconds) { plat::Sleep(milliseconds); }
bool SetupPlatform::PathFileExists(plat::WStringView path) { return plat::PathFileExists(path); }
bool SetupPlatform::DeleteFile(plat::WStringView path) { return plat::DeleteFile(path); }
bool SetupPlatform::DeleteTree(plat::WStringView path) { return plat::DeleteTree(path); }
bool SetupPlatform::RemoveDirectory(plat::WStringView path) { return plat::RemoveDirectory(path); }
bool SetupPlatform::IsRunDirectory(const plat::DirectoryLock& lock, plat::WStringView path) {
  return lock.Names(path);
}
bool SetupPlatform::MoveFileDelayUntilReboot(plat::WStringView path) {
  return plat::MoveFileDelayUntilReboot(path);
}
bool SetupPlatform::FreeLibrary(plat::LibraryHandle library) { return plat::FreeLibrary(library); }
int SetupPlatform::MessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
  return plat::MessageBox(text, caption, style);
}
bool SetupPlatform::IsNtFamily() { return plat::IsNtFamily(); }
uint32_t SetupPlatform::GetMajorVersion() { return plat::GetMajorVersion(); }
bool SetupPlatform::EnableShutdownPrivilege() { return plat::EnableShutdownPrivilege(); }
bool SetupPlatform::RequestRestart(bool force) { return plat::RequestRestart(force); }

SetupPlatform& SetupPlatform::Real() {
  static SetupPlatform real;
  return real;
}
