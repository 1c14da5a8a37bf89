// The exception the Windows set's C++ runtime raises for a misuse of one of
// its containers or for a failing thread or mutex (platform/win32/
// runtime_throws.cpp), and the platform's threads when none can be started:
// the text is held in the object itself, so that raising it needs none of
// the runtime's string classes.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <exception>

namespace plat {

class RuntimeFault final : public std::exception {
 public:
  // The text as given, cut to what fits.
  explicit RuntimeFault(const char* text) noexcept;
  // The text of a format of the runtime's own messages: %s and %zu are
  // substituted from args, %% is a percent sign, anything else is copied.
  RuntimeFault(const char* format, va_list args) noexcept;

  const char* what() const noexcept override { return m_text; }

  // Longest text kept, without its terminator.
  static constexpr size_t kMaxText = 191;

 private:
  char m_text[kMaxText + 1];
};

}  // namespace plat
