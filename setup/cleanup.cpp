// The end of every run: the log, upk2's shutdown, the temporary directory;
// and the restart that the setup program can ask for.
#include <optional>

#include "platform/code_page.h"
#include "platform/file_system.h"
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
  if (m_hUpk2) {
    if (UPKExit) UPKExit();
    UnloadUpk2();
    m_strPath = m_strTempDir + u"upk2.dll";
    const plat::WString upk3 = m_strTempDir + u"upk3.dll";
    const plat::WString upk4 = m_strTempDir + u"upk4.dll";
    if (!m_strTempDir.empty() && m_strTempDir.back() == u'\\') m_strTempDir.pop_back();

    // Windows cannot remove a process's current directory: when no program
    // ran, that is still the temporary directory.
    const std::optional<plat::WString> cwd = plat::GetCurrentDirectory();
    if (cwd && plat::CollateWideNoCase(*cwd, m_strTempDir) == 0) EnterSystemTempDirectory();

    // Our own mark goes right before the removal; from here on the
    // directory is a leftover that any later sweep may take.
    m_tempDirLock.Release();
    if (!RemoveDirectoryTree(m_strTempDir)) {
      for (int attempt = 1; attempt <= kRemoveAttempts; ++attempt) {
        m_pPlatform->Sleep(kRemovePause);
        m_pPlatform->DeleteFile(m_strPath);
        m_pPlatform->DeleteFile(upk3);
        m_pPlatform->DeleteFile(upk4);
        if (attempt == kRemoveAttempts) break;
        if (RemoveDirectoryTree(m_strTempDir)) break;
      }
    }
    if (m_pPlatform->PathFileExists(upk3)) m_pPlatform->MoveFileDelayUntilReboot(upk3);
  }
  // Never the system temporary path itself, when no directory of our own
  // was made. After a failed preparation only an empty directory goes; the
  // in-use mark is dropped first so that it does not count as content.
  if (m_bTempDirCreated) {
    if (m_tempDirLock.IsHeld()) {
      m_tempDirLock.Release();
      plat::WString dir = m_strTempDir;
      if (dir.empty() || dir.back() != u'\\') dir += u'\\';
      m_pPlatform->DeleteFile(dir + plat::kDirectoryLockName);
    }
    if (m_bDiscardTempDir) {
      RemoveDirectoryTree(m_strTempDir);
    } else {
      m_pPlatform->RemoveDirectory(m_strTempDir);
    }
  }
}

void CSetupApp::RestartComputer() {
  m_pPlatform->Sleep(kRestartPause);
  CleanUp();
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
