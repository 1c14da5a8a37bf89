#include "platform/runtime_fault.h"

namespace plat {

namespace {

// Appends to a text of at most RuntimeFault::kMaxText characters.
class TextBuilder {
 public:
  explicit TextBuilder(char* text) : m_text(text) { m_text[0] = '\0'; }

  void Put(char c) {
    if (m_length < RuntimeFault::kMaxText) m_text[m_length++] = c;
    m_text[m_length] = '\0';
  }
  void Put(const char* s) {
    for (; *s != '\0'; ++s) Put(*s);
  }
  void PutDecimal(size_t value) {
    char digits[3 * sizeof value];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) Put(digits[--count]);
  }

 private:
  char* m_text;
  size_t m_length = 0;
};

}  // namespace

RuntimeFault::RuntimeFault(const char* text) noexcept {
  TextBuilder builder(m_text);
  builder.Put(text != nullptr ? text : "");
}

RuntimeFault::RuntimeFault(const char* format, va_list args) noexcept {
  TextBuilder builder(m_text);
  if (format == nullptr) return;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* s = va_arg(args, const char*);
      builder.Put(s != nullptr ? s : "(null)");
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      builder.PutDecimal(va_arg(args, size_t));
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      builder.Put('%');
      ++p;
    } else {
      builder.Put(*p);
    }
  }
}

}  // namespace plat
