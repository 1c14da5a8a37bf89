#include "upk4/unpack_entry.h"
#include "framework/file_exception.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "upk4/archive.h"
#include "upk4/extraction_target.h"

namespace {

int32_t Unpack(const Archive& archive, uint16_t index, const std::optional<std::string>& password,
               const UnpackRequest& request, Transfer& transfer, bool& brokenOff) {
  const char16_t* const destDir = request.destDir;
  // An old file is removed where the extraction will write, not at the file
  // name taken relative to the current directory. A link there is removed
  // itself, never followed.
  const plat::WString name =
      request.fileName ? plat::WString(request.fileName) : archive.Entry(index).GetNameWide();
  TargetRefusal refusal;
  const auto target =
      BuildExtractionTarget(destDir ? destDir : u"", name, request.fullPath, &refusal);
  if (!target) {
    plat::SetLastError(refusal.error);
    return static_cast<int32_t>(refusal.error);
  }
  // With the full path the walk below destDir replaces the old file itself,
  // through the directories it has opened, never by a name that a link
  // could redirect.
  if (!request.fullPath && plat::PathFileExists(*target)) {
    plat::SetFileAttributes(*target, plat::FILE_ATTRIBUTE_NORMAL);
    const uint32_t deleteError = plat::DeleteFile(*target) ? 0 : plat::GetLastError();
    if (plat::PathFileExists(*target))
      return SystemResult(deleteError != 0 ? deleteError : plat::ERROR_ACCESS_DENIED);
  }

  bool ok;
  ExtractOutcome outcome = ExtractOutcome::systemFailure;
  try {
    ok = ExtractEntry(archive, index, password, destDir, request.fullPath, request.fileName,
                      request.callback, request.userData, transfer, &outcome, &brokenOff,
                      !request.destinationMade);
  } catch (const CFileException& e) {
    // The output file could not be created or written (a name the system
    // refuses, a full disk): the system's cause, not damaged data.
    // A file exception of the archive's own file stays -2.
    if (e.m_lOsError > 0 && e.m_strFileName == plat::GetFullPathName(*target))
      return SystemResult(static_cast<uint32_t>(e.m_lOsError));
    throw;
  }
  if (ok) return 0;
  // A failure without a system cause (damaged or incomplete data, no
  // password for an encrypted entry) is never reported as success.
  if (outcome != ExtractOutcome::systemFailure) return -2;
  const uint32_t error = plat::GetLastError();
  return error != 0 ? SystemResult(error) : -2;
}

}  // namespace

int32_t SystemResult(uint32_t error) {
  if (error == plat::ERROR_FILE_NOT_FOUND) error = plat::ERROR_PATH_NOT_FOUND;
  plat::SetLastError(error);
  return static_cast<int32_t>(error);
}

int32_t UnpackEntry(const Archive& archive, uint16_t index,
                    const std::optional<std::string>& password, const UnpackRequest& request,
                    Transfer& transfer, bool& brokenOff) {
  try {
    return Unpack(archive, index, password, request, transfer, brokenOff);
  } catch (...) {
    // Raised while extracting, or out of memory anywhere on the way.
    return -2;
  }
}
