#include "upk4/volume_set.h"
#include "framework/file_exception.h"
#include "framework/safe_format.h"
#include "upk4/path_functions.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

namespace {

std::string AtOffset(const char* what, uint64_t offset) {
  return std::string(what) + " at offset " + std::to_string(offset);
}

}  // namespace

VolumeSet::VolumeSet(VolumeStorage& storage, plat::WStringView namePattern)
    : m_storage(storage), m_pattern(namePattern) {}

void VolumeSet::Open(plat::WStringView path) {
  m_firstPath = plat::WString(path);
  m_directory = GetDirectoryPart(path);
  OpenFile(path);
  m_layout = unknown;
}

void VolumeSet::OpenFile(plat::WStringView name) {
  m_currentFile.reset();
  m_currentName = plat::WString(name);
  m_currentFile = m_storage.Open(name);
}

std::unique_ptr<VolumeSet> VolumeSet::Clone() const {
  auto copy = std::make_unique<VolumeSet>(m_storage, m_pattern);
  copy->m_firstPath = m_firstPath;
  copy->m_directory = m_directory;
  copy->m_lastVolume = m_lastVolume;
  copy->m_layout = m_layout;
  copy->OpenFile(m_firstPath);
  copy->m_currentVolume = m_layout == split ? m_lastVolume : 0;
  return copy;
}

plat::WString VolumeSet::CurrentPath() const {
  return m_currentFile != nullptr ? m_currentFile->GetFilePath() : m_currentName;
}

void VolumeSet::SettleVolumeLayout(uint16_t volumeNumber) {
  m_currentVolume = volumeNumber;
  if (volumeNumber == 0) {
    m_layout = single;
    return;
  }
  m_layout = m_storage.IsRemovable(CurrentPath()) ? removable : split;
  if (m_layout == removable)
    RaiseError(kZipRemovableSpan, "end record: archive spread over removable disks");
  m_lastVolume = volumeNumber;
}

void VolumeSet::ChangeVolume(int32_t volume) {
  // The volume in use is not opened again; one that failed to open is.
  if (volume == m_currentVolume && m_currentFile != nullptr) return;
  // A single file has only volume 0 and no last volume to name the others
  // from: a request for another volume comes from a damaged archive.
  if (m_layout != split)
    RaiseError(kZipBadArchive, "volume " + std::to_string(volume) + " of a single-file archive");
  // Volume numbers come from 16-bit fields; a read never needs more.
  if (volume < 0 || volume > static_cast<int32_t>(zip::kMaxVolume))
    RaiseError(kZipBadArchive, "read past the last volume");
  m_currentVolume = volume;
  OpenFile(VolumeFileName(volume == m_lastVolume));
}

plat::WString VolumeSet::VolumeFileName(bool last) const {
  int64_t number = last ? 1 : static_cast<int64_t>(m_currentVolume) + 2;
  return m_directory + FormatIntegers(m_pattern, {number});
}

uint32_t VolumeSet::Read(void* buffer, uint32_t count, bool wholeOnly) {
  if (count == 0) return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  // Where the failed read began, worked out only when it fails.
  auto start = [&](uint32_t got) { return m_currentFile->GetPosition() - got; };
  uint32_t got = m_currentFile->Read(bytes, count);
  while (got == 0) {
    if (IsMultiVolume() == 0) RaiseError(kZipBadArchive, AtOffset("file ends", start(0)));
    ChangeVolume(m_currentVolume + 1);
    got = m_currentFile->Read(bytes, count);
  }
  if (got == count) return count;
  if (IsMultiVolume() == 0)
    RaiseError(kZipBadArchive, AtOffset("file ends inside a record or data", start(got)));
  if (wholeOnly)
    RaiseError(kZipBadArchive, AtOffset("record continues on the next volume", start(got)));
  while (got < count) {
    ChangeVolume(m_currentVolume + 1);
    uint32_t more = m_currentFile->Read(bytes + got, count - got);
    if (more == 0)
      RaiseError(kZipBadArchive, "volume " + std::to_string(m_currentVolume) + " is empty");
    got += more;
  }
  return count;
}

[[noreturn]] void VolumeSet::RaiseError(int32_t code, std::string detail) const {
  RaiseZipError(code, CurrentPath(), std::move(detail));
}
