// The application-object lifecycle: one object, InitInstance once, then
// ExitInstance, whose result is the process exit code.
#pragma once
#include "platform/win_types.h"

class CWinApp {
 public:
  explicit CWinApp(const char16_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Returns false to skip the message loop (a program without a window).
  virtual bool InitInstance() { return false; }
  // The process exit code.
  virtual int ExitInstance() { return 0; }

  // The argument text: the command line without the program name and the
  // blanks that follow it.
  const plat::WString& CommandLineArguments() const { return m_lpCmdLine; }

  // Runs the lifecycle of the one application object; main calls it.
  static int Run(int argc, char** argv);
  static CWinApp* Current();

 protected:
  plat::WString m_lpCmdLine;
  plat::WString m_pszAppName;
};
