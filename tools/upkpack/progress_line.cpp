#include "progress_line.h"

#include <cstdio>

#include "platform/console.h"

namespace upkpack {

ProgressLine::ProgressLine(bool wanted)
    : m_enabled(wanted && plat::IsTerminal(plat::StandardStream::Error)) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(const char* phase, uint64_t done, uint64_t total) {
  if (!m_enabled || total < kThreshold) return;
  const int percent = static_cast<int>(done * 100 / total);
  if (percent == m_lastPercent && m_lastPhase == phase) return;
  m_lastPercent = percent;
  m_lastPhase = phase;
  std::fprintf(stderr, "\rupkpack: %s %3d%% (%llu of %llu MiB)\x1b[K", phase, percent,
               static_cast<unsigned long long>(done >> 20),
               static_cast<unsigned long long>(total >> 20));
  std::fflush(stderr);
  m_drawn = true;
}

void ProgressLine::Finish() {
  if (m_drawn) {
    std::fputc('\n', stderr);
    m_drawn = false;
  }
}

}  // namespace upkpack
