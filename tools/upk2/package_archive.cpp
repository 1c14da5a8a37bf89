#include "upk4/password.h"
#include "package_archive.h"

#include "framework/file.h"
#include "framework/safe_format.h"
#include "platform/code_page.h"
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

OpenedPackage OpenPackageArchive(const PackageArchive& archive) {
  if (archive.openName.empty()) {
    throw Upk2Error("the package flags name no archive");
  }
  OpenedPackage opened;
  opened.archive = Archive::Open(archive.openName,
                                 LibraryArchiveOptions(GetFileNamePart(archive.archivePath)));
  if (!archive.password.empty()) PasswordBytes(archive.password.c_str(), opened.password);
  return opened;
}

}  // namespace upk2
