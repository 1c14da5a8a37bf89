// Helpers of the Windows tests: a private directory under the Windows
// temporary path, and the built programs beside the test program.
#pragma once
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/dir_tree.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace wintest {

using plat::WString;

// The directory of the running test program, with a trailing separator.
inline WString ProgramDirectory() {
  WString self = plat::GetModuleFileName();
  return self.substr(0, self.find_last_of(u"\\/") + 1);
}

// A fresh directory under the temporary path, removed with its contents.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    const WString base = plat::GetTempPath() + u"upkwin" + plat::W(std::to_string(std::rand())) +
                         u"_" + plat::W(std::to_string(++counter));
    plat::CreateDirectory(base);
    m_path = base + u"\\";
  }
  ~TempDir() { plat::DeleteTree(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const WString& Path() const { return m_path; }
  WString Path(const char* name) const { return m_path + plat::W(name); }

 private:
  WString m_path;
};

// Writes bytes to a new file through the platform's own handles.
bool WriteBytes(const WString& path, const std::string& bytes);
std::string ReadBytes(const WString& path);

}  // namespace wintest
