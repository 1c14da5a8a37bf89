#include "progress_callback.h"

ProgressSettings progressSettings;

namespace {
// Wrapping 32-bit sum, as the counters are 32-bit on the original target.
int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
}  // namespace

bool UnpackProgressCallback(uint64_t, uint64_t done, void* userData) {
  auto* settings = static_cast<ProgressSettings*>(userData);
  if (settings == nullptr || settings->progressWindow == nullptr) return true;

  // Thousands of bytes in 64 bits, so an entry past 2 GiB counts on
  // upwards instead of turning negative.
  const int32_t count = Add32(static_cast<int32_t>(done / 1000), settings->progressBase);
  const uint32_t total = settings->progressTotal;
  // A total of 2^31 or more does not fit MulDiv: both sides lose three
  // more digits.
  const bool scaled = (total & 0x80000000u) != 0;
  const int32_t scaledCount = static_cast<int32_t>(static_cast<uint32_t>(count) / 1000);
  const int32_t scaledTotal = static_cast<int32_t>(total / 1000);

  int32_t position;
  if (!scaled) {
    position = plat::MulDiv(count, 65535, static_cast<int32_t>(total));
  } else {
    if (done == 0) return true;
    position = plat::MulDiv(scaledCount, 65535, scaledTotal);
  }
  plat::SendMessage(settings->progressWindow, plat::PBM_SETPOS,
                    static_cast<plat::WPARAM>(static_cast<plat::LPARAM>(position)), 0);
  plat::RedrawWindow(settings->progressWindow, plat::RDW_UPDATENOW | plat::RDW_VALIDATE);
  // Keep the caller's windows painted and responsive during long work.
  plat::Message message;
  while (plat::PeekMessage(&message)) {
    plat::TranslateMessage(message);
    plat::DispatchMessage(message);
  }

  if (settings->notifyWindow == nullptr || total == 0) return true;
  const int32_t percent = scaled ? plat::MulDiv(scaledCount, 100, scaledTotal)
                                 : plat::MulDiv(count, 100, static_cast<int32_t>(total));
  if (percent != settings->lastPercent) {
    plat::PostMessage(settings->notifyWindow, kProgressNotifyMessage, 0,
                      settings->progressBase);
    settings->lastPercent = percent;
  }
  return true;
}
