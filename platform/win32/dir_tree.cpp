// Win32 system calls: a tree is removed by the shell. A loaded library or a
// running program in it cannot be deleted, which keeps the directory of a
// live run: Windows needs no in-use mark of ours.
#include "platform/win32/windows_api.h"

#include "platform/dir_tree.h"
#include "platform/last_error.h"

namespace plat {

bool DeleteTree(WStringView path) {
  std::wstring from = win32::Wide(path);
  while (from.size() > 1 && (from.back() == L'\\' || from.back() == L'/')) from.pop_back();
  if (from.empty() || ::GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ::SetLastError(ERROR_SUCCESS);
    return true;  // nothing there: the tree is gone
  }
  from.push_back(L'\0');  // the list of names ends with an empty one
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
  const int result = ::SHFileOperationW(&op);
  if (::GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  ::SetLastError(result != 0 && result < 0x70 ? static_cast<DWORD>(result)
                                               : static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  return false;
}

bool IsOwnedByCurrentUser(WStringView /*path*/) { return true; }

struct DirectoryLock::State {};

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() { Release(); }

bool DirectoryLock::Acquire(WStringView /*directory*/) {
  m_state = std::make_unique<State>();
  return true;
}

void DirectoryLock::Release() { m_state.reset(); }

}  // namespace plat
