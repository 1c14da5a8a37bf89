#include "setup/setup_app.h"

#include "setup/exit_codes.h"

CSetupApp::CSetupApp(SetupPlatform* platform)
    : CWinApp(nullptr), m_pPlatform(platform ? platform : &SetupPlatform::Real()) {}

CSetupApp::~CSetupApp() = default;

bool CSetupApp::InitInstance() {
  RestrictDllSearchPath();
  if (!PreparePackage()) m_bFailed = true;
  const std::optional<int32_t> programExitCode = HandOff();
  if (programExitCode) m_nExitCode = *programExitCode;
  EndRun(programExitCode);
  // A run in which the setup program did not run failed, and says so: with
  // the second stage's cancel, or the system's "fatal error during
  // installation" that its messages already show. A program that ran keeps
  // its exit code, and a restart its 1641 or 3010.
  if (!m_bProgramRan) {
    m_nExitCode = m_bCancelled ? setup::kUserCancelled : setup::kInstallFailure;
  }
  // No window, no message loop: straight on to ExitInstance.
  return false;
}

void CSetupApp::EndRun(const std::optional<int32_t>& programExitCode) {
  // A restart comes after the clean-up, so that nothing of ours is left when
  // the machine goes down; "stvar.ini" goes with the directory then, and is
  // not carried back.
  if (programExitCode && setup::IsExitCode(*programExitCode, setup::kRebootInitiated)) {
    CleanUpAndRestart();
    return;
  }
  if (programExitCode) CopyStvarBack();
  CleanUp();
}

int CSetupApp::ExitInstance() {
  CWinApp::ExitInstance();
  return m_nExitCode;
}
