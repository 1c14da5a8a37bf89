// The reference second stage: the five entry points Setup binds. UPKInit
// re-reads the package of the Setup file, opens its archive and extracts the
// payload into Setup's temporary directory, where "QXSetup.exe" must be
// when it returns.
#include <exception>
#include <string>
#include <type_traits>

#include "package_archive.h"
#include "payload_extractor.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "setup/upk2_interface.h"
#include "upk4/archive.h"
#include "upk4/zip_exception.h"

namespace {

// The text of the last failure; Setup reads it right after UPKInit and does
// not free it.
std::string g_errors;

int32_t InitSecondStage(const char16_t* setupPath, const char16_t* tempDir) {
  if (setupPath == nullptr || tempDir == nullptr || *setupPath == 0 || *tempDir == 0) {
    throw upk2::Upk2Error("no package path or temporary directory given");
  }
  const upk2::PackageArchive archive = upk2::LocatePackageArchive(setupPath);
  upk2::OpenedPackage package;
  try {
    package = upk2::OpenPackageArchive(archive);
  } catch (const CException& e) {
    throw upk2::Upk2Error("cannot open the package archive " + plat::WideToAnsi(archive.openName) +
                          ": " + plat::WideToAnsi(e.GetErrorMessage()));
  }
  upk2::ExtractPayload(package, tempDir);

  plat::WString program(tempDir);
  if (!program.empty() && program.back() != u'\\' && program.back() != u'/') program += u'\\';
  program += upk2::kSetupProgramName;
  if (plat::PathFileExists(program) && !plat::SetExecutable(program)) {
    throw upk2::Upk2Error("cannot make " + plat::WideToAnsi(program) + " executable");
  }
  return kUpkInitGoOn;
}

}  // namespace

extern "C" {

UPK2_API int32_t UPK2_CALL UPKInit(const char16_t* setupPath, const char16_t* tempDir,
                                   int32_t /*librarySum*/, int32_t /*initValue*/,
                                   int32_t /*reserved*/) {
  g_errors.clear();
  try {
    return InitSecondStage(setupPath, tempDir);
  } catch (const upk2::Upk2Error& e) {
    g_errors = std::string("upk2: ") + e.what();
  } catch (const CException& e) {
    g_errors = "upk2: " + plat::WideToAnsi(e.GetErrorMessage());
  } catch (const std::exception& e) {
    g_errors = std::string("upk2: ") + e.what();
  } catch (...) {
    g_errors = "upk2: unexpected failure";
  }
  return 0;
}

UPK2_API const char* UPK2_CALL UPKInitGetErrors(void) { return g_errors.c_str(); }

UPK2_API void UPK2_CALL UPKExit(void) {
  g_errors.clear();
  g_errors.shrink_to_fit();
}

// Bound by Setup and never called.
UPK2_API void UPK2_CALL UPKExpand(void) {}
UPK2_API void UPK2_CALL UPKInit3(void) {}

}  // extern "C"

static_assert(std::is_same_v<decltype(&UPKInit), UPKInit_t>);
static_assert(std::is_same_v<decltype(&UPKInitGetErrors), UPKInitGetErrors_t>);
static_assert(std::is_same_v<decltype(&UPKExit), UPKExit_t>);
static_assert(std::is_same_v<decltype(&UPKExpand), UPKExpand_t>);
static_assert(std::is_same_v<decltype(&UPKInit3), UPKInit3_t>);
