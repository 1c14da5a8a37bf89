// The error list, the message boxes and the log "qxi_setup.log".
#include <cstdint>
#include <vector>

#include "framework/safe_format.h"
#include "platform/code_page.h"
#include "platform/last_error.h"
#include "platform/native_path.h"
#include "setup/exit_codes.h"
#include "setup/setup_app.h"

namespace {

// MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST
constexpr uint32_t kErrorBoxStyle = 0x52010;

void AppendUtf16Le(std::vector<uint8_t>& out, plat::WStringView text) {
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
}

}  // namespace

void CSetupApp::AddErrorCode(int32_t code) {
  // The last error first: formatting must not disturb it.
  const auto lastError = static_cast<int32_t>(plat::GetLastError());
  m_strErrorCodes += FormatIntegers(u"%ld (%ld), ", {code, lastError});
}

void CSetupApp::ShowError(uint32_t code, plat::WStringView text) {
  if (code == plat::ERROR_SUCCESS || code == plat::ERROR_ALREADY_EXISTS) return;
  plat::WString message(text);
  plat::WString systemText = m_pPlatform->FormatSystemMessage(code);
  if (systemText.empty()) {
    systemText = FormatIntegers(u"Unknown error %lu.\r\n", {static_cast<int64_t>(code)});
  }
  message += systemText;
  // Where no one can see the box (a service, SYSTEM under a deployment
  // tool), the log is where the message is read.
  if (!m_pPlatform->IsWindowStationVisible()) m_strErrorCodes += message + u", ";
  m_pPlatform->MessageBox(message.c_str(), u"Error", kErrorBoxStyle);
}

void CSetupApp::ReportNoExecTempDirectory(plat::WStringView libraryPath) {
  const plat::WString directory = plat::Utf8ToUtf16(plat::ToNativePath(m_strTempDir));
  // In the log after the code 4 entry, in the same "text, " form.
  m_strErrorCodes += u"upk4.dll cannot be mapped executable in " + directory +
                     u" (file system mounted noexec): set TMPDIR to an executable location, ";
  ShowError(setup::kInstallFailure,
            u"Error!\nThe temporary directory " + directory +
                u" is on a file system mounted noexec, so the library copied there cannot "
                u"be loaded.\nSet TMPDIR to a directory where programs may run (one in your home, "
                u"for example) and start Setup again.\n");
  // Ours and useless now, like the directory, which the clean-up removes.
  m_pPlatform->DeleteFile(libraryPath);
  m_bDiscardTempDir = true;
}

void CSetupApp::WriteErrorLog() {
  if (m_strErrorCodes.empty()) return;
  plat::WString path = m_pPlatform->GetTempPath();
  if (path.empty()) return;  // no temporary path that can be named
  if (path.back() != u'\\') path += u'\\';
  path += u"qxi_setup.log";
  m_pPlatform->SetFileAttributes(path, plat::FILE_ATTRIBUTE_NORMAL);
  m_pPlatform->DeleteFile(path);

  std::vector<uint8_t> bytes;
  AppendUtf16Le(bytes, u"Setup-ErrorCodes: ");
  AppendUtf16Le(bytes, m_strErrorCodes);
  // Created new after the delete: in a shared temporary directory a link
  // planted under the log's name is never followed. A log that cannot be
  // written is simply missing.
  m_pPlatform->WriteNewFile(path, bytes);
}
