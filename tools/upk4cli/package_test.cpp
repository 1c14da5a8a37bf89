// upk4 test --package: checks a package's own CRC-32 (the trailer's record
// of every byte before the config block) without running anything of it,
// so that a release pipeline can check what it publishes.
#include <cstdio>
#include <new>
#include <optional>
#include "commands.h"
#include "framework/file.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "setup/package_crc.h"
#include "setup/package_trailer.h"

int RunPackageTest(const char* packagePath) {
  CFile file;
  if (!file.Open(plat::FromNativePath(packagePath),
                 CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) {
    std::fprintf(stderr, "upk4: cannot open %s\n", packagePath);
    return 1;
  }
  try {
    const std::optional<int32_t> distance = setup::LocateMarker(file);
    if (!distance) {
      std::printf("FAILED %s: no package marker in its last 30720 bytes\n", packagePath);
      return 1;
    }
    const std::optional<setup::PackageTrailer> trailer = setup::ReadTrailer(file, *distance);
    if (!trailer) {
      std::printf("FAILED %s: the trailer's fields do not fit the file\n", packagePath);
      return 1;
    }
    const setup::PackageCrcResult check = setup::CheckPackageCrc(file, *distance, *trailer);
    switch (check.verdict) {
      case setup::PackageCrcVerdict::NotRecorded:
        std::printf("OK %s: no CRC-32 recorded (0 in the trailer), nothing to check\n",
                    packagePath);
        return 0;
      case setup::PackageCrcVerdict::Intact:
        std::printf("OK %s: CRC-32 %08X over %llu bytes\n", packagePath, check.computed,
                    static_cast<unsigned long long>(check.covered));
        return 0;
      case setup::PackageCrcVerdict::Damaged:
        if (check.covered == 0) {
          std::printf("FAILED %s: the file ends before the bytes its trailer describes\n",
                      packagePath);
        } else {
          std::printf("FAILED %s: CRC-32 %08X over %llu bytes, the trailer records %08X\n",
                      packagePath, check.computed,
                      static_cast<unsigned long long>(check.covered), check.recorded);
        }
        return 1;
    }
  } catch (const CFileException& e) {
    std::printf("FAILED %s: %s\n", packagePath, plat::Utf16ToUtf8(e.GetErrorMessage()).c_str());
  } catch (const std::bad_alloc&) {
    std::printf("FAILED %s: out of memory\n", packagePath);
  }
  return 1;
}
