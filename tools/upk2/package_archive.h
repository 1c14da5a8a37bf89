// Where a package keeps its archive, worked out the way Setup does it: the
// trailer and config block at the end of the Setup file name the archive
// (the Setup file itself, or a file beside it), and the package flags say
// how that path becomes the name that is opened.
#pragma once
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include "upk4/archive.h"
#include "platform/win_types.h"
#include "setup/package_trailer.h"


namespace upk2 {

// A failure with a short text for the error list. Not a std::runtime_error:
// that class brings the C++ runtime's reference-counted string into the
// Windows upk2.dll (about 75 KB); the text is shared instead, so that copies
// of the exception cannot fail.
class Upk2Error : public std::exception {
 public:
  explicit Upk2Error(std::string text)
      : m_text(std::make_shared<const std::string>(std::move(text))) {}
  const char* what() const noexcept override { return m_text->c_str(); }

 private:
  std::shared_ptr<const std::string> m_text;
};

struct PackageArchive {
  setup::PackageInfo package;
  // moduleDir + subdir + name, or the Setup file; a pattern under flags 1, 2.
  plat::WString archivePath;
  // The name that is opened: archivePath formatted by the flags.
  plat::WString openName;
  plat::WString password;  // empty for none
};

// Setup's own directory: its path up to and including the last separator
// (the whole path when there is none).
plat::WString ModuleDirectoryOf(plat::WStringView path);

// The opened name for a path and the package flags, as the unpacker forms
// it: bit 0 formats the path with 1, bit 1 with 1 and 1, bit 2 takes it as
// it is; none of them gives the empty name. Only integer conversions are
// formatted; other "%" sequences stay as they are.
plat::WString OpenNameForFlags(plat::WStringView path, int32_t packageFlags);

// Reads the package of the Setup file. Throws Upk2Error when the file
// cannot be read or carries no usable trailer.
PackageArchive LocatePackageArchive(plat::WStringView setupPath);

// The package's archive open, and the bytes of its password (none when the
// package gives none, or one the keys cannot take).
struct OpenedPackage {
  std::unique_ptr<Archive> archive;
  std::optional<std::string> password;
};

// Opens the archive like the unpacker's open: volume-name pattern from the
// path's file part, the unpacker's options, then the password. Throws
// Upk2Error when no name is formed; errors of the reader pass through.
OpenedPackage OpenPackageArchive(const PackageArchive& archive);

}  // namespace upk2
