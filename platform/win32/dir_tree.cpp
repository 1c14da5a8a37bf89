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

namespace {

// The directory's identity, the name itself and not what a reparse point
// leads to. False when the name is no directory.
bool IdentityOf(const std::wstring& path, DWORD* volume, uint64_t* index) {
  HANDLE h = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileInformationByHandle(h, &info) != 0 &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  ::CloseHandle(h);
  if (!ok) return false;
  *volume = info.dwVolumeSerialNumber;
  *index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

std::wstring DirectoryPath(WStringView path) {
  std::wstring native = win32::Wide(path);
  while (native.size() > 1 && (native.back() == L'\\' || native.back() == L'/')) native.pop_back();
  return native;
}

}  // namespace

bool IsPrivateDirectory(WStringView path) {
  // The user's temporary path is the user's own on Windows; what counts is
  // that the name is a real directory.
  DWORD volume = 0;
  uint64_t index = 0;
  return IdentityOf(DirectoryPath(path), &volume, &index);
}

struct DirectoryLock::State {
  bool held = true;
  DWORD volume = 0;
  uint64_t index = 0;
};

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() { Release(); }

bool DirectoryLock::CreateLocked(WStringView directory) {
  Release();
  m_state.reset();
  const std::wstring native = DirectoryPath(directory);
  // Fails with ERROR_ALREADY_EXISTS on anything of that name.
  if (native.empty() || !::CreateDirectoryW(native.c_str(), nullptr)) return false;
  auto state = std::make_unique<State>();
  IdentityOf(native, &state->volume, &state->index);
  m_state = std::move(state);
  return true;
}

bool DirectoryLock::Acquire(WStringView directory) {
  Release();
  m_state.reset();
  auto state = std::make_unique<State>();
  if (!IdentityOf(DirectoryPath(directory), &state->volume, &state->index)) return false;
  m_state = std::move(state);
  return true;
}

bool DirectoryLock::IsHeld() const { return m_state && m_state->held; }

bool DirectoryLock::Names(WStringView path) const {
  if (!m_state || m_state->index == 0) return false;
  DWORD volume = 0;
  uint64_t index = 0;
  return IdentityOf(DirectoryPath(path), &volume, &index) && volume == m_state->volume &&
         index == m_state->index;
}

void DirectoryLock::Release() {
  if (m_state) m_state->held = false;
}

}  // namespace plat
