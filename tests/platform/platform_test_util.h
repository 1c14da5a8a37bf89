// Helpers for the platform tests: small file utilities in native form
// (UTF-8, "/"), and the shared temporary directory.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/code_page.h"
#include "platform/native_path.h"
#include "test_support.h"

namespace ptest {

namespace fs = std::filesystem;

// The one temporary directory of all test programs.
using upktest::TempDir;

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
