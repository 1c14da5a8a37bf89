// One reader's access to the bytes of an archive: the volume in use, its
// position, and reads that move on to the next volume of a split archive.
// Each VolumeSet is one cursor; a second reader of the same archive reads
// through a cursor of its own (Clone), so that no position is shared
// between threads.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include "upk4/volume_storage.h"

class VolumeSet {
 public:
  enum Layout : int32_t { single = 0, removable = 1, split = 2, unknown = 3 };

  // Volumes come from storage and are named from namePattern (the file-name
  // part, see VolumeFileName); the storage must outlive the set.
  VolumeSet(VolumeStorage& storage, plat::WStringView namePattern);
  ~VolumeSet() = default;
  VolumeSet(const VolumeSet&) = delete;
  VolumeSet& operator=(const VolumeSet&) = delete;

  // Opens the first file read-only; throws CFileException.
  void Open(plat::WStringView path);
  // Settles single file or split from the end record's volume number;
  // throws -103 for a split archive on removable media.
  void SettleVolumeLayout(uint16_t volumeNumber);
  // Another cursor over the same volumes, on the first file opened (the
  // volume that holds the end record), at its start. Reads only what Open
  // and SettleVolumeLayout set, so it may be called while another thread
  // reads through this cursor.
  std::unique_ptr<VolumeSet> Clone() const;

  // 0 single file, -1 several volumes.
  int IsMultiVolume() const { return m_layout == single ? 0 : -1; }
  int32_t GetCurrentVolume() const { return m_currentVolume; }
  // The number of the last volume (the one named with 1); -1 unless split.
  int32_t LastVolume() const { return m_lastVolume; }
  bool IsOpen() const { return m_currentFile != nullptr; }
  // The volume in use; only while IsOpen().
  VolumeFile& File() const { return *m_currentFile; }

  // Makes the volume current, opening it unless it is in use already.
  void ChangeVolume(int32_t volume);
  // Reads exactly count bytes or throws. A whole record (wholeOnly) must lie
  // on one volume; entry data runs on at the start of the next one.
  uint32_t Read(void* buffer, uint32_t count, bool wholeOnly);
  [[noreturn]] void RaiseError(int32_t code, std::string detail = {}) const;

  // Name of the volume currently numbered: the pattern formatted with 1 for
  // the last volume and the volume's number + 2 for the others, in the
  // directory of the first file.
  plat::WString VolumeFileName(bool last) const;
  // Full path of the volume in use, or of the one that failed to open.
  plat::WString CurrentPath() const;

 private:
  // Opens name as the current file; throws the storage's CFileException.
  void OpenFile(plat::WStringView name);

  VolumeStorage& m_storage;
  plat::WString m_pattern;
  plat::WString m_firstPath;    // the file opened first
  plat::WString m_directory;    // of the first file: every volume lies there
  plat::WString m_currentName;  // the name last opened or tried
  // None before Open and after a volume failed to open.
  std::unique_ptr<VolumeFile> m_currentFile;
  int32_t m_lastVolume = -1;  // set only for split archives
  int32_t m_layout = single;
  int32_t m_currentVolume = -1;
};
