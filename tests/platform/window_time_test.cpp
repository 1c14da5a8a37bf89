#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <vector>

#include "platform/local_time.h"
#include "platform/window.h"

using namespace plat;

TEST(MulDiv, RoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(5, -1, 2), -3);
  EXPECT_EQ(MulDiv(5, 1, -2), -3);
  EXPECT_EQ(MulDiv(-5, -1, -2), -3);
  EXPECT_EQ(MulDiv(-5, 1, -2), 3);
  EXPECT_EQ(MulDiv(1, 1, 3), 0);
  EXPECT_EQ(MulDiv(2, 1, 3), 1);
  EXPECT_EQ(MulDiv(-2, 1, 3), -1);
  EXPECT_EQ(MulDiv(7, 100, 100), 7);
}

TEST(MulDiv, UsesAWideProductAndReportsWhatDoesNotFit) {
  // Progress: 3e9-byte archives times a 100-step bar do not overflow.
  EXPECT_EQ(MulDiv(2000000000, 100, 2000000000), 100);
  EXPECT_EQ(MulDiv(65536, 65536, 65536), 65536);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0, 0, 0), -1);
  EXPECT_EQ(MulDiv(2000000000, 2, 1), -1);
  EXPECT_EQ(MulDiv(-2000000000, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 1, 1), INT32_MAX);
}

TEST(Window, SendCallsAtOncePostQueuesInOrder) {
  std::vector<uint32_t> seen;
  MessageWindow window;
  window.proc = [&seen](WindowHandle, uint32_t msg, WPARAM w, LPARAM) -> LRESULT {
    seen.push_back(msg);
    return static_cast<LRESULT>(w * 2);
  };
  EXPECT_EQ(SendMessage(window.Handle(), PBM_SETPOS, 21, 0), 42);
  EXPECT_EQ(seen, std::vector<uint32_t>{PBM_SETPOS});

  EXPECT_TRUE(PostMessage(window.Handle(), 2224, 1, 2));
  EXPECT_TRUE(PostMessage(window.Handle(), 2225, 3, 4));
  EXPECT_FALSE(PostMessage(nullptr, 1, 0, 0));
  EXPECT_EQ(seen.size(), 1u);  // nothing dispatched yet

  Message msg;
  ASSERT_TRUE(PeekMessage(&msg));
  EXPECT_EQ(msg.message, 2224u);
  EXPECT_EQ(msg.lParam, 2);
  TranslateMessage(msg);
  EXPECT_EQ(DispatchMessage(msg), 2);
  ASSERT_TRUE(PeekMessage(&msg));
  EXPECT_EQ(msg.message, 2225u);
  DispatchMessage(msg);
  EXPECT_FALSE(PeekMessage(&msg));
  EXPECT_EQ(seen, (std::vector<uint32_t>{PBM_SETPOS, 2224, 2225}));

  EXPECT_EQ(SendMessage(nullptr, 1, 0, 0), 0);
  MessageWindow silent;  // no procedure
  EXPECT_EQ(SendMessage(silent.Handle(), 1, 0, 0), 0);
  EXPECT_TRUE(RedrawWindow(silent.Handle(), RDW_UPDATENOW));
  EXPECT_TRUE(RedrawWindow(silent.Handle(), RDW_VALIDATE));
  EXPECT_EQ(silent.RedrawCount(), 2u);
}

TEST(LocalTime, DosDateAndTimeFields) {
  // 2021-03-14 15:09:26: date (41 << 9) | (3 << 5) | 14, time (15 << 11) | (9 << 5) | 13
  CalendarTime t = DosDateTimeToLocalTime((41 << 9) | (3 << 5) | 14, (15 << 11) | (9 << 5) | 13);
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm local{};
  ASSERT_NE(::localtime_r(&tt, &local), nullptr);
  EXPECT_EQ(local.tm_year, 121);
  EXPECT_EQ(local.tm_mon, 2);
  EXPECT_EQ(local.tm_mday, 14);
  EXPECT_EQ(local.tm_hour, 15);
  EXPECT_EQ(local.tm_min, 9);
  EXPECT_EQ(local.tm_sec, 26);
  // Day 0 of a month is normalised to the last day of the one before.
  CalendarTime day0 = DosDateTimeToLocalTime((41 << 9) | (3 << 5) | 0, 0);
  tt = static_cast<std::time_t>(day0);
  ::localtime_r(&tt, &local);
  EXPECT_EQ(local.tm_mon, 1);
  EXPECT_EQ(local.tm_mday, 28);
}

TEST(LocalTime, SleepWaitsRoughlyThatLong) {
  auto start = std::chrono::steady_clock::now();
  Sleep(30);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(29));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
}
