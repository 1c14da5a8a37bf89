#include "setup/setup_platform.h"

#include "platform/dir_tree.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/restart.h"
#include "platform/window.h"

bool SetupPlatform::PathFileExists(plat::WStringView path) { return plat::PathFileExists(path); }
bool SetupPlatform::DeleteFile(plat::WStringView path) { return plat::DeleteFile(path); }
bool SetupPlatform::CopyFile(plat::WStringView from, plat::WStringView to, bool failIfExists) {
  return plat::CopyFile(from, to, failIfExists);
}
bool SetupPlatform::SetFileAttributes(plat::WStringView path, uint32_t attributes) {
  return plat::SetFileAttributes(path, attributes);
}

bool SetupPlatform::WriteNewFile(plat::WStringView path, const std::vector<uint8_t>& bytes) {
  const plat::FileHandle file = plat::OpenFileHandle(path, plat::FileAccess::Write,
                                                     plat::FileShare::Exclusive,
                                                     plat::FileCreate::CreateNew);
  if (file == plat::kInvalidFile) return false;
  const int64_t written =
      plat::WriteFileHandle(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
  const bool closed = plat::CloseFileHandle(file);
  return written == static_cast<int64_t>(bytes.size()) && closed;
}

bool SetupPlatform::WriteNewProfileFile(plat::WStringView section, plat::WStringView key,
                                        plat::WStringView value, plat::WStringView path) {
  return plat::WriteNewProfileFile(section, key, value, path);
}
bool SetupPlatform::DeleteTree(plat::WStringView path) { return plat::DeleteTree(path); }
bool SetupPlatform::RemoveDirectory(plat::WStringView path) { return plat::RemoveDirectory(path); }
bool SetupPlatform::IsRunDirectory(const plat::DirectoryLock& lock, plat::WStringView path) {
  return lock.Names(path);
}
bool SetupPlatform::MoveFileDelayUntilReboot(plat::WStringView path) {
  return plat::MoveFileDelayUntilReboot(path);
}
plat::WString SetupPlatform::GetTempPath() { return plat::GetTempPath(); }
std::optional<plat::WString> SetupPlatform::GetCurrentDirectory() {
  return plat::GetCurrentDirectory();
}
bool SetupPlatform::SetCurrentDirectory(plat::WStringView path) {
  return plat::SetCurrentDirectory(path);
}

bool SetupPlatform::FreeLibrary(plat::LibraryHandle library) { return plat::FreeLibrary(library); }
bool SetupPlatform::SetProcessShutdownParameters(uint32_t level, uint32_t flags) {
  return plat::SetProcessShutdownParameters(level, flags);
}
bool SetupPlatform::RunProcessAndWait(plat::WStringView commandLine, uint32_t* exitCode) {
  return plat::RunProcessAndWait(commandLine, exitCode);
}
void SetupPlatform::Sleep(uint32_t milliseconds) { plat::Sleep(milliseconds); }

int SetupPlatform::MessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
  return plat::MessageBox(text, caption, style);
}
bool SetupPlatform::IsWindowStationVisible() { return plat::IsWindowStationVisible(); }
plat::WString SetupPlatform::FormatSystemMessage(uint32_t code) {
  return plat::FormatSystemMessage(code);
}

bool SetupPlatform::IsNtFamily() { return plat::IsNtFamily(); }
uint32_t SetupPlatform::GetMajorVersion() { return plat::GetMajorVersion(); }
bool SetupPlatform::EnableShutdownPrivilege() { return plat::EnableShutdownPrivilege(); }
bool SetupPlatform::RequestRestart(bool force) { return plat::RequestRestart(force); }

SetupPlatform& SetupPlatform::Real() {
  static SetupPlatform real;
  return real;
}
