// The library's own exception: a cause and the path of the volume in use.
#pragma once
#include <cstdint>
#include <string>
#include "framework/exception.h"

// Internal codes raised by the reader (the zlib codes -1 to -6 travel as
// they are).
enum ZipErrorCode : int32_t {
  kZipBadArchive = -101,     // damaged or truncated archive
  kZipBadCrc = -102,         // CRC-32 mismatch after a complete read
  kZipRemovableSpan = -103,  // archive spread over removable disks
  kZipBadPassword = -108,    // password does not fit the encryption header
  kZipNoEndRecord = -109,    // no end record in the tail of the file
  kZipBadDescriptor = 10,    // data descriptor mismatch (maps to cause 1)
};

class CZipException : public CException {
 public:
  enum Cause : int32_t {
    generic = 1,
    streamEnd = 2,
    needDict = 3,
    errNo = 4,
    streamError = 5,
    dataError = 6,
    memError = 7,
    bufError = 8,
    versionError = 9,
    badZipFile = 10,
    badCrc = 11,
    noMultiDisk = 12,
    // 13 to 16 are reserved causes that nothing raises
    badPassword = 17,
    cdirNotFound = 18,
  };

  static constexpr const char* kRuntimeClassName = "CZipException";

  explicit CZipException(int32_t cause = generic, plat::WStringView fileName = {},
                         std::string detail = {})
      : m_szFileName(fileName), m_iCause(cause), m_strDetail(std::move(detail)) {}
  plat::WString GetErrorMessage() const override;

  plat::WString m_szFileName;  // volume in use; empty when the archive was closed
  int32_t m_iCause;
  // Where the fault lies, in a few words ("central header 12: name runs
  // past the end of the file"); empty when nothing more is known.
  std::string m_strDetail;
};

// The cause for an internal code; every value not listed gives 1.
int32_t MapErrorCode(int32_t code);
// Throws a CZipException for the internal code.
[[noreturn]] void RaiseZipError(int32_t code, plat::WStringView fileName = {},
                                std::string detail = {});
