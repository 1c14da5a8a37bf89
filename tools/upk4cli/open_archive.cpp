#include "open_archive.h"
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include "framework/exception.h"
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

bool OpenArchiveForTool(ArchiveReader& reader, const char* archivePath) {
  const plat::WString given = plat::FromNativePath(archivePath);
  // A split archive is named by its volume-name pattern (data%d.zip); the
  // file that carries the end record is volume number 1.
  plat::WString path = given;
  if (!plat::PathFileExists(given))
    path = GetDirectoryPart(given) + FormatIntegers(GetFileNamePart(given), {1});
  try {
    SetVolumeNamePattern(given);
    reader.SetBufferSizes(65535, 16384, 32768);
    reader.Open(path);
    return true;
  } catch (const CException& e) {
    ReportOpenFailure(archivePath, plat::Utf16ToUtf8(e.GetErrorMessage()));
  } catch (const std::bad_alloc&) {
    ReportOpenFailure(archivePath, "out of memory");
  } catch (const std::exception& e) {
    ReportOpenFailure(archivePath, e.what());
  }
  return false;
}
