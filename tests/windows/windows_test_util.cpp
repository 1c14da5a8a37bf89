#include "windows_test_util.h"

#include "platform/file_handle.h"

namespace wintest {

bool WriteBytes(const WString& path, const std::string& bytes) {
  plat::FileHandle h = plat::OpenFileHandle(path, plat::FileAccess::Write, plat::FileShare::DenyNone,
                                            plat::FileCreate::CreateAlways);
  if (h == plat::kInvalidFile) return false;
  const bool ok = plat::WriteFileHandle(h, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
                  static_cast<int64_t>(bytes.size());
  return plat::CloseFileHandle(h) && ok;
}

std::string ReadBytes(const WString& path) {
  plat::FileHandle h = plat::OpenFileHandle(path, plat::FileAccess::Read, plat::FileShare::DenyNone,
                                            plat::FileCreate::OpenExisting);
  if (h == plat::kInvalidFile) return {};
  std::string out(static_cast<size_t>(plat::GetFileHandleSize(h)), '\0');
  plat::ReadFileHandle(h, out.data(), static_cast<uint32_t>(out.size()));
  plat::CloseFileHandle(h);
  return out;
}

}  // namespace wintest
