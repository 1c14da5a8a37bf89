#include "upk4/volume_set.h"
#include "framework/safe_format.h"
#include "upk4/path_functions.h"
#include "upk4/zip_exception.h"

#include "upk4/zip_format.h"

namespace {

std::string AtOffset(const char* what, uint64_t offset) {
  return std::string(what) + " at offset " + std::to_string(offset);
}

}  // namespace

void VolumeSet::Open(plat::WStringView path) {
  // A file left open by an earlier open that failed half way is let go first.
  if (file.IsOpen()) file.Abort();
  writeBuffer.Allocate(writeBufferSize, false);
  currentFile = &file;
  OpenFile(path, true);
  volumeLayout = unknown;
}

bool VolumeSet::OpenFile(plat::WStringView name, bool throwOnFailure) {
  CFileException error(CFileException::none, -1);
  bool opened = file.Open(name, CFile::modeRead | CFile::shareDenyWrite, &error);
  if (!opened && throwOnFailure) throw error;
  return opened;
}

void VolumeSet::SettleVolumeLayout(uint16_t volumeNumber) {
  currentVolume = volumeNumber;
  if (volumeNumber == 0) {
    volumeLayout = single;
    return;
  }
  volumeLayout = IsRemovableDrive(currentFile->GetFilePath()) ? removable : split;
  if (volumeLayout == removable)
    RaiseError(kZipRemovableSpan, "end record: archive spread over removable disks");
  lastVolume = volumeNumber;
  writeBuffer.Release();
}

void VolumeSet::ChangeVolume(int32_t volume) {
  if (volume == currentVolume) return;
  // A single file has only volume 0 and no last volume to name the others
  // from: a request for another volume comes from a damaged archive.
  if (volumeLayout != split)
    RaiseError(kZipBadArchive, "volume " + std::to_string(volume) + " of a single-file archive");
  // Volume numbers come from 16-bit fields; a read never needs more.
  if (volume < 0 || volume > static_cast<int32_t>(zip::kMaxVolume))
    RaiseError(kZipBadArchive, "read past the last volume");
  currentVolume = volume;
  plat::WString name = VolumeFileName(volume == lastVolume);
  if (currentFile->IsOpen()) currentFile->Close();
  OpenFile(name, true);
}

plat::WString VolumeSet::VolumeFileName(bool last) const {
  int64_t number = last ? 1 : static_cast<int64_t>(currentVolume) + 2;
  return GetDirectoryPart(currentFile->GetFilePath()) +
         FormatIntegers(GetVolumeNamePattern(), {number});
}

uint32_t VolumeSet::Read(void* buffer, uint32_t count, bool wholeOnly) {
  if (count == 0) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  // Where the failed read began, worked out only when it fails.
  auto start = [&](uint32_t got) { return currentFile->GetPosition() - got; };
  uint32_t got = currentFile->Read(bytes, count);
  while (got == 0) {
    if (IsMultiVolume() == 0) RaiseError(kZipBadArchive, AtOffset("file ends", start(0)));
    ChangeVolume(currentVolume + 1);
    got = currentFile->Read(bytes, count);
  }
  if (got == count) return count;
  if (IsMultiVolume() == 0) RaiseError(kZipBadArchive, AtOffset("file ends inside a record or data", start(got)));
  if (wholeOnly) RaiseError(kZipBadArchive, AtOffset("record continues on the next volume", start(got)));
  while (got < count) {
    ChangeVolume(currentVolume + 1);
    uint32_t more = currentFile->Read(bytes + got, count - got);
    if (more == 0) RaiseError(kZipBadArchive, "volume " + std::to_string(currentVolume) + " is empty");
    got += more;
  }
  return count;
}

void VolumeSet::Close(bool afterError) {
  if (currentFile != nullptr && currentFile->IsOpen()) {
    // Nothing is ever written, so a close after an error only must not throw.
    if (afterError)
      currentFile->Abort();
    else
      currentFile->Close();
  }
  writeBuffer.Release();
  currentVolume = -1;
  volumeLayout = single;
  currentFile = nullptr;
}

[[noreturn]] void VolumeSet::RaiseError(int32_t code, std::string detail) const {
  RaiseZipError(code, currentFile != nullptr ? currentFile->GetFilePath() : plat::WString(),
                std::move(detail));
}
