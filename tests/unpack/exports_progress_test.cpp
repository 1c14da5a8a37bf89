// Progress messages of an extraction through the loaded library, counted in
// the window procedures of the caller's windows.
#include <gtest/gtest.h>
#include <vector>
#include "crafted_zip.h"
#include "library_fixture.h"
#include "platform/window.h"

using namespace upktest;

namespace {

struct LoggedWindow {
  LoggedWindow() {
    window.proc = [this](plat::WindowHandle, uint32_t m, plat::WPARAM w,
                         plat::LPARAM l) -> plat::LRESULT {
      messages.push_back(m);
      params.push_back(m == plat::PBM_SETPOS ? static_cast<int64_t>(static_cast<int32_t>(w)) : l);
      return 0;
    };
  }
  plat::MessageWindow window;
  std::vector<uint32_t> messages;
  std::vector<int64_t> params;  // position for 1026, lParam otherwise
};

TEST(ExportsProgress, PositionsAndNotificationsReachTheCallersWindows) {
  TempDir dir;
  CraftedZip zip;
  zip.entries = {DeflatedEntry("big.txt", MakeTextLikeData(300000, 51)),
                 StoredEntry("small.txt", "small")};
  WriteFile(dir.Path("a.zip"), zip.Build());
  ArchiveHandle* h = OpenPlain(dir.Path("a.zip"));
  ASSERT_NE(h, nullptr);
  const plat::WString out = Win(dir.Path("out"));

  LoggedWindow bar, notify;
  // 7 thousand bytes done before, 307 in all: this entry ends the work.
  Upk4().SetProgress(bar.window.Handle(), notify.window.Handle(), 7, 307);
  ASSERT_EQ(Upk4().Unpack(h, u"big.txt", out.c_str(), nullptr, 0), 0);
  ASSERT_EQ(bar.messages, std::vector<uint32_t>(5, plat::PBM_SETPOS));  // one per 65535 bytes
  EXPECT_TRUE(std::is_sorted(bar.params.begin(), bar.params.end()));
  EXPECT_EQ(bar.params.back(), 65535);
  EXPECT_EQ(bar.window.RedrawCount(), 5u);

  // The library pumps the thread's one queue after each chunk; the last
  // notification is still queued when the extraction returns, in the
  // caller's queue, where the caller's own pump finds it.
  EXPECT_EQ(notify.messages.size(), 4u);
  plat::Message msg;
  while (plat::PeekMessage(&msg)) plat::DispatchMessage(msg);
  EXPECT_EQ(notify.messages, std::vector<uint32_t>(5, 2224u));  // 23, 45, 66, 88, 100 percent
  EXPECT_EQ(notify.params, std::vector<int64_t>(5, 7));

  // A message the caller posted itself is dispatched by the library's pump
  // during the next extraction, as on a thread with one queue.
  LoggedWindow own;
  plat::PostMessage(own.window.Handle(), 0x400, 1, 2);
  Upk4().SetProgress(bar.window.Handle(), nullptr, 0, 307);
  ASSERT_EQ(Upk4().Unpack(h, u"small.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(own.messages, std::vector<uint32_t>{0x400u});

  // Switched off: nothing reaches any window any more.
  Upk4().SetProgress(nullptr, nullptr, 0, 0);
  const size_t seen = bar.messages.size();
  ASSERT_EQ(Upk4().Unpack(h, u"big.txt", out.c_str(), nullptr, 0), 0);
  EXPECT_EQ(bar.messages.size(), seen);
  EXPECT_EQ(notify.messages.size(), 5u);
  EXPECT_EQ(Upk4().Close(h), 0);
}

}  // namespace
