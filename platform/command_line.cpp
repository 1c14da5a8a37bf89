// The same on every system: command lines split and quoted by the Windows
// C-runtime rules, and this process's argument text.
#include "platform/process.h"

namespace plat {
namespace {

WString g_argumentText;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<WString> SplitCommandLine(WStringView line) {
  std::vector<WString> args;
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    WString arg;
    bool quoted = false;
    while (i < n) {
      char16_t c = line[i];
      if (c == u'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          arg.append(slashes / 2, u'\\');
          if (slashes % 2 == 1) {
            arg.push_back(u'"');
            ++i;
          }
          // An even count leaves the quote to toggle quoting below.
        } else {
          arg.append(slashes, u'\\');
        }
        continue;
      }
      if (c == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {
          arg.push_back(u'"');  // "" inside quotes is a literal quote
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted && IsBlank(c)) break;
      arg.push_back(c);
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

WString QuoteArgument(WStringView argument) {
  bool needsQuotes = argument.empty();
  for (char16_t c : argument) {
    if (IsBlank(c) || c == u'"') needsQuotes = true;
  }
  if (!needsQuotes) return WString(argument);
  WString out = u"\"";
  size_t slashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++slashes;
      continue;
    }
    if (c == u'"') {
      out.append(slashes * 2 + 1, u'\\');
    } else {
      out.append(slashes, u'\\');
    }
    slashes = 0;
    out.push_back(c);
  }
  // Backslashes before the closing quote are doubled so it stays a quote.
  out.append(slashes * 2, u'\\');
  out.push_back(u'"');
  return out;
}

WString JoinCommandLine(const std::vector<WString>& arguments) {
  WString line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) line.push_back(u' ');
    line += QuoteArgument(arguments[i]);
  }
  return line;
}

void SetArgumentText(WString text) { g_argumentText = std::move(text); }
WString GetArgumentText() { return g_argumentText; }

}  // namespace plat
