// The four entry points of the library. No exception leaves them: failures
// become results, and a failed open also shows a message.
#include <new>
#include "upk4.h"
#include "archive_handle.h"
#include "module_context.h"
#include "progress_callback.h"
#include "framework/exception.h"
#include "framework/file_exception.h"
#include "framework/safe_format.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/window.h"
#include "upk4/extraction_target.h"
#include "upk4/password.h"
#include "upk4/path_functions.h"
#include "upk4/unpack_entry.h"

namespace {

// Set by an open that failed on the archive; every later close of the
// process then closes in the after-error manner. Never reset. Process-wide,
// not per handle: the failed open returned no handle to keep it in.
bool openErrorSeen = false;

// Process-wide too: the file-name part of the path given to the last
// UPK4_Open. Each archive keeps the value it was opened with, from which
// it names the further volumes of a split archive.
plat::WString volumeNamePattern;

// Step codes of a failed open, shown in its message.
// (2 was the archive object's own allocation; that is now part of its open,
// and its failure is a 4.)
enum OpenStep : int32_t { kAllocHandle = 1, kOpenArchive = 3, kOpenOther = 4 };

// The archive's file name from the caller's path. The pattern forms come
// from package data: only integer conversions are substituted, anything else
// ("%s", "%n", a lone "%") stays literal, and only in the file-name part:
// the directory is wherever the user saved the package.
plat::WString ArchiveFileName(plat::WStringView path, uint32_t flags) {
  if (flags & UPK4_OPEN_PATTERN1) return FormatFileNamePart(path, {1});
  if (flags & UPK4_OPEN_PATTERN2) return FormatFileNamePart(path, {1, 1});
  if (flags & UPK4_OPEN_PLAIN) return plat::WString(path);
  return {};
}

void ShowOpenError(int32_t step) {
  const int64_t lastError = plat::GetLastError();
  try {
    const plat::WString text = FormatIntegers(
        u"Setup-Error:\nCan't open archive, AllocStruct(%ld), code %ld.", {step, lastError});
    plat::MessageBox(text.c_str(), nullptr, plat::MB_ICONERROR);
  } catch (...) {
    // Out of memory for the text: the message without its numbers.
    plat::MessageBox(u"Setup-Error:\nCan't open archive.", nullptr, plat::MB_ICONERROR);
  }
}

// The body of UPK4_Unpack; every exception it raises is the caller's -2.
int32_t Unpack(ArchiveHandle& handle, const char16_t* entryName, const char16_t* destDir,
               const char16_t* fileName, uint32_t flags) {
  const Archive& archive = *handle.archive;
  // The first lookup builds the name index, which allocates.
  const int32_t index = archive.Find(entryName ? entryName : u"", false);
  if (index == -1) return (flags & UPK4_UNPACK_MISSING_OK) ? 0 : 2;

  UnpackRequest request;
  request.destDir = destDir;
  request.fileName = fileName;
  request.fullPath = (flags & UPK4_UNPACK_FULL_PATH) != 0;
  request.callback = UnpackProgressCallback;
  request.userData = &progressSettings;
  bool brokenOff = false;
  const int32_t result = UnpackEntry(archive, static_cast<uint16_t>(index), handle.password,
                                     request, handle.transfer, brokenOff);
  // The handle extracts further entries after a damaged one; its close
  // still reports the entry that failed.
  if (brokenOff) handle.entryFailed = true;
  return result;
}

}  // namespace

extern "C" {

UPK4_API ArchiveHandle* UPK4_CALL UPK4_Open(const upk4_char16* path, int32_t callerValue1,
                                            int32_t callerValue2, const upk4_char16* password,
                                            uint32_t flags) {
  ModuleContextGuard context;
  int32_t step = kAllocHandle;
  try {
    auto handle = std::make_unique<ArchiveHandle>();
    step = kOpenArchive;
    try {
      const plat::WStringView pathView = path ? path : u"";
      volumeNamePattern = GetFileNamePart(pathView);
      handle->archive = Archive::Open(ArchiveFileName(pathView, flags),
                                      LibraryArchiveOptions(volumeNamePattern));
      handle->transfer.chunkSize = kUnpackChunkSize;
      handle->transfer.chunksPerTransfer = kUnpackChunksPerTransfer;
      // A refused password leaves the archive open without one.
      if (password && *password) PasswordBytes(password, handle->password);
      handle->callerValue1 = callerValue1;
      handle->callerValue2 = callerValue2;
      return handle.release();
    } catch (const CException&) {
      openErrorSeen = true;
    } catch (...) {
      step = kOpenOther;
    }
  } catch (...) {
    // Allocation of the handle or of the archive failed: step tells which.
  }
  ShowOpenError(step);
  return nullptr;
}

UPK4_API int32_t UPK4_CALL UPK4_Unpack(ArchiveHandle* handle, const upk4_char16* entryName,
                                       const upk4_char16* destDir, const upk4_char16* fileName,
                                       uint32_t flags) {
  ModuleContextGuard context;
  if (handle == nullptr || !handle->archive) return 0;
  try {
    return Unpack(*handle, entryName, destDir, fileName, flags);
  } catch (...) {
    // Raised while extracting, or out of memory anywhere on the way.
    return -2;
  }
}

UPK4_API uint8_t UPK4_CALL UPK4_Close(ArchiveHandle* handle) {
  ModuleContextGuard context;
  if (handle == nullptr || !handle->archive) return 0;
  const std::unique_ptr<ArchiveHandle> owned(handle);
  // No entry stays open between the calls: the close, after an earlier
  // failed open (openErrorSeen) or not, only lets the files go.
  return owned->entryFailed ? 1 : 0;
}

UPK4_API void UPK4_CALL UPK4_SetProgress(void* progressWindow, void* notifyWindow,
                                         int32_t progressBase, uint32_t progressTotal) {
  ModuleContextGuard context;
  progressSettings.progressTotal = progressTotal;
  progressSettings.progressBase = progressBase;
  progressSettings.lastPercent = 0;
  progressSettings.progressWindow = static_cast<plat::WindowHandle>(progressWindow);
  progressSettings.notifyWindow = static_cast<plat::WindowHandle>(notifyWindow);
}

}  // extern "C"
