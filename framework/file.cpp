// CFile over the platform's file handles.
#include "framework/file.h"

#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/native_path.h"

namespace {

// The full, Windows-form name under which a file is known, as
// GetFullPathName gives it.
plat::WString FullPath(plat::WStringView name) { return plat::GetFullPathName(name); }

}  // namespace

CFile::~CFile() { Abort(); }

bool CFile::Open(plat::WStringView fileName, uint32_t openFlags, CFileException* error) {
  Abort();
  m_strFileName = FullPath(fileName);

  plat::FileAccess access = plat::FileAccess::Read;
  switch (openFlags & 3u) {
    case modeWrite: access = plat::FileAccess::Write; break;
    case modeReadWrite: access = plat::FileAccess::ReadWrite; break;
    default: break;
  }
  plat::FileShare share = plat::FileShare::DenyNone;
  switch (openFlags & 0x70u) {
    case shareExclusive: share = plat::FileShare::Exclusive; break;
    case shareDenyWrite: share = plat::FileShare::DenyWrite; break;
    case shareDenyRead: share = plat::FileShare::DenyRead; break;
    default: break;
  }
  plat::FileCreate create = plat::FileCreate::OpenExisting;
  if (openFlags & modeCreate) {
    create = (openFlags & modeNoTruncate) ? plat::FileCreate::OpenAlways
                                          : plat::FileCreate::CreateAlways;
  }

  // Opened under its full name, so "..", as on Windows, never needs the
  // directory before it to exist.
  m_hFile = plat::OpenFileHandle(m_strFileName, access, share, create);
  if (m_hFile == plat::kInvalidFile) {
    if (error) {
      long os = static_cast<long>(plat::GetLastError());
      error->m_lOsError = os;
      error->m_cause = CFileException::OsErrorToException(os);
      error->m_strFileName = m_strFileName;
    }
    return false;
  }
  return true;
}

void CFile::Attach(plat::FileHandle handle, plat::WStringView fileName) {
  Abort();
  m_hFile = handle;
  m_strFileName = FullPath(fileName);
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  if (count == 0) return 0;
  int64_t n = plat::ReadFileHandle(m_hFile, buffer, count);
  if (n < 0) CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  return static_cast<uint32_t>(n);
}

void CFile::Write(const void* buffer, uint32_t count) {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  if (count == 0) return;
  if (plat::WriteFileHandle(m_hFile, buffer, count) < 0) {
    CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  }
}

uint64_t CFile::Seek(int64_t offset, uint32_t from) {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  plat::SeekOrigin origin = from == current ? plat::SeekOrigin::Current
                            : from == end   ? plat::SeekOrigin::End
                                            : plat::SeekOrigin::Begin;
  int64_t pos = plat::SeekFileHandle(m_hFile, offset, origin);
  if (pos < 0) {
    long os = static_cast<long>(plat::GetLastError());
    throw CFileException(os == plat::ERROR_INVALID_HANDLE ? CFileException::invalidFile
                                                          : CFileException::badSeek,
                         os, m_strFileName);
  }
  return static_cast<uint64_t>(pos);
}

uint64_t CFile::GetLength() const {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  int64_t size = plat::GetFileHandleSize(m_hFile);
  if (size < 0) CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  return static_cast<uint64_t>(size);
}

uint64_t CFile::GetPosition() const {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  int64_t pos = plat::SeekFileHandle(m_hFile, 0, plat::SeekOrigin::Current);
  if (pos < 0) CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  return static_cast<uint64_t>(pos);
}

void CFile::Flush() {
  if (!IsOpen()) return;
  if (!plat::FlushFileHandle(m_hFile)) {
    CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  }
}

void CFile::Close() {
  if (!IsOpen()) return;
  plat::FileHandle handle = m_hFile;
  m_hFile = plat::kInvalidFile;
  if (!plat::CloseFileHandle(handle)) {
    CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
  }
}

plat::FileHandle CFile::Detach() {
  const plat::FileHandle handle = m_hFile;
  m_hFile = plat::kInvalidFile;
  return handle;
}

void CFile::Abort() {
  if (!IsOpen()) return;
  plat::CloseFileHandle(m_hFile);
  m_hFile = plat::kInvalidFile;
}

void CFile::SetTimes(plat::CalendarTime creation, plat::CalendarTime lastAccess,
                     plat::CalendarTime lastWrite) {
  if (!IsOpen()) CFileException::ThrowOsError(plat::ERROR_INVALID_HANDLE, m_strFileName);
  const plat::CalendarTime* c = creation ? &creation : nullptr;
  const plat::CalendarTime* a = lastAccess ? &lastAccess : nullptr;
  const plat::CalendarTime* w = lastWrite ? &lastWrite : nullptr;
  if (!plat::SetFileHandleTimes(m_hFile, c, a, w))
    CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), m_strFileName);
}

void CFile::SetFileTimes(plat::WStringView fileName, plat::CalendarTime creation,
                         plat::CalendarTime lastAccess, plat::CalendarTime lastWrite) {
  // A zero time leaves that time as it is.
  const plat::CalendarTime* c = creation ? &creation : nullptr;
  const plat::CalendarTime* a = lastAccess ? &lastAccess : nullptr;
  const plat::CalendarTime* w = lastWrite ? &lastWrite : nullptr;
  if (!plat::SetFileTimes(fileName, c, a, w)) {
    CFileException::ThrowOsError(static_cast<long>(plat::GetLastError()), plat::WString(fileName));
  }
}
