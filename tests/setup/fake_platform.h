// A fake of the bootstrapper's seam: records calls, never sleeps, never
// restarts, never starts a program or touches a file, and lets tests decide
// what removals, the setup program and the restart return.
#pragma once
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "setup/setup_platform.h"

class FakeSetupPlatform : public SetupPlatform {
 public:
  // Every call by name, in order, for the order of the phases.
  std::vector<std::string> calls;
  // Position of the first call of that name at or after `from`; -1 if none.
  int Find(const std::string& name, int from = 0) const {
    for (size_t i = static_cast<size_t>(from); i < calls.size(); ++i)
      if (calls[i] == name) return static_cast<int>(i);
    return -1;
  }
  size_t Count(const std::string& name) const {
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), name));
  }

  std::vector<uint32_t> sleeps;
  int treeCalls = 0;
  // Tree removal succeeds from this call on (1-based); 0 means never.
  int treeSucceedsAt = 1;
  bool treeTargetExists = true;  // what PathFileExists says before success
  std::vector<plat::WString> deletedFiles;
  std::vector<plat::WString> delayedDeletes;
  std::vector<plat::WString> existing;  // extra paths that exist
  std::vector<plat::WString> missing;   // paths that never exist
  std::vector<plat::WString> removedDirectories;
  int freedLibraries = 0;
  struct Box {
    plat::WString text, caption;
    uint32_t style;
  };
  std::vector<Box> boxes;
  bool windowStationVisible = true;

  // Files the seam would have written.
  struct Copy {
    plat::WString from, to;
    bool failIfExists;
  };
  std::vector<Copy> copies;
  struct Profile {
    plat::WString section, key, value, path;
  };
  std::vector<Profile> profiles;
  bool profileWritable = true;
  struct NewFile {
    plat::WString path;
    std::vector<uint8_t> bytes;
  };
  std::vector<NewFile> newFiles;

  // The system temporary path and the current directory.
  plat::WString tempPath = u"\\tmp\\";
  std::optional<plat::WString> currentDirectory = plat::WString(u"\\home\\user");

  // The setup program.
  std::vector<plat::WString> started;  // command lines
  bool programStarts = true;
  uint32_t programExitCode = 0;
  std::vector<uint32_t> shutdownLevels;

  bool ntFamily = true;
  uint32_t majorVersion = 10;
  bool tokenOpens = true;
  uint32_t privilegeError = 0;  // last error after the adjustment
  bool restartWorks = true;
  uint32_t restartError = plat::ERROR_GEN_FAILURE;
  std::vector<bool> restarts;  // the force argument of each request

  void Sleep(uint32_t ms) override {
    calls.push_back("Sleep");
    sleeps.push_back(ms);
  }
  bool PathFileExists(plat::WStringView path) override {
    for (const auto& p : missing)
      if (p == path) return false;
    for (const auto& p : existing)
      if (p == path) return true;
    return treeTargetExists && !treeRemoved_;
  }
  bool DeleteFile(plat::WStringView path) override {
    calls.push_back("DeleteFile");
    deletedFiles.emplace_back(path);
    plat::SetLastError(plat::ERROR_SHARING_VIOLATION);
    return false;
  }
  bool CopyFile(plat::WStringView from, plat::WStringView to, bool failIfExists) override {
    calls.push_back("CopyFile");
    copies.push_back({plat::WString(from), plat::WString(to), failIfExists});
    return true;
  }
  bool SetFileAttributes(plat::WStringView, uint32_t) override { return true; }
  bool WriteNewFile(plat::WStringView path, const std::vector<uint8_t>& bytes) override {
    calls.push_back("WriteNewFile");
    newFiles.push_back({plat::WString(path), bytes});
    return true;
  }
  bool WriteNewProfileFile(plat::WStringView section, plat::WStringView key,
                           plat::WStringView value, plat::WStringView path) override {
    calls.push_back("WriteNewProfileFile");
    profiles.push_back(
        {plat::WString(section), plat::WString(key), plat::WString(value), plat::WString(path)});
    if (!profileWritable) plat::SetLastError(plat::ERROR_FILE_EXISTS);
    return profileWritable;
  }
  bool DeleteTree(plat::WStringView) override {
    calls.push_back("DeleteTree");
    ++treeCalls;
    if (treeSucceedsAt != 0 && treeCalls >= treeSucceedsAt) treeRemoved_ = true;
    return treeRemoved_;
  }
  bool RemoveDirectory(plat::WStringView path) override {
    calls.push_back("RemoveDirectory");
    removedDirectories.emplace_back(path);
    return false;
  }
  bool runDirectory = true;
  bool IsRunDirectory(const plat::DirectoryLock&, plat::WStringView) override {
    return runDirectory;
  }
  bool MoveFileDelayUntilReboot(plat::WStringView path) override {
    delayedDeletes.emplace_back(path);
    return true;
  }
  plat::WString GetTempPath() override { return tempPath; }
  std::optional<plat::WString> GetCurrentDirectory() override { return currentDirectory; }
  bool SetCurrentDirectory(plat::WStringView path) override {
    calls.push_back("SetCurrentDirectory");
    currentDirectory = plat::WString(path);
    return true;
  }
  bool FreeLibrary(plat::LibraryHandle) override {
    calls.push_back("FreeLibrary");
    ++freedLibraries;
    return true;
  }
  bool SetProcessShutdownParameters(uint32_t level, uint32_t) override {
    shutdownLevels.push_back(level);
    return true;
  }
  bool RunProcessAndWait(plat::WStringView commandLine, uint32_t* exitCode) override {
    calls.push_back("RunProcessAndWait");
    started.emplace_back(commandLine);
    if (!programStarts) {
      plat::SetLastError(plat::ERROR_FILE_NOT_FOUND);
      return false;
    }
    *exitCode = programExitCode;
    return true;
  }
  int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style) override {
    calls.push_back("MessageBox");
    boxes.push_back({text, caption ? caption : u"", style});
    return 1;
  }
  bool IsWindowStationVisible() override { return windowStationVisible; }
  bool IsNtFamily() override { return ntFamily; }
  uint32_t GetMajorVersion() override { return majorVersion; }
  bool EnableShutdownPrivilege() override {
    if (!tokenOpens) {
      plat::SetLastError(plat::ERROR_ACCESS_DENIED);
      return false;
    }
    plat::SetLastError(privilegeError);
    return true;
  }
  bool RequestRestart(bool force) override {
    calls.push_back("RequestRestart");
    restarts.push_back(force);
    if (restartWorks) return true;
    plat::SetLastError(restartError);
    return false;
  }

 private:
  bool treeRemoved_ = false;
};

// The real seam, except for the message boxes, which are recorded.
class RecordingPlatform : public SetupPlatform {
 public:
  std::vector<plat::WString> boxes;
  int MessageBox(const char16_t* text, const char16_t*, uint32_t) override {
    boxes.emplace_back(text);
    return 1;
  }
};
