// The end of every run: the log, upk2's shutdown, the temporary directory;
// and the restart that the setup program can ask for.
#include <optional>

#include "platform/code_page.h"
#include "platform/last_error.h"
#include "setup/exit_codes.h"
#include "setup/setup_app.h"

namespace {

// Attempts at removing the temporary directory while files in it are
// still held, 25 ms apart: a little over three seconds.
constexpr int kRemoveAttempts = 121;
constexpr uint32_t kRemovePause = 25;
constexpr uint32_t kRestartPause = 400;

}  // namespace

void CSetupApp::CleanUp() {
  WriteErrorLog();
  const bool upk2Loaded = m_hUpk2 != nullptr;
  if (upk2Loaded) {
    if (UPKExit) UPKExit();
    UnloadUpk2();
  }
  plat::WString directory = m_strTempDir;
  if (!directory.empty() && directory.back() == u'\\') directory.pop_back();
  // Our directory goes whole while we still hold it: after a finished run,
  // and also after a failed one, whose leftovers (a library cut short by a
  // full disk, a second stage that could not be had) nobody needs. Once:
  // a later clean-up finds the lock released and the discard done, and
  // leaves the name, which may by then be another run's, alone.
  if (upk2Loaded || m_tempDirLock.IsHeld() || m_bDiscardTempDir) {
    m_bDiscardTempDir = false;
    const plat::WString upk2 = m_strTempDir + u"upk2.dll";
    const plat::WString upk3 = m_strTempDir + u"upk3.dll";
    const plat::WString upk4 = m_strTempDir + u"upk4.dll";

    // Windows cannot remove a process's current directory: when no program
    // ran, that is still the temporary directory.
    const std::optional<plat::WString> cwd = m_pPlatform->GetCurrentDirectory();
    if (cwd && plat::CollateWideNoCase(*cwd, directory) == 0) EnterSystemTempDirectory();

    // Our own hold goes right before the removal. A setup program that
    // still runs keeps the lock it inherited, and the removal waits for it.
    m_tempDirLock.Release();
    if (!RemoveDirectoryTree(directory) && upk2Loaded) {
      for (int attempt = 1; attempt <= kRemoveAttempts; ++attempt) {
        m_pPlatform->Sleep(kRemovePause);
        // Only while the name still stands for our own directory: once
        // another run's sweep has taken it, a new run's directory (or a
        // link another user planted) may stand there, and its files are not
        // ours to delete.
        if (!m_pPlatform->IsRunDirectory(m_tempDirLock, directory)) break;
        m_pPlatform->DeleteFile(upk2);
        m_pPlatform->DeleteFile(upk3);
        m_pPlatform->DeleteFile(upk4);
        if (attempt == kRemoveAttempts) break;
        if (RemoveDirectoryTree(directory)) break;
      }
    }
    if (upk2Loaded && m_pPlatform->PathFileExists(upk3)) m_pPlatform->MoveFileDelayUntilReboot(upk3);
  }
  // Never the system temporary path itself, when no directory of our own
  // was made.
  if (m_bTempDirCreated) m_pPlatform->RemoveDirectory(directory);
}

void CSetupApp::CleanUpAndRestart() {
  // Time for upk2, the finished setup program and the system to let go of
  // the files in our directory.
  m_pPlatform->Sleep(kRestartPause);
  CleanUp();
  RestartComputer();
  // Where no one can see a box, the restart's errors are in the list now.
  WriteErrorLog();
}

void CSetupApp::RestartComputer() {
  m_nExitCode = setup::kRebootRequired;
  m_bNtPlatform = IsNtPlatform();
  if (m_bNtPlatform) {
    if (!m_pPlatform->EnableShutdownPrivilege()) {
      ShowError(plat::GetLastError(), u"Shutdown-Error\n");
      return;
    }
    // Shows something only when the privilege could not be enabled.
    ShowError(plat::GetLastError(), u"Shutdown-Error\n");
    if (m_pPlatform->RequestRestart(true)) {
      m_nExitCode = setup::kRebootInitiated;
    } else {
      ShowError(plat::GetLastError(), u"Shutdown-Error\n");
    }
  } else if (!m_pPlatform->RequestRestart(false)) {
    ShowError(plat::GetLastError(), u"Shutdown-Error\n");
  }
}

bool CSetupApp::IsNtPlatform() {
  return m_pPlatform->IsNtFamily() && m_pPlatform->GetMajorVersion() >= 4;
}
