// The framework's file object over a platform file handle.
#pragma once
#include <cstdint>
#include "framework/file_exception.h"
#include "platform/file_handle.h"

class CFile {
 public:
  enum OpenFlags : uint32_t {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeNoTruncate = 0x1000,
    modeCreate = 0x1000 << 1,  // create, truncating unless modeNoTruncate
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CFile() = default;
  virtual ~CFile();  // closes a file that is still open, ignoring errors
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Nonzero on success. On failure returns false and, when given, fills the
  // error record with cause, operating-system error and file name.
  virtual bool Open(plat::WStringView fileName, uint32_t openFlags,
                    CFileException* error = nullptr);
  // Takes over a handle that the platform opened (a file made below a
  // directory without passing through links), known by fileName.
  void Attach(plat::FileHandle handle, plat::WStringView fileName);
  // Gives the open handle up to the caller, who closes it; the object is
  // left closed.
  plat::FileHandle Detach();
  // Bytes read: fewer than asked only at the end of the file, 0 there.
  // Other failures throw CFileException.
  virtual uint32_t Read(void* buffer, uint32_t count);
  // Writes all bytes or throws (cause diskFull when the disk is full).
  virtual void Write(const void* buffer, uint32_t count);
  // New position; throws on failure (badSeek for a negative position).
  virtual uint64_t Seek(int64_t offset, uint32_t from);
  uint64_t SeekToBegin() { return Seek(0, begin); }
  uint64_t SeekToEnd() { return Seek(0, end); }
  virtual uint64_t GetLength() const;
  virtual uint64_t GetPosition() const;
  virtual void Flush();
  // Closes the file; throws when closing fails. The object may be reopened.
  virtual void Close();
  // Closes without throwing.
  virtual void Abort();

  virtual plat::WString GetFilePath() const { return m_strFileName; }
  virtual void SetFilePath(plat::WStringView path) { m_strFileName = plat::WString(path); }
  bool IsOpen() const { return m_hFile != plat::kInvalidFile; }
  plat::FileHandle GetHandle() const { return m_hFile; }

  // Sets the times of a named file (CFile::SetStatus for a path): creation,
  // last access and last write; throws CFileException on failure.
  static void SetFileTimes(plat::WStringView fileName, plat::CalendarTime creation,
                           plat::CalendarTime lastAccess, plat::CalendarTime lastWrite);
  // The same for this open file, through its handle: no second look-up of
  // its name. Throws CFileException on failure.
  void SetTimes(plat::CalendarTime creation, plat::CalendarTime lastAccess,
                plat::CalendarTime lastWrite);

 protected:
  plat::FileHandle m_hFile = plat::kInvalidFile;
  plat::WString m_strFileName;  // the full path under which the file was opened
};
