// A one-line progress bar on standard error, driven through a window record
// by the library's position messages (0 to 65535).
#pragma once
#include <cstdint>
#include <string>
#include "platform/window.h"

class ProgressBar {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar();  // ends the line when anything was drawn
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // The handle to pass to UPK4_SetProgress.
  void* Handle() { return m_window.Handle(); }
  // Draws the bar for a position; only changes that show are written.
  void Draw(int32_t position);

 private:
  plat::MessageWindow m_window;
  std::string m_label;
  int m_lastCells = -1;
  int m_lastPercent = -1;
};
