// The process-wide progress record and the callback that extraction calls
// after each chunk: position messages to one caller window, a notification
// to another when the whole percentage changes.
#pragma once
#include <cstdint>
#include "platform/window.h"
#include "upk4.h"

struct ProgressSettings {
  uint32_t progressTotal = 0;  // thousands of bytes; top bit set: scaled form
  int32_t progressBase = 0;    // thousands of bytes done before this extraction
  int32_t lastPercent = 0;
  plat::WindowHandle progressWindow = nullptr;  // null: no progress at all
  plat::WindowHandle notifyWindow = nullptr;    // null: no notification
};

// The notification the exports' header names.
inline constexpr uint32_t kProgressNotifyMessage = UPK4_MSG_NOTIFY;

// Process-wide: UPK4_SetProgress takes no handle, so the windows and totals
// it sets serve whichever extraction follows, on any handle. Not
// synchronized: the library is used from one thread.
extern ProgressSettings progressSettings;

// Always returns true: progress never stops an extraction.
bool UnpackProgressCallback(uint64_t unused, uint64_t done, void* userData);
