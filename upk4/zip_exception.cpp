#include "upk4/zip_exception.h"
#include "platform/code_page.h"

int32_t MapErrorCode(int32_t code) {
  switch (code) {
    case 1: return CZipException::streamEnd;
    case 2: return CZipException::needDict;
    case -1: return CZipException::errNo;
    case -2: return CZipException::streamError;
    case -3: return CZipException::dataError;
    case -4: return CZipException::memError;
    case -5: return CZipException::bufError;
    case -6: return CZipException::versionError;
    default: break;
  }
  // The reader's own codes -101 to -109 map in order onto causes 10 to 18.
  if (code <= -101 && code >= -109) return 10 + (-101 - code);
  return CZipException::generic;
}

[[noreturn]] void RaiseZipError(int32_t code, plat::WStringView fileName, std::string detail) {
  throw CZipException(MapErrorCode(code), fileName, std::move(detail));
}

plat::WString CZipException::GetErrorMessage() const {
  const char* text = "archive error";
  switch (m_iCause) {
    case streamEnd: text = "unexpected end of compressed data"; break;
    case needDict: text = "compressed data needs a dictionary"; break;
    case errNo: text = "inflate: system error"; break;
    case streamError: text = "inflate: inconsistent stream state"; break;
    case dataError: text = "inflate: corrupt compressed data"; break;
    case memError: text = "inflate: out of memory"; break;
    case bufError: text = "inflate: no progress possible"; break;
    case versionError: text = "inflate: incompatible zlib version"; break;
    case badZipFile: text = "damaged or truncated archive"; break;
    case badCrc: text = "CRC-32 mismatch"; break;
    case noMultiDisk: text = "archive spread over removable disks cannot be read"; break;
    case badPassword: text = "wrong password"; break;
    case cdirNotFound: text = "no end-of-central-directory record (not a ZIP archive?)"; break;
    default:
      if (m_iCause >= 13 && m_iCause <= 16) text = "unexpected archive error";
      break;
  }
  if (m_strDetail.empty()) return plat::W(text);
  return plat::W(std::string(text) + " (" + m_strDetail + ")");
}
