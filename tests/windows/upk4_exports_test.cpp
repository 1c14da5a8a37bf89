// upk4.dll as Setup uses it: loaded by full path from the temporary
// directory, its stdcall exports bound by their plain names, progress sent
// to real windows of the caller's thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crafted_zip.h"
#include "platform/file_system.h"
#include "platform/library.h"
#include "platform/window.h"
#include "test_support.h"
#include "upk4.h"
#include "windows_test_util.h"

using plat::WString;
using wintest::TempDir;

namespace {

class Upk4Dll : public ::testing::Test {
 protected:
  void SetUp() override {
    const WString library = dir.Path("upk4.dll");
    ASSERT_TRUE(plat::CopyFile(wintest::ProgramDirectory() + u"upk4.dll", library, false));
    m_library = plat::LoadLibrary(library);
    ASSERT_NE(m_library, nullptr);
    open = reinterpret_cast<UPK4_Open_t>(plat::GetProcAddress(m_library, "UPK4_Open"));
    unpack = reinterpret_cast<UPK4_Unpack_t>(plat::GetProcAddress(m_library, "UPK4_Unpack"));
    close = reinterpret_cast<UPK4_Close_t>(plat::GetProcAddress(m_library, "UPK4_Close"));
    setProgress =
        reinterpret_cast<UPK4_SetProgress_t>(plat::GetProcAddress(m_library, "UPK4_SetProgress"));
    ASSERT_TRUE(open && unpack && close && setProgress);
  }
  void TearDown() override {
    if (m_library) plat::FreeLibrary(m_library);
  }
  WString WriteArchive(const upktest::CraftedZip& zip) {
    const WString path = dir.Path("a.zip");
    EXPECT_TRUE(wintest::WriteBytes(path, zip.Build()));
    return path;
  }

  TempDir dir;
  UPK4_Open_t open = nullptr;
  UPK4_Unpack_t unpack = nullptr;
  UPK4_Close_t close = nullptr;
  UPK4_SetProgress_t setProgress = nullptr;

 private:
  plat::LibraryHandle m_library = nullptr;
};

TEST_F(Upk4Dll, UnpacksStoredAndDeflatedEntriesAsSetupCallsIt) {
  upktest::CraftedZip zip;
  const std::string text = upktest::MakeTextLikeData(200000, 7);
  zip.entries = {upktest::StoredEntry("A11", "second stage"),
                 upktest::DeflatedEntry("dir/big.txt", text)};
  const WString archive = WriteArchive(zip);
  ArchiveHandle* h = open(archive.c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
  ASSERT_NE(h, nullptr);
  struct Case {
    const char16_t* entry;
    const char16_t* fileName;
    int32_t result;
    const char* outName;
    std::string content;
  } cases[] = {
      {u"A11", u"Upk2.dll", 0, "Upk2.dll", "second stage"},
      {u"dir\\big.txt", nullptr, 0, "big.txt", text},
      {u"DIR\\BIG.TXT", u"copy.txt", 0, "copy.txt", text},  // names without regard to case
      {u"missing", u"x", 2, nullptr, ""},
      {u"A11", u"..", 123, nullptr, ""},  // would not land inside the directory
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unpack(h, c.entry, dir.Path().c_str(), c.fileName, 0), c.result)
        << plat::Utf16ToUtf8(c.entry);
    if (c.outName) {
      EXPECT_EQ(wintest::ReadBytes(dir.Path(c.outName)), c.content);
    }
  }
  EXPECT_EQ(close(h), 0);
}

// Names that mean something else on Windows are refused with 123 before
// anything is created, whether they are the entry's own or the new name;
// with the full path, every directory of the name is checked too.
TEST_F(Upk4Dll, WindowsNamesAreRefusedBeforeAnythingIsCreated) {
  upktest::CraftedZip zip;
  for (const char* name : {"a.txt:stream", "CON", "nul.txt", "aux/x.txt", "trail./y.txt",
                           "sp /z.txt", "LPT1.log", "com1", "fine.txt"})
    zip.entries.push_back(upktest::StoredEntry(name, "data"));
  ArchiveHandle* h = open(WriteArchive(zip).c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
  ASSERT_NE(h, nullptr);
  const WString out = dir.Path("out");
  for (const char16_t* entry : {u"a.txt:stream", u"CON", u"nul.txt", u"LPT1.log", u"com1"})
    EXPECT_EQ(unpack(h, entry, out.c_str(), nullptr, 0), 123) << plat::Utf16ToUtf8(entry);
  for (const char16_t* entry : {u"aux\\x.txt", u"trail.\\y.txt", u"sp \\z.txt"})
    EXPECT_EQ(unpack(h, entry, out.c_str(), nullptr, UPK4_UNPACK_FULL_PATH), 123)
        << plat::Utf16ToUtf8(entry);
  EXPECT_EQ(unpack(h, u"fine.txt", out.c_str(), u"setup.exe:Zone.Identifier", 0), 123);
  EXPECT_FALSE(plat::PathFileExists(out));
  EXPECT_EQ(unpack(h, u"fine.txt", out.c_str(), u"sub\\fine.txt", UPK4_UNPACK_FULL_PATH), 0);
  EXPECT_EQ(wintest::ReadBytes(dir.Path("out\\sub\\fine.txt")), "data");
  EXPECT_EQ(close(h), 0);
}

TEST_F(Upk4Dll, DamagedArchiveFailsWithoutBlocking) {
  ASSERT_EQ(_putenv("UPK_NO_DIALOGS=1"), 0);  // the failed open's message box
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("bad.zip"), "not an archive at all"));
  EXPECT_EQ(open(dir.Path("bad.zip").c_str(), 0, 0, u"", UPK4_OPEN_PLAIN), nullptr);
  EXPECT_EQ(open(dir.Path("none.zip").c_str(), 0, 0, u"", UPK4_OPEN_PLAIN), nullptr);

  upktest::CraftedZip zip;
  upktest::CraftedEntry entry = upktest::DeflatedEntry("a.txt", std::string(5000, 'a'));
  entry.crc ^= 1;
  zip.entries = {entry};
  ArchiveHandle* h = open(WriteArchive(zip).c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(unpack(h, u"a.txt", dir.Path().c_str(), nullptr, 0), -2);
  close(h);
}

TEST_F(Upk4Dll, ProgressReachesTheCallersWindows) {
  upktest::CraftedZip zip;
  zip.entries = {upktest::DeflatedEntry("big.txt", upktest::MakeTextLikeData(300000, 51))};
  ArchiveHandle* h = open(WriteArchive(zip).c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
  ASSERT_NE(h, nullptr);
  std::vector<int32_t> positions;
  std::vector<uint32_t> notified;
  plat::MessageWindow bar, notify;
  bar.proc = [&](plat::WindowHandle, uint32_t m, plat::WPARAM w, plat::LPARAM) -> plat::LRESULT {
    if (m == UPK4_MSG_SETPOS) positions.push_back(static_cast<int32_t>(w));
    return 0;
  };
  notify.proc = [&](plat::WindowHandle, uint32_t m, plat::WPARAM, plat::LPARAM l) -> plat::LRESULT {
    if (m == UPK4_MSG_NOTIFY) notified.push_back(static_cast<uint32_t>(l));
    return 0;
  };
  setProgress(bar.Handle(), notify.Handle(), 7, 307);  // thousands of bytes
  ASSERT_EQ(unpack(h, u"big.txt", dir.Path().c_str(), nullptr, 0), 0);
  setProgress(nullptr, nullptr, 0, 0);
  plat::Message msg;
  while (plat::PeekMessage(&msg)) plat::DispatchMessage(msg);
  ASSERT_EQ(positions.size(), 5u);  // one per 65535 bytes
  EXPECT_EQ(positions.back(), 65535);
  EXPECT_EQ(bar.RedrawCount(), 5u);
  EXPECT_FALSE(notified.empty());
  for (uint32_t base : notified) EXPECT_EQ(base, 7u);
  close(h);
}

}  // namespace
