#include "open_archive.h"
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include "framework/exception.h"
#include "framework/file_exception.h"
#include "framework/safe_format.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "upk4/path_functions.h"

namespace {

void ReportOpenFailure(const char* archivePath, const std::string& reason) {
  std::fprintf(stderr, "upk4: cannot open %s: %s\n", archivePath, reason.c_str());
}

}  // namespace

std::string MessageForUser(const CException& e) {
  plat::WString text = e.GetErrorMessage();
  // A file named in the message is shown in the form the user types it
  // ("/x.zip" on POSIX, not the core's "\x.zip").
  if (const auto* file = dynamic_cast<const CFileException*>(&e); file && !file->m_strFileName.empty()) {
    const plat::WString& name = file->m_strFileName;
    const size_t at = text.find(name);
    if (at != plat::WString::npos) {
      text.replace(at, name.size(), plat::Utf8ToUtf16(plat::ToNativePath(name)));
    }
  }
  return plat::Utf16ToUtf8(text);
}

std::unique_ptr<Archive> OpenArchiveForTool(const char* archivePath) {
  const plat::WString given = plat::FromNativePath(archivePath);
  // A split archive is named by its volume-name pattern (data%d.zip); the
  // file that carries the end record is volume number 1.
  plat::WString path = given;
  if (!plat::PathFileExists(given))
    path = GetDirectoryPart(given) + FormatIntegers(GetFileNamePart(given), {1});
  try {
    ArchiveOptions options;
    options.volumeNamePattern = GetFileNamePart(given);
    return Archive::Open(path, options);
  } catch (const CException& e) {
    ReportOpenFailure(archivePath, MessageForUser(e));
  } catch (const std::bad_alloc&) {
    ReportOpenFailure(archivePath, "out of memory");
  } catch (const std::exception& e) {
    ReportOpenFailure(archivePath, e.what());
  }
  return nullptr;
}
