// upk4 and upk2 are unloaded by FreeLibrary, as Setup relies on: "unload at
// once" leaves no mapping of the image behind, even after the calls that
// keep per-thread state (case lookups, the message queue of a progress
// window).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "library_fixture.h"
#include "platform/library.h"
#include "platform/native_path.h"
#include "platform/window.h"
#include "setup/upk2_interface.h"
#include "zip_writers.h"

namespace fs = std::filesystem;

namespace {

bool IsMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(path) != std::string::npos) return true;
  }
  return false;
}

TEST(LibraryUnload, Upk4IsUnmappedAfterFreeLibrary) {
  upktest::TempDir dir;
  // Copied under a name of its own, as Setup writes "upk4.dll": a fresh
  // image, not the one this test program may hold already.
  const std::string image = dir.Path("upk4.dll");
  fs::copy_file(LibraryPath(), image);
  const std::string archive = upktest::MakeZipPython(
      dir, "a.zip", {{"A11", std::string(200000, 'x')}}, upktest::ZipMethod::deflated);

  plat::LibraryHandle lib = plat::LoadLibrary(Win(image));
  ASSERT_NE(lib, nullptr);
  auto open = reinterpret_cast<UPK4_Open_t>(plat::GetProcAddress(lib, "UPK4_Open"));
  auto unpack = reinterpret_cast<UPK4_Unpack_t>(plat::GetProcAddress(lib, "UPK4_Unpack"));
  auto close = reinterpret_cast<UPK4_Close_t>(plat::GetProcAddress(lib, "UPK4_Close"));
  auto progress =
      reinterpret_cast<UPK4_SetProgress_t>(plat::GetProcAddress(lib, "UPK4_SetProgress"));
  ASSERT_TRUE(open && unpack && close && progress);
  plat::MessageWindow window;  // messages answered with 0
  progress(window.Handle(), window.Handle(), 0, 200);
  ArchiveHandle* handle = open(Win(archive).c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
  ASSERT_NE(handle, nullptr);
  // "Upk2.dll" and a name differing in case: the case lookup runs.
  EXPECT_EQ(unpack(handle, u"a11", Win(dir.path()).c_str(), u"Upk2.dll", 0), 0);
  EXPECT_EQ(unpack(handle, u"A11", Win(dir.path()).c_str(), u"upk2.DLL", 0), 0);
  EXPECT_EQ(close(handle), 0);
  progress(nullptr, nullptr, 0, 0);
  ASSERT_TRUE(IsMapped(image));

  EXPECT_TRUE(plat::FreeLibrary(lib));
  EXPECT_FALSE(IsMapped(image));
}

TEST(LibraryUnload, Upk2IsUnmappedAfterUPKExit) {
  upktest::TempDir dir;
  const std::string image = dir.Path("upk2.dll");
  fs::copy_file(upktest::BuildDir() + "/lib/upk/upk2.so", image);
  plat::LibraryHandle lib = plat::LoadLibrary(Win(image));
  ASSERT_NE(lib, nullptr);
  auto init = reinterpret_cast<UPKInit_t>(plat::GetProcAddress(lib, "UPKInit"));
  auto errors = reinterpret_cast<UPKInitGetErrors_t>(plat::GetProcAddress(lib, "UPKInitGetErrors"));
  auto exit = reinterpret_cast<UPKExit_t>(plat::GetProcAddress(lib, "UPKExit"));
  ASSERT_TRUE(init && errors && exit);
  // No package there: it fails, after looking the name up.
  const plat::WString setup = Win(dir.Path("Setup"));
  const plat::WString temp = Win(dir.path()) + u"\\";
  EXPECT_EQ(init(setup.c_str(), temp.c_str(), 0, 0, 0), 0);
  EXPECT_NE(std::string(errors()), "");
  exit();
  ASSERT_TRUE(IsMapped(image));
  EXPECT_TRUE(plat::FreeLibrary(lib));
  EXPECT_FALSE(IsMapped(image));
}

}  // namespace
