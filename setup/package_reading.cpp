// Reading our own file: the marker, the trailer, the upk4 image and the
// config block.
#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "platform/file_system.h"
#include "platform/window.h"
#include "platform/last_error.h"
#include "setup/error_codes.h"
#include "setup/exit_codes.h"
#include "setup/package_crc.h"
#include "setup/package_trailer.h"
#include "setup/setup_app.h"

bool CSetupApp::ReadPackageFile(CFile& self) {
  std::optional<int32_t> distance;
  try {
    distance = setup::LocateMarker(self);
  } catch (const CFileException&) {
    distance.reset();
  }
  // Relative names resolve in the temporary directory from here on, found
  // marker or not.
  plat::SetCurrentDirectory(m_strTempDir);
  if (!distance) {
    AddErrorCode(setup::kNoPackageMarker);
    return false;
  }
  m_nMarkerDistance = *distance;

  // A trailer whose offsets do not fit the file is as good as no marker.
  std::optional<setup::PackageTrailer> trailer;
  try {
    trailer = setup::ReadTrailer(self, m_nMarkerDistance);
  } catch (const CFileException&) {
    trailer.reset();
  }
  if (!trailer) {
    AddErrorCode(setup::kNoPackageMarker);
    return false;
  }
  configLength = trailer->configLength;
  libraryStart = trailer->libraryStart;
  libraryEnd = trailer->libraryEnd;
  openValue = trailer->openValue;
  packageFlags = trailer->packageFlags;
  reserved = trailer->reserved;
  initValue = trailer->initValue;

  // A damaged or cut-short download: nothing of it is copied or loaded.
  if (!PackageIsIntact(self, *trailer)) return false;

  try {
    m_pWorkBuffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
  } catch (const std::bad_alloc&) {
    m_pWorkBuffer.reset();
  }
  if (!m_pWorkBuffer) {
    AddErrorCode(setup::kNoWorkBuffer);
    return true;
  }
  // A library that was not copied whole is never loaded: the run ends here
  // with the copy's code, and the clean-up removes the directory.
  if (!CopyLibraryImage(self, m_strTempDir + u"upk4.dll", libraryStart, libraryEnd)) {
    m_pWorkBuffer.reset();
    return false;
  }
  try {
    const setup::PackageConfig config = setup::ReadConfig(self, m_nMarkerDistance, *trailer);
    if (config.subDir) m_strSubDir = *config.subDir;
    if (config.password) m_strPassword = *config.password;
    m_strArchivePath = config.ArchivePath(m_strPath, m_strModuleDir);
  } catch (const CFileException&) {
    // An unreadable config block leaves the archive at our own file.
  }
  m_pWorkBuffer.reset();
  return true;
}

bool CSetupApp::PackageIsIntact(CFile& self, const setup::PackageTrailer& trailer) {
  using setup::PackageCrcVerdict;
  PackageCrcVerdict verdict = PackageCrcVerdict::Damaged;
  try {
    verdict = setup::CheckPackageCrc(self, m_nMarkerDistance, trailer).verdict;
    // The log says what was wrong: the bytes, or fields that leave none to
    // check (a file cut inside what the trailer describes).
    if (verdict == PackageCrcVerdict::Damaged) plat::SetLastError(plat::ERROR_INVALID_DATA);
  } catch (const CFileException& e) {
    plat::SetLastError(e.m_lOsError > 0 ? static_cast<uint32_t>(e.m_lOsError)
                                         : plat::ERROR_READ_FAULT);
  } catch (const std::bad_alloc&) {
    AddErrorCode(setup::kNoWorkBuffer);
    return false;
  }
  if (verdict != PackageCrcVerdict::Damaged) return true;
  AddErrorCode(setup::kPackageDamaged);
  ShowError(setup::kInstallFailure, u"The package is damaged or incomplete. Download it again.\n");
  return false;
}

bool CSetupApp::CopyLibraryImage(CFile& source, plat::WStringView destination, int32_t start,
                                 int32_t end) {
  const int64_t count = static_cast<int64_t>(end) - start;
  CFile target;
  if (count < 0 ||
      !target.Open(destination, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) {
    AddErrorCode(setup::kUpk4NotCopied);
    return false;
  }
  std::unique_ptr<uint8_t[]> ownBuffer;
  uint8_t* buffer = m_pWorkBuffer.get();
  if (!buffer) {
    ownBuffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    buffer = ownBuffer.get();
  }
  try {
    source.Seek(start, CFile::begin);
    int64_t done = 0;
    while (done < count) {
      const auto chunk = static_cast<uint32_t>(std::min<int64_t>(kCopyChunk, count - done));
      std::memset(buffer, 0, kCopyChunk);
      const uint32_t got = source.Read(buffer, chunk);
      // The file ended inside the library range: a read error, not a
      // zero-padded image.
      if (got != chunk) CFileException::ThrowOsError(plat::ERROR_HANDLE_EOF, source.GetFilePath());
      target.Write(buffer, chunk);
      done += got;
      PumpMessages();
    }
    target.Close();
  } catch (const CFileException& e) {
    AddErrorCode(setup::kUpk4NotCopied);
    const plat::WString text =
        e.m_cause == CFileException::diskFull
            ? u"Disk full while writing to " + m_strTempDir + u"."
            : plat::WString(u"Read-/Write-Error!");
    target.Abort();
    m_pPlatform->DeleteFile(destination);
    ShowError(setup::kInstallFailure, text);
    return false;
  }
  return true;
}

void CSetupApp::PumpMessages() {
  plat::Message msg;
  while (plat::PeekMessage(&msg)) {
    plat::TranslateMessage(msg);
    plat::DispatchMessage(msg);
  }
}
