// Extraction of one entry into a file (or a directory) below a destination
// directory, in chunks, with progress reports that can stop the work.
#include "framework/file.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "upk4/archive_reader.h"
#include "upk4/extraction_target.h"
#include "upk4/path_functions.h"

bool ArchiveReader::GetEntryInfo(EntryRecord& out, uint16_t index) const {
  if (IsClosed() || index >= centralDir.headers.size()) return false;
  out = *centralDir.headers[index];
  return true;
}

bool ArchiveReader::IsDirectoryEntry(uint16_t index) const {
  if (IsClosed() || index >= centralDir.headers.size()) return false;
  return centralDir.headers[index]->IsDirectory();
}

bool ArchiveReader::ExtractEntry(uint16_t index, const char16_t* destDir, bool fullPath,
                                 const char16_t* newName, ExtractProgressCallback callback,
                                 void* userData, uint32_t bufferSize, ExtractOutcome* outcome) {
  ExtractOutcome ignored;
  ExtractOutcome& result = outcome ? *outcome : ignored;
  result = ExtractOutcome::systemFailure;
  // A zero-sized transfer buffer could never deliver a byte, and the copy
  // loop below would never end.
  if (bufferSize == 0) {
    plat::SetLastError(plat::ERROR_INVALID_PARAMETER);
    return false;
  }

  EntryRecord info;
  GetEntryInfo(info, index);
  const plat::WString name = newName ? plat::WString(newName) : info.GetNameWide();
  const std::optional<plat::WString> target =
      BuildExtractionTarget(destDir ? destDir : u"", name, fullPath);
  if (!target) {
    plat::SetLastError(plat::ERROR_INVALID_NAME);
    return false;
  }

  if (IsDirectoryEntry(index)) {
    CreateDirectoryTree(*target);
    plat::SetFileAttributes(*target, info.externalAttributes);
    result = ExtractOutcome::extracted;
    return true;
  }

  if (!OpenEntry(index)) {
    result = ExtractOutcome::refused;
    return false;
  }
  CreateDirectoryTree(GetDirectoryPart(*target));

  CFile output;
  CFileException error;
  if (!output.Open(*target, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite,
                   &error))
    throw error;

  ByteBlock transfer(bufferSize, false);
  uint64_t written = 0;
  uint32_t n = 0;
  do {
    n = ReadEntry(transfer.data, bufferSize);
    if (n > 0) {
      output.Write(transfer.data, n);
      written += n;
      // The first value is not read by any receiver; it carries the size of
      // the whole entry.
      if (callback && !callback(info.uncompressedSize, written, userData)) break;
    }
  } while (n == bufferSize);

  const plat::WString path = output.GetFilePath();
  output.Close();
  // 1 done; -1 stopped or ended early; -2 the attributes, 0 the times could
  // not be set (a system failure either way).
  const int32_t closed = CloseEntry(path.c_str());
  if (closed == 1) result = ExtractOutcome::extracted;
  if (closed == -1) result = ExtractOutcome::incomplete;
  return closed == 1;
}
