// How the archive object raises its errors: the archive's path while it is
// open, and for the entry being decoded a detail that names it.
#include <zlib.h>
#include "upk4/archive_reader.h"
#include "upk4/zip_exception.h"

[[noreturn]] void ArchiveReader::RaiseError(int32_t code, std::string detail) const {
  RaiseZipError(code, IsClosed() ? plat::WString() : storage.CurrentPath(), std::move(detail));
}

void ArchiveReader::CheckInflateResult(int result) const {
  if (result == Z_OK || result == Z_NEED_DICT) return;
  RaiseError(result, EntryDetail("compressed data does not inflate"));
}

std::string ArchiveReader::EntryDetail(const std::string& problem) const {
  return "entry " + std::to_string(centralDir.currentIndex) + ": " + problem;
}
