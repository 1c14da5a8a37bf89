// The bootstrapper's application object. InitInstance does the whole run,
// in phases: preparation (temporary directory, package trailer, upk4, upk2),
// the hand-off that runs the package's setup program, and the end of the run
// (the clean-up, with the restart the program asked for or with "stvar.ini"
// carried back); ExitInstance gives the exit code.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include "framework/app.h"
#include "framework/file.h"
#include "platform/dir_tree.h"
#include "platform/library.h"
#include "platform/win_types.h"
#include "setup/package_format.h"
#include "setup/setup_platform.h"
#include "setup/upk2_interface.h"
#include "upk4.h"

class CSetupApp : public CWinApp {
 public:
  // The platform seam defaults to the real system; tests pass their own.
  explicit CSetupApp(SetupPlatform* platform = nullptr);
  ~CSetupApp() override;

  bool InitInstance() override;
  int ExitInstance() override;

  // Preparation.
  bool RestrictDllSearchPath();
  bool PreparePackage();
  bool ChooseTempDirectory();  // true on failure
  bool RemoveDirectoryTree(plat::WStringView path);

  // Package reading: marker, trailer, library image, config block. False
  // when the marker or the trailer is unusable (code 2).
  bool ReadPackageFile(CFile& self);
  // The CRC-32 check of the trailer's reserved field (0: none). On damage
  // (or a file that cannot be read whole) code 9 and the message; false.
  bool PackageIsIntact(CFile& self, const setup::PackageTrailer& trailer);
  bool CopyLibraryImage(CFile& source, plat::WStringView destination, int32_t start, int32_t end);
  static void PumpMessages();

  // Hand-off: the setup program's exit code, or nothing when the hand-off
  // ended before the program's turn.
  std::optional<int32_t> HandOff();
  // "qx.tmp" and UPKInit; true when the setup program is in place and may
  // start.
  bool InitSecondStage();
  // "stvar.ini" in, the program run and waited for, the temporary directory
  // left: the program's exit code.
  int32_t RunSetupProgram();
  void CopyStvarBack();
  // The argument text for "qx.tmp": arguments that it cannot carry are left
  // out, each noted in the error list.
  plat::WString CarriedArguments();
  void CollectInitErrors();
  // The program's exit code; 0 when it could not be started (and the run
  // then counts as one in which it did not run).
  int32_t RunAndWait(plat::WStringView commandLine);
  void EnterSystemTempDirectory();

  // Errors, messages and the log.
  void AddErrorCode(int32_t code);
  void ShowError(uint32_t code, plat::WStringView text);
  void WriteErrorLog();
  // The copied library cannot be loaded because the temporary directory's
  // file system forbids executable mappings: says so in a message and in the
  // log, removes the copy, and has the clean-up remove the whole directory.
  void ReportNoExecTempDirectory(plat::WStringView libraryPath);

  // The end of the run, after the hand-off: with the restart when the
  // setup program asked for one, else with "stvar.ini" carried back.
  void EndRun(const std::optional<int32_t>& programExitCode);

  // Clean-up and restart. CleanUp leaves the run's paths as they are and can
  // be called again: upk2 and our directory are dealt with once.
  void CleanUp();
  // A pause, the clean-up, the restart, and the log once more for what the
  // restart reported.
  void CleanUpAndRestart();
  // Only the request and its exit code (3010, or 1641 once initiated).
  void RestartComputer();
  bool IsNtPlatform();

  // Test access to the run's state.
  const plat::WString& ErrorCodes() const { return m_strErrorCodes; }
  const plat::WString& TempDir() const { return m_strTempDir; }
  int32_t ExitCode() const { return m_nExitCode; }

 protected:
  static constexpr size_t kWorkBufferSize = 6146;
  static constexpr uint32_t kCopyChunk = 6144;

  void LoadLibraries();
  void LoadSecondStage();
  void UnloadUpk2();
  void ApplyCommandLine();

  std::unique_ptr<uint8_t[]> m_pWorkBuffer;
  plat::WString m_strPath;
  plat::WString m_strTempDir;
  plat::LibraryHandle m_hUpk2 = nullptr;
  plat::LibraryHandle m_hUpk4 = nullptr;
  plat::WString m_strModuleDir;
  plat::WString m_strSubDir;
  plat::WString m_strPassword;
  plat::WString m_strArchivePath;
  int32_t openValue = 0;
  int32_t libraryStart = 0;
  int32_t libraryEnd = 0;
  int32_t configLength = 0;
  int32_t reserved = 0;
  int32_t initValue = 0;
  int32_t m_nMarkerDistance = 0;
  int32_t packageFlags = 0;
  bool m_bFailed = false;
  bool m_bCopyStvar = false;
  plat::WString m_strErrorCodes;
  int32_t m_nExitCode = 0;
  UPK4_Open_t UPK4_Open = nullptr;
  UPK4_Close_t UPK4_Close = nullptr;
  UPK4_Unpack_t UPK4_Unpack = nullptr;
  UPKExpand_t UPKExpand = nullptr;
  UPKInit_t UPKInit = nullptr;
  UPKExit_t UPKExit = nullptr;
  UPKInit3_t UPKInit3 = nullptr;
  UPKInitGetErrors_t UPKInitGetErrors = nullptr;
  bool m_bNtPlatform = false;

  // Our additions: the seam, and the mark that keeps other runs' sweeps away
  // from our temporary directory while it is in use.
  SetupPlatform* m_pPlatform;
  plat::DirectoryLock m_tempDirLock;
  // Set once a private temporary directory has been created; the system
  // temporary path itself is never removed.
  bool m_bTempDirCreated = false;
  // Set when the directory is useless to any run (its file system cannot
  // map the library): the clean-up then removes it with its contents.
  bool m_bDiscardTempDir = false;
  // What the exit code tells: whether the setup program ran, and whether
  // the second stage reported a cancel.
  bool m_bProgramRan = false;
  bool m_bCancelled = false;
};
