// Start-up: the temporary directory, the package at the end of our own file,
// and the libraries upk4 (to extract upk2) and upk2.
#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "framework/file.h"
#include "framework/safe_format.h"
#include "platform/code_page.h"
#include "platform/dir_tree.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/library.h"
#include "setup/error_codes.h"
#include "setup/exit_codes.h"
#include "setup/package_trailer.h"
#include "setup/setup_app.h"

namespace {

constexpr int kTempDirCount = 200;
// UPK4_Unpack's result for an entry that the archive does not hold.
constexpr int32_t kUnpackNoSuchEntry = 2;

plat::WString WithBackslash(plat::WString path) {
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path;
}

bool ContainsNoCase(plat::WStringView text, plat::WStringView word) {
  plat::WString lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; });
  return lower.find(word) != plat::WString::npos;
}

// Which of the numbers 0 to 199 have a "SetupTempN" entry (compared without
// regard to case, N as "%ld" writes it) in the directory. All of them when the
// directory cannot be listed, so that every name is then probed.
std::vector<bool> ExistingTempDirectoryNumbers(const plat::WString& directory) {
  plat::SetLastError(0);
  const std::vector<plat::WString> names = plat::ListDirectoryNames(directory);
  if (names.empty()) return std::vector<bool>(kTempDirCount, plat::GetLastError() != 0);
  std::vector<bool> present(kTempDirCount, false);
  constexpr plat::WStringView kPrefix = u"SetupTemp";
  for (const plat::WString& name : names) {
    if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 3) continue;
    if (plat::CollateWideNoCase(plat::WStringView(name).substr(0, kPrefix.size()), kPrefix) != 0)
      continue;
    const plat::WStringView digits = plat::WStringView(name).substr(kPrefix.size());
    if (digits.size() > 1 && digits[0] == u'0') continue;
    int n = 0;
    bool numeric = true;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') numeric = false;
      n = n * 10 + (c - u'0');
    }
    if (numeric && n < kTempDirCount) present[n] = true;
  }
  return present;
}

}  // namespace

bool CSetupApp::RestrictDllSearchPath() { return plat::RestrictLibrarySearchPath(); }

bool CSetupApp::RemoveDirectoryTree(plat::WStringView path) {
  if (m_pPlatform->PathFileExists(path)) {
    // Links inside are removed, never followed; a tree locked by a live run
    // is refused whole.
    m_pPlatform->DeleteTree(path);
    m_pPlatform->Sleep(1);
  }
  return !m_pPlatform->PathFileExists(path);
}

bool CSetupApp::ChooseTempDirectory() {
  // No usable system temporary path (one that cannot be named as it is):
  // never a substitute, and never the root that "\" alone would make.
  if (m_strTempDir.empty()) {
    AddErrorCode(setup::kNoTempDirectory);
    return true;
  }
  const plat::WString base = WithBackslash(m_strTempDir);
  auto nameOf = [&](int n) { return base + FormatIntegers(u"SetupTemp%ld", {n}); };
  // Only our own leftovers are swept; another user's directory, or a file
  // planted under such a name, stays where it is and its number is skipped.
  auto sweep = [&](const plat::WString& name) {
    if (m_pPlatform->PathFileExists(name) && plat::IsOwnedByCurrentUser(name)) {
      RemoveDirectoryTree(name);
    }
  };
  // One listing of the temporary path tells which of the 200 names exist, so
  // a start does not probe 400 names one by one.
  const std::vector<bool> present = ExistingTempDirectoryNumbers(base);

  for (int n = 0; n < kTempDirCount; ++n) {
    if (present[n]) sweep(nameOf(n));
  }

  bool chosen = false;
  for (int n = 0; n < kTempDirCount && !chosen; ++n) {
    const plat::WString name = nameOf(n);
    if (present[n]) {
      sweep(name);
      if (m_pPlatform->PathFileExists(name)) continue;
    }
    // Created here, exclusively, private and already locked: a name that
    // appears between the listing and the creation is never used, and no
    // other run's sweep can take the new directory for a leftover.
    if (!m_tempDirLock.CreateLocked(name)) continue;
    if (m_tempDirLock.IsUnprotected()) {
      m_strErrorCodes += u"no access control for " + name + u" (file system without security), ";
    }
    m_strTempDir = name;
    m_bTempDirCreated = true;
    chosen = true;
  }
  m_strTempDir = WithBackslash(m_strTempDir);
  if (!chosen) {
    AddErrorCode(setup::kNoTempDirectory);
    return true;
  }
  return false;
}

void CSetupApp::ApplyCommandLine() {
  m_bCopyStvar = ContainsNoCase(CommandLineArguments(), u"/copystvar");
}

bool CSetupApp::PreparePackage() {
  m_bFailed = false;
  m_bCopyStvar = false;
  configLength = libraryStart = libraryEnd = openValue = packageFlags = reserved = initValue = 0;
  ApplyCommandLine();

  m_strPath = plat::GetModuleFileName();
  m_strTempDir = plat::GetRunTempPath();
  const size_t slash = m_strPath.find_last_of(u'\\');
  m_strModuleDir = slash == plat::WString::npos ? m_strPath : m_strPath.substr(0, slash + 1);

  if (ChooseTempDirectory()) {
    ShowError(setup::kInstallFailure, u"Kein TempDir????");
    return false;
  }
  // ChooseTempDirectory has created the directory, private to this user.

  m_bFailed = true;
  m_strArchivePath = m_strPath;
  bool packageRead = false;
  {
    CFile self;
    if (!self.Open(m_strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) {
      AddErrorCode(setup::kOwnFileUnreadable);
    } else {
      packageRead = ReadPackageFile(self);
    }
  }
  if (packageRead) LoadLibraries();

  if (m_bFailed) {
    UnloadUpk2();
    return false;
  }
  return true;
}

void CSetupApp::LoadLibraries() {
  const plat::WString upk4Path = m_strTempDir + u"upk4.dll";
  m_hUpk4 = plat::LoadLibrary(upk4Path);
  if (!m_hUpk4) {
    AddErrorCode(setup::kUpk4NotLoaded);
    if (plat::IsOnNoExecFileSystem(upk4Path)) ReportNoExecTempDirectory(upk4Path);
  } else {
    UPK4_Open = reinterpret_cast<UPK4_Open_t>(plat::GetProcAddress(m_hUpk4, "UPK4_Open"));
    UPK4_Close = reinterpret_cast<UPK4_Close_t>(plat::GetProcAddress(m_hUpk4, "UPK4_Close"));
    UPK4_Unpack = reinterpret_cast<UPK4_Unpack_t>(plat::GetProcAddress(m_hUpk4, "UPK4_Unpack"));
  }

  if (UPK4_Open && UPK4_Close && UPK4_Unpack) {
    ArchiveHandle* handle =
        UPK4_Open(m_strArchivePath.c_str(), libraryEnd, openValue, m_strPassword.c_str(),
                  static_cast<uint32_t>(packageFlags));
    int32_t unpacked = -1;
    if (handle) {
      unpacked = UPK4_Unpack(handle, u"A11", m_strTempDir.c_str(), u"Upk2.dll", 0);
      UPK4_Close(handle);
    }
    if (unpacked == 0) {
      LoadSecondStage();
    } else {
      // A second stage that was not extracted whole (a full disk, damaged
      // data) is never loaded: what is left of it goes, and the run ends
      // with the code of a second stage that cannot be loaded.
      // The log carries the extraction's system error (a full disk), or
      // what loading a missing file gives.
      const bool systemError = unpacked > 0 && unpacked != kUnpackNoSuchEntry;
      plat::SetLastError(systemError ? static_cast<uint32_t>(unpacked) : plat::ERROR_MOD_NOT_FOUND);
      AddErrorCode(setup::kUpk2NotLoaded);
      m_pPlatform->DeleteFile(m_strTempDir + u"Upk2.dll");
    }
  }

  if (m_hUpk4) m_pPlatform->FreeLibrary(m_hUpk4);
  m_hUpk4 = nullptr;
  UPK4_Open = nullptr;
  UPK4_Close = nullptr;
  UPK4_Unpack = nullptr;
}

void CSetupApp::LoadSecondStage() {
  m_hUpk2 = plat::LoadLibrary(m_strTempDir + u"upk2.dll");
  if (!m_hUpk2) {
    AddErrorCode(setup::kUpk2NotLoaded);
    return;
  }
  UPKExpand = reinterpret_cast<UPKExpand_t>(plat::GetProcAddress(m_hUpk2, "UPKExpand"));
  UPKInit = reinterpret_cast<UPKInit_t>(plat::GetProcAddress(m_hUpk2, "UPKInit"));
  UPKExit = reinterpret_cast<UPKExit_t>(plat::GetProcAddress(m_hUpk2, "UPKExit"));
  UPKInit3 = reinterpret_cast<UPKInit3_t>(plat::GetProcAddress(m_hUpk2, "UPKInit3"));
  UPKInitGetErrors =
      reinterpret_cast<UPKInitGetErrors_t>(plat::GetProcAddress(m_hUpk2, "UPKInitGetErrors"));
  if (UPKExpand && UPKInit && UPKExit && UPKInit3 && UPKInitGetErrors) {
    m_bFailed = false;
  } else {
    AddErrorCode(setup::kUpk2EntryMissing);
  }
}

void CSetupApp::UnloadUpk2() {
  if (m_hUpk2) m_pPlatform->FreeLibrary(m_hUpk2);
  m_hUpk2 = nullptr;
  UPKExpand = nullptr;
  UPKInit = nullptr;
  UPKExit = nullptr;
  UPKInit3 = nullptr;
  UPKInitGetErrors = nullptr;
}
