// The framework's file exception: a cause, the operating system's error code
// and the file name.
#pragma once
#include <cstdint>
#include "framework/exception.h"

class CFileException : public CException {
 public:
  enum Cause : int {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  CFileException() = default;
  CFileException(int cause, long osError, plat::WString fileName = {})
      : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

  // The cause that a Win32 error number stands for.
  static int OsErrorToException(long osError);
  // Throws a CFileException for a Win32 error number.
  [[noreturn]] static void ThrowOsError(long osError, plat::WString fileName = {});

  plat::WString GetErrorMessage() const override;

  int m_cause = none;
  long m_lOsError = -1;
  plat::WString m_strFileName;
};
