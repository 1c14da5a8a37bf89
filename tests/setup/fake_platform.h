// A fake of the bootstrapper's seam: records calls, never sleeps, never
// restarts, and lets tests decide what removals and the restart return.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "setup/setup_platform.h"

class FakeSetupPlatform : public SetupPlatform {
 public:
  std::vector<uint32_t> sleeps;
  int treeCalls = 0;
  // Tree removal succeeds from this call on (1-based); 0 means never.
  int treeSucceedsAt = 1;
  bool treeTargetExists = true;  // what PathFileExists says before success
  std::vector<plat::WString> deletedFiles;
  std::vector<plat::WString> delayedDeletes;
  std::vector<plat::WString> existing;  // extra paths that exist
  int freedLibraries = 0;
  struct Box {
    plat::WString text, caption;
    uint32_t style;
  };
  std::vector<Box> boxes;

  bool ntFamily = true;
  uint32_t majorVersion = 10;
  bool tokenOpens = true;
  uint32_t privilegeError = 0;  // last error after the adjustment
  bool restartWorks = true;
  uint32_t restartError = plat::ERROR_GEN_FAILURE;
  std::vector<bool> restarts;  // the force argument of each request

  void Sleep(uint32_t ms) override { sleeps.push_back(ms); }
  bool PathFileExists(plat::WStringView path) override {
    for (const auto& p : existing)
      if (p == path) return true;
    return treeTargetExists && !treeRemoved_;
  }
  bool DeleteFile(plat::WStringView path) override {
    deletedFiles.emplace_back(path);
    plat::SetLastError(plat::ERROR_SHARING_VIOLATION);
    return false;
  }
  bool DeleteTree(plat::WStringView) override {
    ++treeCalls;
    if (treeSucceedsAt != 0 && treeCalls >= treeSucceedsAt) treeRemoved_ = true;
    return treeRemoved_;
  }
  bool RemoveDirectory(plat::WStringView) override { return false; }
  bool runDirectory = true;
  bool IsRunDirectory(const plat::DirectoryLock&, plat::WStringView) override {
    return runDirectory;
  }
  bool MoveFileDelayUntilReboot(plat::WStringView path) override {
    delayedDeletes.emplace_back(path);
    return true;
  }
  bool FreeLibrary(plat::LibraryHandle) override {
    ++freedLibraries;
    return true;
  }
  int MessageBox(const char16_t* text, const char16_t* caption, uint32_t style) override {
    boxes.push_back({text, caption ? caption : u"", style});
    return 1;
  }
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
