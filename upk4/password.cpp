#include "upk4/password.h"
#include <algorithm>
#include "platform/code_page.h"

bool PasswordBytes(const char16_t* password, std::optional<std::string>& out) {
  out.reset();
  if (password == nullptr) return true;
  std::string ansi = plat::WideToAnsi(plat::WStringView(password));
  if (ansi.empty()) return password[0] == u'\0';
  if (std::any_of(ansi.begin(), ansi.end(),
                  [](char c) { return static_cast<unsigned char>(c) > 127; }))
    return false;
  out = std::move(ansi);
  return true;
}
