// Integer-only printf-style formatting for patterns that come from data.
// Widths and precisions are capped, so no pattern can ask for a huge
// output, and nothing here ever reaches a C formatter.
#include "framework/safe_format.h"

#include <algorithm>
#include <string>

namespace {

constexpr int kMaxField = 512;

struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool zero = false;
  int width = 0;
  int precision = -1;
  int bits = 32;  // the argument's size: int, long (32 bits as on Windows), h, hh, ll
  char16_t conversion = 0;
};

bool ReadNumber(plat::WStringView p, size_t* i, int* value) {
  long n = 0;
  while (*i < p.size() && p[*i] >= u'0' && p[*i] <= u'9') {
    n = n * 10 + (p[*i] - u'0');
    if (n > kMaxField) return false;
    ++*i;
  }
  *value = static_cast<int>(n);
  return true;
}

// Parses the conversion starting after '%'. Returns false for anything that
// is not an integer conversion we substitute.
bool ParseConversion(plat::WStringView p, size_t* i, Conversion* conv) {
  for (; *i < p.size(); ++*i) {
    char16_t c = p[*i];
    if (c == u'-') conv->left = true;
    else if (c == u'+') conv->plus = true;
    else if (c == u' ') conv->space = true;
    else if (c == u'#') conv->alternate = true;
    else if (c == u'0') conv->zero = true;
    else break;
  }
  if (!ReadNumber(p, i, &conv->width)) return false;
  if (*i < p.size() && p[*i] == u'.') {
    ++*i;
    conv->precision = 0;
    if (!ReadNumber(p, i, &conv->precision)) return false;
  }
  if (*i < p.size() && p[*i] == u'h') {
    ++*i;
    conv->bits = 16;
    if (*i < p.size() && p[*i] == u'h') {
      ++*i;
      conv->bits = 8;
    }
  } else if (*i < p.size() && p[*i] == u'l') {
    ++*i;
    if (*i < p.size() && p[*i] == u'l') {
      ++*i;
      conv->bits = 64;
    }
  }
  if (*i >= p.size()) return false;
  char16_t c = p[*i];
  if (c != u'd' && c != u'i' && c != u'u' && c != u'x' && c != u'X') return false;
  conv->conversion = c;
  ++*i;
  return true;
}

plat::WString FormatOne(const Conversion& conv, int64_t arg) {
  bool isSigned = conv.conversion == u'd' || conv.conversion == u'i';
  uint64_t mask = conv.bits == 64 ? ~0ull : ((1ull << conv.bits) - 1);
  uint64_t raw = static_cast<uint64_t>(arg) & mask;
  bool negative = false;
  uint64_t magnitude = raw;
  if (isSigned && conv.bits < 64 && (raw >> (conv.bits - 1)) & 1u) {
    negative = true;
    magnitude = (~raw + 1) & mask;
  } else if (isSigned && conv.bits == 64 && arg < 0) {
    negative = true;
    magnitude = 0 - static_cast<uint64_t>(arg);
  }

  plat::WString digits;
  unsigned base = (conv.conversion == u'x' || conv.conversion == u'X') ? 16 : 10;
  const char* alphabet = conv.conversion == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  for (uint64_t v = magnitude; v; v /= base) digits.push_back(static_cast<char16_t>(alphabet[v % base]));
  std::reverse(digits.begin(), digits.end());
  if (conv.precision >= 0) {
    if (conv.precision == 0 && magnitude == 0) digits.clear();
    if (digits.size() < static_cast<size_t>(conv.precision)) {
      digits.insert(0, static_cast<size_t>(conv.precision) - digits.size(), u'0');
    }
  } else if (digits.empty()) {
    digits = u"0";
  }

  plat::WString prefix;
  if (isSigned) {
    if (negative) prefix = u"-";
    else if (conv.plus) prefix = u"+";
    else if (conv.space) prefix = u" ";
  } else if (conv.alternate && base == 16 && magnitude != 0) {
    prefix = conv.conversion == u'X' ? u"0X" : u"0x";
  }

  size_t length = prefix.size() + digits.size();
  size_t width = static_cast<size_t>(conv.width);
  if (length >= width) return prefix + digits;
  size_t pad = width - length;
  if (conv.left) return prefix + digits + plat::WString(pad, u' ');
  if (conv.zero && conv.precision < 0) return prefix + plat::WString(pad, u'0') + digits;
  return plat::WString(pad, u' ') + prefix + digits;
}

}  // namespace

plat::WString FormatIntegers(plat::WStringView pattern, std::initializer_list<int64_t> args) {
  plat::WString out;
  out.reserve(pattern.size() + 16);
  const int64_t* next = args.begin();
  size_t i = 0;
  while (i < pattern.size()) {
    char16_t c = pattern[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == u'%') {
      out.push_back(u'%');
      i += 2;
      continue;
    }
    size_t after = i + 1;
    Conversion conv;
    if (ParseConversion(pattern, &after, &conv) && next != args.end()) {
      out += FormatOne(conv, *next++);
      i = after;
    } else {
      // Not ours to substitute: the '%' is text, and so is what follows.
      out.push_back(u'%');
      ++i;
    }
  }
  return out;
}

plat::WString FormatFileNamePart(plat::WStringView path, std::initializer_list<int64_t> args) {
  const size_t slash = path.find_last_of(u"\\/");
  const size_t nameStart = slash == plat::WStringView::npos ? 0 : slash + 1;
  return plat::WString(path.substr(0, nameStart)) + FormatIntegers(path.substr(nameStart), args);
}
