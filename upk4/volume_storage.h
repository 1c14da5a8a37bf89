// Where the archive's volumes come from. VolumeSet asks a VolumeStorage for
// each volume file by name; the default storage opens real files, and a
// test can hand in one that serves bytes from memory. Whatever serves them,
// a VolumeFile behaves exactly as a read-only file: positions past the end
// are allowed, a read there returns 0, a read that reaches the end comes up
// short, and a seek before the start fails.
#pragma once
#include <cstdint>
#include <memory>
#include "platform/win_types.h"

class VolumeFile {
 public:
  enum SeekPosition { begin = 0, current = 1, end = 2 };  // as CFile's

  virtual ~VolumeFile() = default;  // closes the file, ignoring errors
  // Bytes read: fewer than asked only at the end of the file, 0 there.
  // Other failures throw CFileException.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // The new position; throws CFileException (badSeek) before the start.
  virtual uint64_t Seek(int64_t offset, uint32_t from) = 0;
  virtual uint64_t GetLength() const = 0;
  virtual uint64_t GetPosition() const = 0;
  // The full path under which the file was opened.
  virtual plat::WString GetFilePath() const = 0;
};

class VolumeStorage {
 public:
  virtual ~VolumeStorage() = default;
  // Opens the named volume for reading; throws the CFileException that says
  // why when it cannot.
  virtual std::unique_ptr<VolumeFile> Open(plat::WStringView name) = 0;
  // Whether the volume lies on removable media (one volume per disk).
  virtual bool IsRemovable(plat::WStringView path) const = 0;

  // The real files of the file system. One object serves every archive of
  // the process: it holds no state.
  static VolumeStorage& Files();
};
