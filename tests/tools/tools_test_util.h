// Helpers of the tools' tests: running the built upkpack, reading a
// package's trailer and config back, Windows-form paths.
#pragma once
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/file.h"
#include "platform/native_path.h"
#include "setup/package_trailer.h"
#include "test_support.h"

namespace toolstest {

// The built programs and fixtures (UPK_BUILD_DIR, set by ctest).
inline std::string Built(const std::string& relative) {
  return upktest::BuildDir() + "/" + relative;
}

// Runs upkpack with the arguments (already quoted for the shell); its
// standard error goes into *output along with standard output.
inline int RunUpkpack(const std::string& arguments, std::string* output = nullptr) {
  return upktest::RunCommand(upktest::ShellQuote(Built("bin/upkpack")) + " " + arguments + " 2>&1",
                             output);
}

inline plat::WString WinPath(const std::string& native) { return upktest::WinPath(native); }

// The package as Setup reads it; fails the test when it does not read.
inline setup::PackageInfo ReadPackageInfo(const std::string& path) {
  CFile file;
  setup::PackageInfo info;
  if (!file.Open(WinPath(path), CFile::modeRead | CFile::typeBinary)) {
    ADD_FAILURE() << "cannot open " << path;
    return info;
  }
  const setup::PackageStatus status = setup::ReadPackage(file, &info);
  EXPECT_EQ(status, setup::PackageStatus::Ok) << path;
  return info;
}

// The files below a directory, relative, "/"-separated, sorted.
std::vector<std::string> ListTree(const std::string& root);

// A payload tree below root: text, random bytes, an empty file and a nested
// directory; returns the relative file names with their contents.
std::vector<std::pair<std::string, std::string>> MakePayload(const std::string& root);

}  // namespace toolstest
