#include "package_archive.h"

#include "framework/file.h"
#include "framework/safe_format.h"
#include "platform/code_page.h"
#include "upk4/archive_reader.h"
#include "upk4/path_functions.h"
#include "upk4.h"

namespace upk2 {

namespace {

std::string Ansi(plat::WStringView text) { return plat::WideToAnsi(text); }

}  // namespace

plat::WString ModuleDirectoryOf(plat::WStringView path) {
  const size_t slash = path.find_last_of(u"\\/");
  if (slash == plat::WStringView::npos) return plat::WString(path);
  return plat::WString(path.substr(0, slash + 1));
}

plat::WString OpenNameForFlags(plat::WStringView path, int32_t packageFlags) {
  const auto flags = static_cast<uint32_t>(packageFlags);
  if (flags & UPK4_OPEN_PATTERN1) return FormatFileNamePart(path, {1});
  if (flags & UPK4_OPEN_PATTERN2) return FormatFileNamePart(path, {1, 1});
  if (flags & UPK4_OPEN_PLAIN) return plat::WString(path);
  return {};
}

PackageArchive LocatePackageArchive(plat::WStringView setupPath) {
  CFile file;
  CFileException error;
  if (!file.Open(setupPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary,
                 &error)) {
    throw Upk2Error("cannot open the package " + Ansi(setupPath) + ": " +
                    Ansi(error.GetErrorMessage()));
  }
  PackageArchive archive;
  switch (setup::ReadPackage(file, &archive.package)) {
    case setup::PackageStatus::Ok:
      break;
    case setup::PackageStatus::NoMarker:
      throw Upk2Error("no package marker in " + Ansi(setupPath));
    case setup::PackageStatus::BadTrailer:
      throw Upk2Error("damaged package trailer in " + Ansi(setupPath));
    case setup::PackageStatus::ReadError:
      throw Upk2Error("cannot read the package " + Ansi(setupPath));
  }
  file.Abort();

  const setup::PackageConfig& config = archive.package.config;
  archive.archivePath = config.ArchivePath(setupPath, ModuleDirectoryOf(setupPath));
  archive.openName = OpenNameForFlags(archive.archivePath, archive.package.trailer.packageFlags);
  if (config.password) archive.password = *config.password;
  return archive;
}

void OpenPackageArchive(ArchiveReader& reader, const PackageArchive& archive) {
  if (archive.openName.empty()) {
    throw Upk2Error("the package flags name no archive");
  }
  SetVolumeNamePattern(archive.archivePath);
  reader.SetBufferSizes(65535, 16384, 32768);
  reader.Open(archive.openName);
  if (!archive.password.empty()) reader.SetPassword(archive.password.c_str());
}

}  // namespace upk2
