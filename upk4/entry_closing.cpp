// Finishing the entry that is open for extraction: CRC-32 verdict, the
// extracted file's times and attributes, the data descriptor test.
#include <cstdio>
#include "framework/file.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "upk4/archive_reader.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

int32_t ArchiveReader::CloseEntry(const char16_t* path) {
  if (entryState != -1) return 0;
  const EntryRecord& entry = *centralDir.currentEntry;

  int32_t result = 1;
  if (decode.uncompressedLeft == 0) {
    if (decode.runningCrc != entry.crc32) {
      char text[64];
      std::snprintf(text, sizeof text, "data gives CRC-32 %08X, the header %08X",
                    static_cast<unsigned>(decode.runningCrc), static_cast<unsigned>(entry.crc32));
      RaiseError(kZipBadCrc, EntryDetail(text));
    }
  } else {
    result = -1;  // not read to its end: no verdict on the CRC
  }
  if (entry.method == zip::kMethodDeflated) decode.inflater.End();

  if (path != nullptr) {
    try {
      const plat::CalendarTime now = plat::CurrentTime();
      CFile::SetFileTimes(path, now, now, entry.GetModificationTime());
      if (!plat::SetFileAttributes(path, entry.externalAttributes)) result = -2;
    } catch (const CException&) {
      // The entry stays open; closing the archive finishes it.
      return 0;
    }
  }

  centralDir.FinishEntry();
  entryState = 0;
  decode.readBuffer.Release();
  FreeRegisteredAllocations();
  return result;
}

bool ArchiveReader::AbandonEntry() {
  if (entryState != -1) return false;
  decode.inflater.End();
  centralDir.localExtraField.Release();
  centralDir.currentEntry = nullptr;
  entryState = 0;
  decode.readBuffer.Release();
  FreeRegisteredAllocations();
  return true;
}
