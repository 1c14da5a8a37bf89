#include "library_fixture.h"
#include <gtest/gtest.h>
#include "platform/code_page.h"
#include "platform/library.h"
#include "platform/native_path.h"

std::string LibraryPath() { return upktest::BuildDir() + "/lib/libupk4.so"; }

const Upk4Exports& Upk4() {
  static const Upk4Exports exports = [] {
    Upk4Exports e;
    plat::LibraryHandle lib = plat::LoadLibrary(plat::FromNativePath(LibraryPath()));
    if (lib == nullptr) return e;
    e.Open = reinterpret_cast<UPK4_Open_t>(plat::GetProcAddress(lib, "UPK4_Open"));
    e.Unpack = reinterpret_cast<UPK4_Unpack_t>(plat::GetProcAddress(lib, "UPK4_Unpack"));
    e.Close = reinterpret_cast<UPK4_Close_t>(plat::GetProcAddress(lib, "UPK4_Close"));
    e.SetProgress =
        reinterpret_cast<UPK4_SetProgress_t>(plat::GetProcAddress(lib, "UPK4_SetProgress"));
    return e;  // never unloaded: handles and windows outlive single tests
  }();
  EXPECT_TRUE(exports.Open && exports.Unpack && exports.Close && exports.SetProgress)
      << "cannot load or bind " << LibraryPath();
  return exports;
}

plat::WString Win(const std::string& native) { return plat::FromNativePath(native); }

ArchiveHandle* OpenPlain(const std::string& archive, const std::string& password) {
  const plat::WString pw = plat::Utf8ToUtf16(password);
  return Upk4().Open(Win(archive).c_str(), 7, 8, pw.c_str(), UPK4_OPEN_PLAIN);
}

int32_t UnpackOne(const std::string& archive, const std::string& entry,
                  const std::string& destDir, const std::string& password) {
  ArchiveHandle* h = OpenPlain(archive, password);
  if (h == nullptr) return INT32_MIN;
  const int32_t result =
      Upk4().Unpack(h, Win(entry).c_str(), Win(destDir).c_str(), nullptr, 0);
  const uint8_t closed = Upk4().Close(h);
  // A wrong password passes the one-byte check of the encryption header one
  // time in 256: the entry then fails its CRC-32, and the close says so.
  if (result == -2) {
    EXPECT_LE(closed, 1);
  } else {
    EXPECT_EQ(closed, 0);
  }
  return result;
}
