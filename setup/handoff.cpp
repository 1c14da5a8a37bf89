// The hand-off to the package's setup program: "qx.tmp", UPKInit, the
// program itself and "stvar.ini".
#include <optional>
#include <vector>

#include "framework/safe_format.h"
#include "platform/code_page.h"
#include "platform/process.h"
#include "setup/exit_codes.h"
#include "setup/setup_app.h"

namespace {

// SetProcessShutdownParameters' level for "asked to end after the other
// applications" at system shutdown.
constexpr uint32_t kShutdownLevelLate = 0x100;

}  // namespace

std::optional<int32_t> CSetupApp::HandOff() {
  if (!InitSecondStage()) return std::nullopt;
  return RunSetupProgram();
}

bool CSetupApp::InitSecondStage() {
  // Only into a directory of our own: without one, m_strTempDir is the
  // shared temporary path (or empty, and every name would resolve against
  // the current directory), where "qx.tmp" would hand every argument to
  // anyone who can read it, and a library or program planted there would
  // be loaded or started. Nothing is written then but the log.
  if (!m_bTempDirCreated || m_strTempDir.empty()) return false;
  const plat::WString commandFile = m_strTempDir + u"qx.tmp";
  m_pPlatform->DeleteFile(commandFile);
  // Written whole as a new file: a "qx.tmp" that reappeared after the
  // deletion is never merged into, and the hand-off stops with its code.
  if (!m_pPlatform->WriteNewProfileFile(u"PARA", u"CommandString", CarriedArguments(),
                                        commandFile)) {
    AddErrorCode(setup::kInstallFailure);
    return false;
  }

  int32_t result = 0;
  if (UPKInit) {
    result = UPKInit(m_strPath.c_str(), m_strTempDir.c_str(),
                     static_cast<int32_t>(static_cast<uint32_t>(libraryStart) +
                                          static_cast<uint32_t>(libraryEnd)),
                     initValue, 0);
  }
  CollectInitErrors();
  m_bCancelled = result == setup::kUserCancelled;

  if (!m_pPlatform->PathFileExists(m_strTempDir + u"QXSetup.exe")) {
    AddErrorCode(setup::kNotFound);
    if (m_pPlatform->PathFileExists(m_strTempDir + u"UPK4.dll")) {
      ShowError(setup::kInstallFailure,
                u"Error!\nsetup file not found (deleted by an antivirus protector?)\n");
    }
    return false;
  }
  if (result == setup::kUserCancelled) {
    AddErrorCode(setup::kUserCancelled);
    return false;
  }
  if (result != kUpkInitGoOn) m_bFailed = true;
  if (m_bFailed) {
    if (result == 0) ShowError(setup::kInstallFailure, u"Error!\nSetup cannot be continued.\n");
    return false;
  }
  return true;
}

int32_t CSetupApp::RunSetupProgram() {
  if (m_bCopyStvar) {
    m_pPlatform->CopyFile(m_strModuleDir + u"stvar.ini", m_strTempDir + u"stvar.ini", false);
  }
  m_strPath = m_strTempDir + u"QXSetup.exe";
  // Quoted: in a path with blanks the first word must not start another
  // program.
  const int32_t exitCode = RunAndWait(plat::QuoteArgument(m_strPath));
  EnterSystemTempDirectory();
  return exitCode;
}

void CSetupApp::CopyStvarBack() {
  if (m_bCopyStvar) {
    m_pPlatform->CopyFile(m_strTempDir + u"stvar.ini", m_strModuleDir + u"stvar.ini", false);
  }
}

plat::WString CSetupApp::CarriedArguments() {
  const plat::WString text = CommandLineArguments();
  constexpr plat::WStringView kLineBreaks = u"\r\n";
  if (text.find_first_of(kLineBreaks) == plat::WString::npos) return text;
  // A line break cannot be carried in "qx.tmp" (it would end the value and
  // could add keys): that argument is left out and the log says so; every
  // other argument still reaches the setup program.
  std::vector<plat::WString> kept;
  int64_t number = 0;
  for (plat::WString& argument : plat::SplitCommandLine(text)) {
    ++number;
    if (argument.find_first_of(kLineBreaks) == plat::WString::npos) {
      kept.push_back(std::move(argument));
    } else {
      m_strErrorCodes += FormatIntegers(u"argument %ld left out (line break), ", {number});
    }
  }
  return plat::JoinCommandLine(kept);
}

void CSetupApp::CollectInitErrors() {
  if (!UPKInitGetErrors) return;
  const char* text = UPKInitGetErrors();
  if (text && *text) m_strErrorCodes += plat::AnsiToWide(text);
}

int32_t CSetupApp::RunAndWait(plat::WStringView commandLine) {
  m_pPlatform->SetProcessShutdownParameters(kShutdownLevelLate, 0);
  uint32_t exitCode = 0;
  if (!m_pPlatform->RunProcessAndWait(commandLine, &exitCode)) {
    // Not started: the log says why, and the exit code says failure.
    AddErrorCode(setup::kInstallFailure);
    return 0;
  }
  m_bProgramRan = true;
  return static_cast<int32_t>(exitCode);
}

void CSetupApp::EnterSystemTempDirectory() {
  const plat::WString temp = m_pPlatform->GetTempPath();
  if (!temp.empty()) m_pPlatform->SetCurrentDirectory(temp);
}
