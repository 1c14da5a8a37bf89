// What the hand-off, the error report, the clean-up and the restart ask of
// the system, behind one seam: the real calls start programs, write into the
// shared temporary path, show boxes that wait for a user, sleep for seconds
// or restart the machine, so tests replace them with a subclass.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>
#include "platform/dir_tree.h"
#include "platform/library.h"
#include "platform/win_types.h"

class SetupPlatform {
 public:
  virtual ~SetupPlatform() = default;

  // Files and directories.
  virtual bool PathFileExists(plat::WStringView path);
  virtual bool DeleteFile(plat::WStringView path);
  virtual bool CopyFile(plat::WStringView from, plat::WStringView to, bool failIfExists);
  virtual bool SetFileAttributes(plat::WStringView path, uint32_t attributes);
  // Creates the file, which must not exist (a link under the name is never
  // followed), and writes the bytes. False when it cannot be created or
  // written whole.
  virtual bool WriteNewFile(plat::WStringView path, const std::vector<uint8_t>& bytes);
  // A new file holding only [section] with key=value (see
  // plat::WriteNewProfileFile).
  virtual bool WriteNewProfileFile(plat::WStringView section, plat::WStringView key,
                                   plat::WStringView value, plat::WStringView path);
  virtual bool DeleteTree(plat::WStringView path);
  virtual bool RemoveDirectory(plat::WStringView path);
  // Whether the path still names the run's own directory (see
  // DirectoryLock::Names).
  virtual bool IsRunDirectory(const plat::DirectoryLock& lock, plat::WStringView path);
  virtual bool MoveFileDelayUntilReboot(plat::WStringView path);
  // The system temporary path, with its trailing separator; empty when it
  // cannot be named.
  virtual plat::WString GetTempPath();
  virtual std::optional<plat::WString> GetCurrentDirectory();
  virtual bool SetCurrentDirectory(plat::WStringView path);

  // Libraries and programs.
  virtual bool FreeLibrary(plat::LibraryHandle library);
  virtual bool SetProcessShutdownParameters(uint32_t level, uint32_t flags);
  // Starts the program and waits for it; false (last error set) when it
  // cannot be started.
  virtual bool RunProcessAndWait(plat::WStringView commandLine, uint32_t* exitCode);
  virtual void Sleep(uint32_t milliseconds);

  // Messages.
  virtual int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style);
  // Whether anyone can see a message box of this process.
  virtual bool IsWindowStationVisible();
  // The system's text for an error code; empty when it has none.
  virtual plat::WString FormatSystemMessage(uint32_t code);

  // The restart.
  virtual bool IsNtFamily();
  virtual uint32_t GetMajorVersion();
  virtual bool EnableShutdownPrivilege();
  virtual bool RequestRestart(bool force);

  // The process-wide real implementation.
  static SetupPlatform& Real();
};
