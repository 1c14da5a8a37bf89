// The application object's lifecycle: constructed before main, run once.
#include "framework/app.h"

#include <exception>

#include "framework/exception.h"
#include "platform/code_page.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {
CWinApp* g_currentApp = nullptr;
}

CWinApp::CWinApp(const char16_t* appName) {
  if (appName) m_pszAppName = appName;
  g_currentApp = this;
}

CWinApp::~CWinApp() {
  if (g_currentApp == this) g_currentApp = nullptr;
}

CWinApp* CWinApp::Current() { return g_currentApp; }

int CWinApp::Run(int argc, char** argv) {
  plat::SetProcessArguments(argc, argv);
  CWinApp* app = Current();
  if (!app) return 1;
  app->m_lpCmdLine = plat::GetArgumentText();
  if (app->m_pszAppName.empty() && argc > 0 && argv && argv[0]) {
    plat::WString name = plat::Utf8ToUtf16(argv[0]);
    size_t slash = name.find_last_of(u"/\\");
    app->m_pszAppName = slash == plat::WString::npos ? name : name.substr(slash + 1);
  }
  // There is no message loop: a program without a window goes straight on
  // to ExitInstance whatever InitInstance returns. An exception that
  // escapes InitInstance is reported, and ExitInstance still runs.
  try {
    app->InitInstance();
  } catch (const CException& e) {
    plat::WString text = e.GetErrorMessage();
    plat::MessageBox(text.c_str(), app->m_pszAppName.c_str(), plat::MB_ICONERROR);
  } catch (const std::exception& e) {
    plat::WString text = plat::Utf8ToUtf16(e.what());
    plat::MessageBox(text.c_str(), app->m_pszAppName.c_str(), plat::MB_ICONERROR);
  }
  return app->ExitInstance();
}
