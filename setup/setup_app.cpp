#include "setup/setup_app.h"

CSetupApp::CSetupApp(SetupPlatform* platform)
    : CWinApp(nullptr), m_pPlatform(platform ? platform : &SetupPlatform::Real()) {}

CSetupApp::~CSetupApp() = default;

bool CSetupApp::InitInstance() {
  RestrictDllSearchPath();
  if (!PreparePackage()) m_bFailed = true;
  HandOff();
  CleanUp();
  // No window, no message loop: straight on to ExitInstance.
  return false;
}

int CSetupApp::ExitInstance() {
  CWinApp::ExitInstance();
  return m_nExitCode;
}
