// The framework's file exception: Win32 error numbers to causes, and texts.
#include "framework/file_exception.h"

#include "platform/code_page.h"

int CFileException::OsErrorToException(long osError) {
  switch (osError) {
    case 0: return none;
    case 2: return fileNotFound;
    case 3: return badPath;
    case 4: return tooManyOpenFiles;
    case 5: return accessDenied;
    case 6: return invalidFile;
    case 16: return removeCurrentDir;
    case 18: return directoryFull;
    case 25: return badSeek;
    case 29:
    case 30:
    case 31: return hardIO;
    case 32: return sharingViolation;
    case 33: return lockViolation;
    case 38: return endOfFile;
    case 39:
    case 112: return diskFull;
    default: return genericException;
  }
}

void CFileException::ThrowOsError(long osError, plat::WString fileName) {
  throw CFileException(OsErrorToException(osError), osError, std::move(fileName));
}

plat::WString CFileException::GetErrorMessage() const {
  const char* what = nullptr;
  switch (m_cause) {
    case none: what = "No error occurred with"; break;
    case fileNotFound: what = "The file was not found:"; break;
    case badPath: what = "All or part of the path is not valid:"; break;
    case tooManyOpenFiles: what = "Too many files are open to open"; break;
    case accessDenied: what = "Access was denied to"; break;
    case invalidFile: what = "An invalid file handle was used with"; break;
    case removeCurrentDir: what = "The current directory cannot be removed:"; break;
    case directoryFull: what = "There are no more directory entries for"; break;
    case badSeek: what = "The file position could not be set in"; break;
    case hardIO: what = "A hardware error occurred with"; break;
    case sharingViolation: what = "The file is in use by another process:"; break;
    case lockViolation: what = "A locked region was accessed in"; break;
    case diskFull: what = "The disk is full while writing"; break;
    case endOfFile: what = "The end of the file was reached in"; break;
    default: what = "An unexpected error occurred with"; break;
  }
  plat::WString message = plat::Utf8ToUtf16(what);
  message += u" \"";
  message += m_strFileName.empty() ? plat::WString(u"an unnamed file") : m_strFileName;
  message += u"\".";
  return message;
}
