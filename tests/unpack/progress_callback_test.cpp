// The progress callback's arithmetic and messages, over the window model.
#include <gtest/gtest.h>
#include <vector>
#include "progress_callback.h"

namespace {

struct Seen {
  uint32_t message;
  plat::WPARAM w;
  plat::LPARAM l;
};

class Progress : public ::testing::Test {
 protected:
  Progress() {
    for (auto* pair : {&bar, &notify}) {
      pair->window.proc = [pair](plat::WindowHandle, uint32_t m, plat::WPARAM w,
                                 plat::LPARAM l) -> plat::LRESULT {
        pair->seen.push_back({m, w, l});
        return 0;
      };
    }
    settings.progressWindow = bar.window.Handle();
    settings.notifyWindow = notify.window.Handle();
  }
  ~Progress() override { Drain(); }
  // Dispatches what the callback posted, as the next report would.
  void Drain() {
    plat::Message m;
    while (plat::PeekMessage(&m)) plat::DispatchMessage(m);
  }
  void Report(uint32_t done) {
    EXPECT_TRUE(UnpackProgressCallback(0, done, &settings));
    Drain();
  }
  std::vector<int32_t> Positions() const {
    std::vector<int32_t> p;
    for (const Seen& s : bar.seen)
      if (s.message == plat::PBM_SETPOS) p.push_back(static_cast<int32_t>(s.w));
    return p;
  }

  struct WindowAndLog {
    plat::MessageWindow window;
    std::vector<Seen> seen;
  } bar, notify;
  ProgressSettings settings;
};

TEST_F(Progress, NothingWithoutSettingsOrProgressWindow) {
  EXPECT_TRUE(UnpackProgressCallback(0, 5000, nullptr));
  settings.progressWindow = nullptr;
  settings.progressTotal = 10;
  Report(5000);
  EXPECT_TRUE(bar.seen.empty());
  EXPECT_TRUE(notify.seen.empty());
  EXPECT_EQ(bar.window.RedrawCount(), 0u);
}

TEST_F(Progress, PositionSpans65535WithBaseAndRedraws) {
  settings.progressTotal = 300;
  Report(150000);
  settings.progressBase = 100;
  Report(50000);
  Report(200000);
  EXPECT_EQ(Positions(), (std::vector<int32_t>{32768, 32768, 65535}));
  EXPECT_EQ(bar.window.RedrawCount(), 3u);
}

TEST_F(Progress, ZeroTotalSendsMinusOneAndNoNotification) {
  Report(123456);
  EXPECT_EQ(Positions(), std::vector<int32_t>{-1});
  EXPECT_TRUE(notify.seen.empty());
}

TEST_F(Progress, TopBitTotalUsesTheScaledForm) {
  settings.progressTotal = 0x80000000u;
  settings.progressBase = 2000000000;
  Report(0);  // nothing at all for a report of nothing done
  EXPECT_TRUE(bar.seen.empty());
  EXPECT_EQ(bar.window.RedrawCount(), 0u);
  Report(1000);  // count 2000000001: 2000000 of 2147483 thousands
  EXPECT_EQ(Positions(), std::vector<int32_t>{61034});
  ASSERT_EQ(notify.seen.size(), 1u);  // 93 percent, announced
  EXPECT_EQ(settings.lastPercent, 93);
}

TEST_F(Progress, EachChangeOfTheWholePercentageIsAnnouncedOnce) {
  settings.progressTotal = 100;
  settings.progressBase = 0;
  for (uint32_t done : {0u, 500u, 1000u, 1999u, 2000u, 2000u, 100000u}) Report(done);
  ASSERT_EQ(notify.seen.size(), 3u);  // 1, 2 and 100; never 0 right after the settings
  for (const Seen& s : notify.seen) {
    EXPECT_EQ(s.message, kProgressNotifyMessage);
    EXPECT_EQ(s.w, 0u);
    EXPECT_EQ(s.l, 0);
  }
  EXPECT_EQ(settings.lastPercent, 100);
}

TEST_F(Progress, PendingMessagesOfOtherWindowsAreDispatched) {
  WindowAndLog other;
  other.window.proc = [&other](plat::WindowHandle, uint32_t m, plat::WPARAM,
                               plat::LPARAM) -> plat::LRESULT {
    other.seen.push_back({m, 0, 0});
    return 0;
  };
  plat::PostMessage(other.window.Handle(), 0x400, 0, 0);
  settings.progressTotal = 10;
  EXPECT_TRUE(UnpackProgressCallback(0, 1000, &settings));
  ASSERT_EQ(other.seen.size(), 1u);
  EXPECT_EQ(other.seen[0].message, 0x400u);
}

}  // namespace
