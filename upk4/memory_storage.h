// Volume storage in memory, for crafted archives that never touch the disk
// (the tests and the fuzz targets; nothing in the library uses it):
// each name holds its bytes, or a generator that computes them by position
// (an archive larger than memory). Names are the full paths the reader asks
// for, so the volume-name rules apply unchanged.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include "upk4/volume_storage.h"

// A file's bytes by position.
class MemoryContents {
 public:
  virtual ~MemoryContents() = default;
  virtual uint64_t Length() const = 0;
  // Copies count bytes from position at; at + count never passes Length().
  virtual void CopyOut(uint64_t at, uint8_t* out, size_t count) const = 0;
};

// bytes with a run of zero bytes of the given length inserted at position
// at: the run takes no memory.
std::shared_ptr<const MemoryContents> WithZeroRun(std::string bytes, uint64_t at, uint64_t length);

class MemoryStorage : public VolumeStorage {
 public:
  // Puts a file under the name, replacing one that is there.
  void Add(plat::WStringView name, std::string bytes);
  void Add(plat::WStringView name, std::shared_ptr<const MemoryContents> contents);
  // Every volume counts as one on removable media.
  void SetRemovable(bool removable) { m_removable = removable; }
  // How often a name was opened (successfully or not).
  int OpenCount(plat::WStringView name) const;

  std::unique_ptr<VolumeFile> Open(plat::WStringView name) override;
  bool IsRemovable(plat::WStringView) const override { return m_removable; }

 private:
  std::map<plat::WString, std::shared_ptr<const MemoryContents>> m_files;
  std::map<plat::WString, int> m_opens;
  bool m_removable = false;
};
