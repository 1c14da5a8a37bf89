#include "progress_bar.h"
#include <cstdio>
#include <utility>

namespace {
constexpr int kCells = 40;
constexpr int32_t kFullPosition = 65535;
}  // namespace

ProgressBar::ProgressBar(std::string label) : m_label(std::move(label)) {
  m_window.proc = [this](plat::WindowHandle, uint32_t message, plat::WPARAM w,
                         plat::LPARAM) -> plat::LRESULT {
    if (message == plat::PBM_SETPOS) Draw(static_cast<int32_t>(w));
    return 0;
  };
}

ProgressBar::~ProgressBar() {
  if (m_lastCells >= 0) std::fputc('\n', stderr);
}

void ProgressBar::Draw(int32_t position) {
  if (position < 0) return;  // no total known: nothing sensible to show
  if (position > kFullPosition) position = kFullPosition;
  const int cells = static_cast<int>(static_cast<int64_t>(position) * kCells / kFullPosition);
  const int percent = static_cast<int>(static_cast<int64_t>(position) * 100 / kFullPosition);
  if (cells == m_lastCells && percent == m_lastPercent) return;
  m_lastCells = cells;
  m_lastPercent = percent;
  std::string bar(static_cast<size_t>(cells), '#');
  bar.append(static_cast<size_t>(kCells - cells), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", m_label.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}
