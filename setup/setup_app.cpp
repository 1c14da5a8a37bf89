#include "setup/setup_app.h"

#include "setup/exit_codes.h"

CSetupApp::CSetupApp(SetupPlatform* platform)
    : CWinApp(nullptr), m_pPlatform(platform ? platform : &SetupPlatform::Real()) {}

CSetupApp::~CSetupApp() = default;

bool CSetupApp::InitInstance() {
  RestrictDllSearchPath();
  if (!PreparePackage()) m_bFailed = true;
  HandOff();
  CleanUp();
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

int CSetupApp::ExitInstance() {
  CWinApp::ExitInstance();
  return m_nExitCode;
}
