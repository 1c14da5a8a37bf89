#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tools_test_util.h"

namespace toolstest {

namespace fs = std::filesystem;

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().lexically_relative(root).generic_string() +
                    (it->is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::pair<std::string, std::string>> MakePayload(const std::string& root) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"readme.txt", upktest::MakeTextLikeData(5000, 1)},
      {"bin/tool.dat", upktest::MakeRandomData(150000, 2)},
      {"bin/deep/empty.txt", ""},
      {"docs/manual.txt", upktest::MakeTextLikeData(70000, 3)},
  };
  for (const auto& [name, data] : files) upktest::WriteFile(root + "/" + name, data);
  return files;
}

}  // namespace toolstest
