#include "upk4/archive.h"
#include <algorithm>
#include "upk4/path_functions.h"
#include "upk4/zip_format.h"

namespace {

// Reads of compressed input are never smaller than this.
constexpr uint32_t kMinReadSize = 1024;

}  // namespace

ArchiveOptions LibraryArchiveOptions(plat::WStringView volumeNamePattern) {
  ArchiveOptions options;
  options.volumeNamePattern = plat::WString(volumeNamePattern);
  // Output from which loading the fast inflater pays: it saves about 2 ms
  // per MB against zlib, and loading it costs about 0.5 ms.
  options.fastInflaterFrom = 256 * 1024;
  return options;
}

Archive::Archive(const ArchiveOptions& options) : m_options(options), m_names(m_directory) {}

Archive::~Archive() = default;

std::unique_ptr<Archive> Archive::Open(plat::WStringView path, const ArchiveOptions& options) {
  std::unique_ptr<Archive> archive(new Archive(options));
  VolumeStorage& storage = options.storage ? *options.storage : VolumeStorage::Files();
  const plat::WString pattern =
      options.volumeNamePattern.empty() ? GetFileNamePart(path) : options.volumeNamePattern;
  auto first = std::make_unique<VolumeSet>(storage, pattern);
  first->Open(path);
  archive->m_directory.Read(*first, std::max(options.searchBufferSize, kMinReadSize),
                            options.readDirectoryWhole);
  archive->m_multiVolume = first->IsMultiVolume();
  archive->m_lastVolume = first->LastVolume();
  archive->m_first = first.get();
  archive->m_idleCursors.push_back(std::move(first));
  return archive;
}

int32_t Archive::Find(plat::WStringView name, bool caseSensitive) const {
  std::lock_guard<plat::Mutex> lock(m_lookupMutex);
  return m_names.Find(name, caseSensitive);
}

void Archive::EnableNameIndex(bool on) const {
  std::lock_guard<plat::Mutex> lock(m_lookupMutex);
  m_names.Enable(on);
}

uint32_t Archive::ScannedLookups() const {
  std::lock_guard<plat::Mutex> lock(m_lookupMutex);
  return m_names.ScannedLookups();
}

bool Archive::NameIndexEnabled() const {
  std::lock_guard<plat::Mutex> lock(m_lookupMutex);
  return m_names.Enabled();
}

std::unique_ptr<VolumeSet> Archive::TakeCursor() const {
  {
    std::lock_guard<plat::Mutex> lock(m_cursorsMutex);
    if (!m_idleCursors.empty()) {
      std::unique_ptr<VolumeSet> cursor = std::move(m_idleCursors.back());
      m_idleCursors.pop_back();
      return cursor;
    }
  }
  // Every cursor is in a reader's hands: one more, on the first file.
  return m_first->Clone();
}

void Archive::ReturnCursor(std::unique_ptr<VolumeSet> cursor) const {
  if (cursor == nullptr) return;
  std::lock_guard<plat::Mutex> lock(m_cursorsMutex);
  m_idleCursors.push_back(std::move(cursor));
}

std::unique_ptr<EntryReader> Archive::OpenEntry(uint16_t index,
                                                std::optional<std::string_view> password) const {
  const EntryRecord& entry = Entry(index);
  auto reader = std::make_unique<EntryReader>(*this, TakeCursor(), entry, index,
                                              std::max(m_options.readBufferSize, kMinReadSize));
  // An encrypted entry without a password is refused once its local header
  // has been read.
  if (entry.IsEncrypted() && (!password || password->empty())) {
    reader->Start(std::nullopt);
    return nullptr;
  }
  reader->Start(password);
  // Counted once per opening: a restart after damage decodes the same
  // entry again.
  bool fast = true;
  if (entry.method == zip::kMethodDeflated) {
    const uint64_t claimed = entry.uncompressedSize;
    uint64_t before = m_deflatedClaimed.load(std::memory_order_relaxed);
    uint64_t after = 0;
    do {
      after = before + std::min(claimed, UINT64_MAX - before);
    } while (!m_deflatedClaimed.compare_exchange_weak(before, after, std::memory_order_relaxed));
    fast = after >= m_options.fastInflaterFrom;
  }
  reader->StartDecoding(fast);
  return reader;
}
