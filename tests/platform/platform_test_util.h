// Helpers for the platform tests: a fresh temporary directory per test and
// small file utilities, in native form (UTF-8, "/").
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/code_page.h"
#include "platform/native_path.h"

namespace ptest {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    for (;;) {
      fs::path candidate = fs::temp_directory_path() / ("upk-plat-" + std::to_string(random()));
      if (fs::create_directory(candidate)) {
        m_path = candidate.string();
        break;
      }
    }
  }
  ~TempDir() {
    std::error_code ec;
    // Give back write and search rights a test may have taken away, then
    // remove everything (links are removed, not followed).
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& native() const { return m_path; }
  std::string native(const std::string& name) const { return m_path + "/" + name; }
  // The same path in the form the core uses ("\" separators, UTF-16).
  plat::WString win(const std::string& name = {}) const {
    return plat::FromNativePath(name.empty() ? m_path : native(name));
  }

 private:
  std::string m_path;
};

inline void WriteText(const std::string& native, const std::string& text) {
  std::ofstream out(native, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& native) {
  return fs::symlink_status(native).type() != fs::file_type::not_found;
}

inline fs::perms PermsOf(const std::string& native) {
  return fs::symlink_status(native).permissions();
}

}  // namespace ptest
