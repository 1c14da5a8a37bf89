// The Win32 backend over the real system (run under Wine in CI): the
// numbers the core relies on, and the guarantees Windows gives for free.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/dir_tree.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/library.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/restart.h"
#include "platform/window.h"
#include "windows_test_util.h"

using namespace plat;
using wintest::TempDir;

namespace {

TEST(Win32Paths, TemporaryPathIsTheWindowsOneWithASeparator) {
  const WString temp = GetTempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_EQ(GetFileAttributes(temp) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  // The runner points TMP into its own directory: GetTempPathW follows it.
  if (const char* tmp = std::getenv("TMP"); tmp && *tmp) {
    const WString expected = W(tmp);
    EXPECT_EQ(CollateWideNoCase(temp.substr(0, expected.size()), expected), 0)
        << Utf16ToUtf8(temp);
  }
  const WString self = GetModuleFileName();
  EXPECT_EQ(CollateWideNoCase(self.substr(self.size() - 4), u".exe"), 0);
  EXPECT_EQ(self[1], u':');
}

TEST(Win32Files, FailuresCarryTheWin32Numbers) {
  TempDir dir;
  const WString file = dir.Path("f.txt");
  ASSERT_TRUE(wintest::WriteBytes(file, "abc"));
  ASSERT_TRUE(CreateDirectory(dir.Path("sub")));

  // One call at a time, so that the last error is its own.
  EXPECT_FALSE(CreateDirectory(dir.Path("sub")));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(DeleteFile(dir.Path("none.txt")));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFile(dir.Path("none\\x.txt")));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CopyFile(file, dir.Path("sub\\..\\f.txt"), true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(DeleteFile(dir.Path("sub")));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("sub\\inner.txt"), "x"));
  EXPECT_FALSE(RemoveDirectory(dir.Path("sub")));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);

  ASSERT_TRUE(SetFileAttributes(file, FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(GetFileAttributes(file) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(DeleteFile(file));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributes(file, FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(PathFileExists(file));
}

TEST(Win32Files, NamesCompareWithoutRegardToCase) {
  TempDir dir;
  ASSERT_TRUE(wintest::WriteBytes(dir.Path("upk2.dll"), "library"));
  EXPECT_TRUE(PathFileExists(dir.Path("Upk2.dll")));
  const auto found = FindFile(dir.Path("UPK2.DLL"));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->name, u"upk2.dll");  // as the directory holds it
  EXPECT_EQ(found->size, 7u);
  EXPECT_FALSE(FindFile(dir.Path("*.dll")).has_value());  // no wildcards
  EXPECT_EQ(ListDirectoryNames(dir.Path()), std::vector<WString>{u"upk2.dll"});
  EXPECT_EQ(wintest::ReadBytes(dir.Path("UPK2.dll")), "library");
}

TEST(Win32Files, HandlesShareAsAskedAndReportSizes) {
  TempDir dir;
  const WString path = dir.Path("data.bin");
  FileHandle h = OpenFileHandle(path, FileAccess::ReadWrite, FileShare::Exclusive,
                                FileCreate::CreateNew);
  ASSERT_NE(h, kInvalidFile);
  EXPECT_EQ(OpenFileHandle(path, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting),
            kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(WriteFileHandle(h, "0123456789", 10), 10);
  EXPECT_EQ(GetFileHandleSize(h), 10);
  EXPECT_EQ(SeekFileHandle(h, 4, SeekOrigin::Begin), 4);
  char buffer[16] = {};
  EXPECT_EQ(ReadFileHandle(h, buffer, 16), 6);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(ReadFileHandle(h, buffer, 16), 0);  // end of file
  EXPECT_EQ(SeekFileHandle(h, -20, SeekOrigin::End), -1);
  EXPECT_TRUE(CloseFileHandle(h));
  EXPECT_EQ(OpenFileHandle(path, FileAccess::Write, FileShare::DenyNone, FileCreate::CreateNew),
            kInvalidFile);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  const CalendarTime when = 1600000000;
  EXPECT_TRUE(SetFileTimes(path, nullptr, &when, &when));
  EXPECT_EQ(FindFile(path)->lastWrite, when);
}

TEST(Win32Profile, QxTmpKeysAreWrittenAndReadBack) {
  TempDir dir;
  const WString ini = dir.Path("qx.tmp");
  EXPECT_TRUE(WriteProfileString(u"PARA", u"CommandString", u"/a \"b c\" /copystvar", ini));
  EXPECT_TRUE(WriteProfileString(u"PARA", u"Other", u"1", ini));
  EXPECT_TRUE(WriteProfileString(u"para", u"commandstring", u"/x", ini));  // replaces
  EXPECT_EQ(ReadProfileString(u"PARA", u"CommandString", u"-", ini), u"/x");
  EXPECT_EQ(ReadProfileString(u"PARA", u"Other", u"-", ini), u"1");
  EXPECT_EQ(ReadProfileString(u"PARA", u"Missing", u"-", ini), u"-");
}

// The exit codes Setup hands on: full width on Windows.
TEST(Win32Process, ExitCodesArriveInFullWidth) {
  const WString probe = wintest::ProgramDirectory() + u"exit_code_probe.exe";
  ASSERT_TRUE(PathFileExists(probe));
  for (uint32_t expected : {0u, 1u, 255u, 256u, 1602u, 1641u, 3010u, 0xC0000005u}) {
    uint32_t code = 12345;
    ASSERT_TRUE(RunProcessAndWait(QuoteArgument(probe) + u" --exit " + W(std::to_string(expected)),
                                  &code));
    EXPECT_EQ(code, expected);
  }
  uint32_t code = 0;
  EXPECT_FALSE(RunProcessAndWait(wintest::ProgramDirectory() + u"no_such_program.exe", &code));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A loaded library cannot be deleted: the sweep of an earlier run's
// directory relies on it, and no lock of ours is needed.
TEST(Win32Library, LoadedByFullPathAndKeptWhileLoaded) {
  TempDir dir;
  const WString library = dir.Path("upk4.dll");
  ASSERT_TRUE(CopyFile(wintest::ProgramDirectory() + u"upk4.dll", library, false));
  EXPECT_TRUE(RestrictLibrarySearchPath());
  EXPECT_EQ(LoadLibrary(u"upk4.dll"), nullptr);  // a bare name is never searched for
  LibraryHandle h = LoadLibrary(library);
  ASSERT_NE(h, nullptr) << GetLastError();
  for (const char* name : {"UPK4_Open", "UPK4_Unpack", "UPK4_Close", "UPK4_SetProgress"}) {
    EXPECT_NE(GetProcAddress(h, name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(h, "UPK4_Open@20"), nullptr);  // undecorated only
  EXPECT_EQ(GetModuleFileName(GetProcAddress(h, "UPK4_Open")), library);

  EXPECT_FALSE(DeleteFile(library));
  EXPECT_FALSE(DeleteTree(dir.Path()));
  EXPECT_TRUE(PathFileExists(library));
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_TRUE(DeleteTree(dir.Path()));
  EXPECT_FALSE(PathFileExists(dir.Path()));
}

TEST(Win32Text, CodePagesAndSystemMessages) {
  EXPECT_EQ(AnsiToWide("Setup-Error"), u"Setup-Error");
  EXPECT_EQ(WideToAnsi(u"upk2.dll"), "upk2.dll");
  bool lossy = false;
  WideToAnsi(u"\u4E2D", &lossy);  // no ANSI form in a Western code page
  EXPECT_TRUE(lossy);
  uint8_t oem[] = {'A', 0x80, 0x81, 0xE1, 'z'};
  OemToAnsiInPlace(oem, sizeof oem);
  EXPECT_EQ(oem[0], 'A');
  EXPECT_EQ(oem[4], 'z');
  for (uint32_t code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INSTALL_USEREXIT}) {
    const WString text = FormatSystemMessage(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), u"\r\n") << code;
  }
}

TEST(Win32Window, MessagesGoThroughTheSystemQueue) {
  std::vector<uint32_t> seen;
  MessageWindow window;
  window.proc = [&seen](WindowHandle, uint32_t msg, WPARAM w, LPARAM) -> LRESULT {
    seen.push_back(msg);
    return static_cast<LRESULT>(w * 2);
  };
  ASSERT_NE(window.Handle(), nullptr);
  EXPECT_EQ(SendMessage(window.Handle(), PBM_SETPOS, 21, 0), 42);
  EXPECT_TRUE(PostMessage(window.Handle(), 2224, 1, 2));
  EXPECT_EQ(seen.size(), 1u);
  Message msg;
  bool dispatched = false;
  while (PeekMessage(&msg)) {
    TranslateMessage(msg);
    DispatchMessage(msg);
    dispatched = dispatched || msg.message == 2224;
  }
  EXPECT_TRUE(dispatched);
  EXPECT_EQ(seen, (std::vector<uint32_t>{PBM_SETPOS, 2224}));
  EXPECT_TRUE(RedrawWindow(window.Handle(), RDW_UPDATENOW | RDW_VALIDATE));
  EXPECT_EQ(window.RedrawCount(), 1u);
  EXPECT_EQ(MulDiv(65535, 3, 4), 49151);
}

TEST(Win32Dialogs, MessageBoxReturnsAtOnceWithoutDialogs) {
  ASSERT_EQ(_putenv("UPK_NO_DIALOGS=1"), 0);
  EXPECT_EQ(MessageBox(u"text", u"caption", MB_ICONERROR), IDOK);
}

// The restart never reaches the system in a test: UPK_RESTART_COMMAND is
// set, and under Wine the system call is refused besides.
TEST(Win32Restart, TestsNeverReachTheSystem) {
  ASSERT_EQ(_putenv("UPK_RESTART_COMMAND=true"), 0);
  EXPECT_TRUE(IsNtFamily());
  EXPECT_TRUE(EnableShutdownPrivilege());
  EXPECT_TRUE(RequestRestart(true));
}

}  // namespace
