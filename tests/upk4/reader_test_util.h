// Opening archives and catching reader errors in the reader tests.
#pragma once
#include <algorithm>
#include <memory>
#include <string>
#include "crafted_zip.h"
#include "framework/file.h"
#include "upk4/memory_storage.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "test_support.h"
#include "upk4/archive.h"
#include "upk4/entry_extraction.h"
#include "upk4/entry_section.h"
#include "upk4/path_functions.h"
#include "upk4/zip_exception.h"

// The tests' one way to the volume cursors of an archive.
struct ArchiveTestAccess {
  static std::unique_ptr<VolumeSet> TakeCursor(const Archive& archive) {
    return archive.TakeCursor();
  }
  static void ReturnCursor(const Archive& archive, std::unique_ptr<VolumeSet> cursor) {
    archive.ReturnCursor(std::move(cursor));
  }
};

namespace upktest {

// A volume cursor of the archive, given back when the lease goes.
class CursorLease {
 public:
  explicit CursorLease(const Archive& archive)
      : m_archive(archive), m_cursor(ArchiveTestAccess::TakeCursor(archive)) {}
  ~CursorLease() { ArchiveTestAccess::ReturnCursor(m_archive, std::move(m_cursor)); }
  VolumeSet* operator->() const { return m_cursor.get(); }
  VolumeSet& operator*() const { return *m_cursor; }

 private:
  const Archive& m_archive;
  std::unique_ptr<VolumeSet> m_cursor;
};

// Opens as the library does: pattern from the file name (unless given),
// the library's buffer sizes, volumes from storage when one is given.
inline std::unique_ptr<Archive> OpenArchive(const std::string& path,
                                            MemoryStorage* storage = nullptr,
                                            const plat::WString& pattern = {}) {
  ArchiveOptions options = LibraryArchiveOptions(
      pattern.empty() ? GetFileNamePart(WinPath(path)) : pattern);
  options.storage = storage;
  return Archive::Open(WinPath(path), options);
}

// The cause of the CZipException that fn raises, 0 when it raises none.
template <class F>
int32_t ZipCauseOf(F&& fn) {
  try {
    fn();
  } catch (const CZipException& e) {
    return e.m_iCause;
  }
  return 0;
}

// Opens bytes as the archive file at path, served from the storage (which
// must outlive the archive).
inline std::unique_ptr<Archive> OpenInMemory(MemoryStorage& storage, std::string bytes,
                                             const std::string& path = "/memory/crafted.zip",
                                             const plat::WString& pattern = {}) {
  storage.Add(WinPath(path), std::move(bytes));
  return OpenArchive(path, &storage, pattern);
}

// The cause that opening the bytes as an archive file raises.
inline int32_t OpenCause(const std::string& bytes) {
  MemoryStorage storage;
  return ZipCauseOf([&] { OpenInMemory(storage, bytes); });
}

// The entry name as the writers list it ("/" separators, UTF-8).
inline std::string ListedName(const EntryRecord& entry) {
  std::string name = plat::Utf16ToUtf8(entry.GetNameWide());
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// The entry's stored bytes, read through a section (so across volumes, and
// decrypted with a password), its data descriptor checked.
inline std::string StoredBytes(const Archive& archive, size_t index,
                               std::optional<std::string_view> password = std::nullopt) {
  CursorLease cursor(archive);
  EntrySection section(*cursor, archive.Entry(index), static_cast<uint16_t>(index),
                       archive.BytesBeforeArchive());
  section.Start(password);
  // In pieces: a damaged header may claim gigabytes.
  std::string data;
  char piece[65536];
  while (section.Left() != 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(section.Left(), sizeof piece));
    section.Read(reinterpret_cast<uint8_t*>(piece), n);
    data.append(piece, n);
  }
  section.CheckDescriptor();
  return data;
}

// Every entry's stored bytes (StoredBytes).
inline std::vector<std::string> WalkEntries(const Archive& archive) {
  std::vector<std::string> stored;
  for (size_t i = 0; i < archive.EntryCount(); ++i) stored.push_back(StoredBytes(archive, i));
  return stored;
}

// An entry decoded whole through an entry reader, with its verdict.
inline std::string DecodeEntry(const Archive& archive, size_t index, int32_t* verdict = nullptr,
                               std::optional<std::string_view> password = std::nullopt,
                               uint32_t chunk = 65536) {
  const std::unique_ptr<EntryReader> reader =
      archive.OpenEntry(static_cast<uint16_t>(index), password);
  if (!reader) throw std::runtime_error("entry refused");
  std::string data;
  std::string piece(chunk, '\0');
  uint32_t n = 0;
  do {
    n = reader->Read(piece.data(), chunk);
    data.append(piece.data(), n);
  } while (n == chunk);
  const int32_t v = reader->Finish();
  reader->CheckDescriptor();
  if (verdict) *verdict = v;
  return data;
}

}  // namespace upktest

namespace upktest {

// One entry extracted as the second stage extracts: no callback, chunks of
// 65535 bytes.
inline bool ExtractOne(const Archive& archive, uint16_t index, const char16_t* destDir,
                       bool fullPath = true, const char16_t* newName = nullptr,
                       std::optional<std::string_view> password = std::nullopt,
                       ExtractOutcome* outcome = nullptr) {
  Transfer transfer;
  return ExtractEntry(archive, index, password, destDir, fullPath, newName, nullptr, nullptr,
                      transfer, outcome);
}

}  // namespace upktest
