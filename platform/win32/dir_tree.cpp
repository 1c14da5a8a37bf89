// Win32 system calls: the run directory made with its own protection and
// held open, the owner of a directory, and the removal of a tree by handles,
// each entry opened relative to its directory (NtOpenFile with a root handle)
// without following reparse points. The walk itself is common
// (platform/tree_removal.cpp).
#include "platform/win32/windows_api.h"

#include <winternl.h>

#include <atomic>

#include "platform/dir_tree.h"
#include "platform/last_error.h"
#include "platform/tree_removal.h"
#include "platform/win32/security.h"

namespace plat {
namespace {

// From the native API (ntdll), which every Windows NT has; looked up rather
// than imported, so the binaries import system libraries only.
constexpr ULONG kOpenReparsePoint = 0x00200000;    // FILE_OPEN_REPARSE_POINT
constexpr ULONG kOpenForBackupIntent = 0x00004000; // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kSynchronousIo = 0x00000020;       // FILE_SYNCHRONOUS_IO_NONALERT
using NtOpenFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                  ULONG, ULONG);

template <typename Fn>
Fn NtFunction(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// Opens a name relative to an open directory: no path is rebuilt, and the
// name is never looked up anywhere else. An NTSTATUS (negative: failed).
LONG OpenRelative(HANDLE directory, std::wstring name, DWORD access, DWORD share, ULONG options,
                  HANDLE* out) {
  static const auto ntOpenFile = NtFunction<NtOpenFileFn>("NtOpenFile");
  constexpr LONG kNotFound = static_cast<LONG>(0xC0000034);  // STATUS_OBJECT_NAME_NOT_FOUND
  if (!ntOpenFile || name.empty() || name.size() > 32767) return kNotFound;
  UNICODE_STRING unicode{};
  unicode.Buffer = name.data();
  unicode.Length = unicode.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = directory;
  attributes.ObjectName = &unicode;
  IO_STATUS_BLOCK status{};
  *out = nullptr;
  return ntOpenFile(out, access, &attributes, &status, share, options);
}

constexpr DWORD kRemovalAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TreeEntryKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeEntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TreeEntryKind::Directory;
  return TreeEntryKind::File;
}

// One entry of a tree under removal, held by its handle.
class HandleEntry : public TreeOps::Entry {
 public:
  HandleEntry(HANDLE handle, DWORD attributes) : m_handle(handle), m_attributes(attributes) {}

  TreeEntryKind Kind() const override { return KindOf(m_attributes); }

  bool List(std::vector<std::u16string>* names) override {
    alignas(8) unsigned char buffer[16384];
    for (;;) {
      if (!::GetFileInformationByHandleEx(m_handle.get(), FileFullDirectoryInfo, buffer,
                                          sizeof buffer)) {
        return ::GetLastError() == ERROR_NO_MORE_FILES;
      }
      for (size_t offset = 0;;) {
        const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer + offset);
        const std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (name != L"." && name != L"..") names->emplace_back(name.begin(), name.end());
        if (info->NextEntryOffset == 0) break;
        offset += info->NextEntryOffset;
      }
    }
  }

  std::unique_ptr<Entry> Open(const std::u16string& name) override {
    const std::wstring wide(name.begin(), name.end());
    const ULONG options = kOpenReparsePoint | kOpenForBackupIntent | kSynchronousIo;
    // A directory is listed through the same handle; a file may refuse the
    // listing right (its list of rights, or another opener), and needs none.
    for (DWORD access : {kRemovalAccess | FILE_LIST_DIRECTORY, kRemovalAccess}) {
      HANDLE child = nullptr;
      if (OpenRelative(m_handle.get(), wide, access, kShareAll, options, &child) < 0) continue;
      FILE_BASIC_INFO basic{};
      if (!::GetFileInformationByHandleEx(child, FileBasicInfo, &basic, sizeof basic)) {
        ::CloseHandle(child);
        return nullptr;
      }
      if ((access & FILE_LIST_DIRECTORY) == 0 &&
          KindOf(basic.FileAttributes) == TreeEntryKind::Directory) {
        ::CloseHandle(child);  // a directory that cannot be listed is left
        return nullptr;
      }
      return std::make_unique<HandleEntry>(child, basic.FileAttributes);
    }
    return nullptr;
  }

  bool Remove() override {
    // Read-only entries go too, as the shell removed them.
    if (m_attributes & FILE_ATTRIBUTE_READONLY) {
      FILE_BASIC_INFO basic{};
      const DWORD kept = m_attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      basic.FileAttributes = kept != 0 ? kept : static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
      ::SetFileInformationByHandle(m_handle.get(), FileBasicInfo, &basic, sizeof basic);
    }
    // The name goes when this handle closes.
    return win32::MarkForDeletion(m_handle.get());
  }

  HANDLE handle() const { return m_handle.get(); }

  // Whether the name in this directory is held open by someone who does not
  // share its deletion.
  bool OpensInUse(const char16_t* name) {
    HANDLE h = nullptr;
    const LONG result = OpenRelative(m_handle.get(), win32::Wide(name), DELETE | SYNCHRONIZE,
                                     kShareAll, kOpenReparsePoint | kSynchronousIo, &h);
    if (result >= 0 && h) ::CloseHandle(h);
    constexpr LONG kSharingViolation = static_cast<LONG>(0xC0000043);  // STATUS_SHARING_VIOLATION
    return result == kSharingViolation;
  }

 private:
  win32::ScopedHandle m_handle;
  DWORD m_attributes;
};

std::wstring DirectoryPath(WStringView path) {
  std::wstring native = win32::SystemPath(path);
  while (native.size() > 1 && (native.back() == L'\\' || native.back() == L'/')) native.pop_back();
  return native;
}

// Opens the name itself, a reparse point as itself.
HANDLE OpenNoFollow(const std::wstring& path, DWORD access, DWORD share) {
  return ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

DWORD AttributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return static_cast<DWORD>(INVALID_FILE_ATTRIBUTES);
  return info.dwFileAttributes;
}

bool OwnedByUser(HANDLE h) {
  if (!win32::VolumeKeepsSecurity(h)) return true;  // no owners there (FAT)
  std::string owner;
  std::vector<AccessEntry> entries;
  return win32::ReadOwnerAndAccess(h, &owner, &entries) &&
         IsOwnedBy(owner, win32::TokenUserSid());
}

// A number in decimal digits (std::to_wstring would bring the C library's
// whole formatting machinery into the binaries).
std::wstring Decimal(unsigned long value) {
  wchar_t digits[24];
  wchar_t* at = digits + 24;
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::wstring(at, digits + 24);
}

// Renames the open directory to a fresh tombstone name beside it (or back to
// `back` when given), never replacing anything. The system refuses while
// anything inside is open: a live run's directory is never emptied.
bool RenameTo(HANDLE directory, const std::wstring& path, std::wstring* tombstone,
              const std::wstring* back = nullptr) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::wstring target =
        back ? *back
             : path.substr(0, slash + 1) + L".upk-tombstone-" +
                   Decimal(::GetCurrentProcessId()) + L"-" + Decimal(::GetTickCount()) + L"-" +
                   Decimal(counter.fetch_add(1));
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), info->FileName);
    if (::SetFileInformationByHandle(directory, FileRenameInfo, info,
                                     static_cast<DWORD>(buffer.size()))) {
      if (tombstone) *tombstone = target;
      return true;
    }
    const DWORD error = ::GetLastError();
    if (back || (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)) return false;
  }
  return false;
}

}  // namespace

bool DeleteTree(WStringView path) {
  const std::wstring native = DirectoryPath(path);
  if (native.empty()) {
    ::SetLastError(ERROR_SUCCESS);
    return true;
  }
  HANDLE h = OpenNoFollow(native, kRemovalAccess | FILE_LIST_DIRECTORY | READ_CONTROL, kShareAll);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      ::SetLastError(ERROR_SUCCESS);
      return true;  // nothing there: the tree is gone
    }
    return false;
  }
  auto root = std::make_unique<HandleEntry>(h, AttributesOf(h));
  if (root->Kind() != TreeEntryKind::Directory) {
    // A link (or a file) under the name goes as itself; what it points to
    // stays.
    if (!root->Remove()) return false;
    root.reset();
    return true;
  }
  // Never a tree that another user owns: the sweep of a shared temporary
  // path meets other users' directories under our names.
  if (!OwnedByUser(root->handle())) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // A live run holds its mark open: the tree is not a leftover.
  if (root->OpensInUse(kDirectoryLockName)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  std::wstring tombstone;
  if (!RenameTo(root->handle(), native, &tombstone)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  if (RemoveTreeByHandle(std::move(root))) return true;
  // Something inside is in use, which the rename should have refused (Wine
  // lets it pass): what is left takes its name back when it still can, so a
  // live program keeps its directory; else it stays out of every run's way
  // under the tombstone.
  win32::ScopedHandle left(OpenNoFollow(tombstone, DELETE | SYNCHRONIZE, kShareAll));
  if (left.valid() && RenameTo(left.get(), tombstone, nullptr, &native)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  ::SetLastError(ERROR_DIR_NOT_EMPTY);
  return true;
}

bool IsOwnedByCurrentUser(WStringView path) {
  win32::ScopedHandle h(OpenNoFollow(DirectoryPath(path), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                     kShareAll));
  return h.valid() && OwnedByUser(h.get());
}

namespace {

// The directory's identity, the name itself and not what a reparse point
// leads to. False when the name is no directory.
bool IdentityOf(HANDLE h, DWORD* volume, uint64_t* index) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  *volume = info.dwVolumeSerialNumber;
  *index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

bool IdentityOf(const std::wstring& path, DWORD* volume, uint64_t* index) {
  win32::ScopedHandle h(OpenNoFollow(path, FILE_READ_ATTRIBUTES, kShareAll));
  return h.valid() && IdentityOf(h.get(), volume, index);
}

}  // namespace

bool IsPrivateDirectory(WStringView path) {
  // The user's temporary path is the user's own on Windows; what counts is
  // that the name is a real directory.
  DWORD volume = 0;
  uint64_t index = 0;
  return IdentityOf(DirectoryPath(path), &volume, &index);
}

// The run holds its directory open without sharing its deletion: while it
// is held, no sweep can rename it to a tombstone.
struct DirectoryLock::State {
  win32::ScopedHandle directory;
  // The in-use mark: a file inside, held open without sharing its deletion.
  // Systems that let a directory with open files be renamed (Wine) still
  // refuse to remove this file, and the sweep asks for it first.
  win32::ScopedHandle mark;
  DWORD volume = 0;
  uint64_t index = 0;
  bool unprotected = false;
  explicit State(HANDLE h) : directory(h) {}
};

DirectoryLock::DirectoryLock() = default;
DirectoryLock::~DirectoryLock() { Release(); }

bool DirectoryLock::CreateLocked(WStringView directory) {
  Release();
  m_state.reset();
  const std::wstring native = DirectoryPath(directory);
  win32::PrivateSecurity security;
  // Fails with ERROR_ALREADY_EXISTS on anything of that name.
  if (native.empty() || !security.valid() ||
      !::CreateDirectoryW(native.c_str(), security.attributes())) {
    return false;
  }
  auto state = std::make_unique<State>(
      OpenNoFollow(native, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                   FILE_SHARE_READ | FILE_SHARE_WRITE));
  bool ours = state->directory.valid() &&
              IdentityOf(state->directory.get(), &state->volume, &state->index);
  if (ours && !win32::VolumeKeepsSecurity(state->directory.get())) {
    state->unprotected = true;  // FAT: nothing to check, the caller says so
  } else if (ours) {
    // What the descriptor means, not its form: a system may report the list
    // in another shape than the one asked for.
    std::string owner;
    std::vector<AccessEntry> entries;
    ours = win32::ReadOwnerAndAccess(state->directory.get(), &owner, &entries) &&
           IsPrivateRunDirectory(owner, entries, win32::TokenUserSid());
  }
  if (ours) {
    state->mark.reset(::CreateFileW(
        (native + L"\\" + win32::Wide(kDirectoryLockName)).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!state->mark.valid()) ours = false;
  }
  if (!ours) {
    if (state->mark.valid()) win32::MarkForDeletion(state->mark.get());
    state.reset();
    ::RemoveDirectoryW(native.c_str());  // ours, just made, and empty
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  m_state = std::move(state);
  return true;
}

bool DirectoryLock::Acquire(WStringView directory) {
  Release();
  m_state.reset();
  auto state = std::make_unique<State>(OpenNoFollow(
      DirectoryPath(directory), READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!state->directory.valid() ||
      !IdentityOf(state->directory.get(), &state->volume, &state->index)) {
    return false;
  }
  m_state = std::move(state);
  return true;
}

bool DirectoryLock::IsHeld() const { return m_state && m_state->directory.valid(); }

bool DirectoryLock::IsUnprotected() const { return m_state && m_state->unprotected; }

bool DirectoryLock::Names(WStringView path) const {
  if (!m_state || m_state->index == 0) return false;
  DWORD volume = 0;
  uint64_t index = 0;
  return IdentityOf(DirectoryPath(path), &volume, &index) && volume == m_state->volume &&
         index == m_state->index;
}

void DirectoryLock::Release() {
  if (m_state) {
    // Keeps the identity for Names(); the handle goes.
    auto released = std::make_unique<State>(INVALID_HANDLE_VALUE);
    released->volume = m_state->volume;
    released->index = m_state->index;
    released->unprotected = m_state->unprotected;
    m_state = std::move(released);
  }
}

}  // namespace plat
