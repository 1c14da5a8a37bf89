// The archive's access to its bytes: one file object, the volume in use, and
// reads that move on to the next volume of a split archive.
#pragma once
#include <cstdint>
#include <string>
#include "upk4/byte_block.h"
#include "upk4/zip_file64.h"

class VolumeSet {
 public:
  enum Layout : int32_t { single = 0, removable = 1, split = 2, unknown = 3 };

  VolumeSet() = default;
  ~VolumeSet() = default;
  VolumeSet(const VolumeSet&) = delete;
  VolumeSet& operator=(const VolumeSet&) = delete;

  // Opens the first file read-only; throws CFileException.
  void Open(plat::WStringView path);
  // Settles single file or split from the end record's volume number;
  // throws -103 for a split archive on removable media.
  void SettleVolumeLayout(uint16_t volumeNumber);
  // 0 single file, -1 several volumes.
  int IsMultiVolume() const { return volumeLayout == single ? 0 : -1; }
  int32_t GetCurrentVolume() const { return currentVolume; }
  void ChangeVolume(int32_t volume);
  // Reads exactly count bytes or throws; see the whole-record rule.
  uint32_t Read(void* buffer, uint32_t count, bool wholeOnly);
  void Close(bool afterError);
  [[noreturn]] void RaiseError(int32_t code, std::string detail = {}) const;

  // Opens name in file read-only; throws the filled CFileException when
  // throwOnFailure is set, else returns whether it opened.
  bool OpenFile(plat::WStringView name, bool throwOnFailure);
  // Name of the volume currentVolume: the pattern formatted with 1 for the
  // last volume and currentVolume + 2 for the others, in the directory of
  // the current file.
  plat::WString VolumeFileName(bool last) const;

  CZipFile64 file;
  CFile* currentFile = nullptr;
  int32_t lastVolume = -1;  // set only for split archives
  int32_t volumeLayout = single;
  uint32_t writeBufferSize = 65535;
  ByteBlock writeBuffer;
  int32_t currentVolume = -1;
};
