// A one-line progress display on standard error for large payloads, drawn
// only when standard error is a terminal.
#pragma once
#include <cstdint>
#include <string>

namespace upkpack {

class ProgressLine {
 public:
  // Payloads below this size finish too fast to need a display.
  static constexpr uint64_t kThreshold = uint64_t{16} << 20;

  explicit ProgressLine(bool wanted);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Redraws when the whole percentage changes.
  void Update(const char* phase, uint64_t done, uint64_t total);
  // Ends the line so that later output starts on a fresh one.
  void Finish();

 private:
  bool m_enabled;
  bool m_drawn = false;
  int m_lastPercent = -1;
  std::string m_lastPhase;
};

}  // namespace upkpack
