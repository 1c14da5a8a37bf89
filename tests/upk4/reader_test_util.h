// Opening archives and catching reader errors in the reader tests.
#pragma once
#include <algorithm>
#include <string>
#include "crafted_zip.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "test_support.h"
#include "upk4/archive_reader.h"
#include "upk4/path_functions.h"
#include "upk4/zip_exception.h"

namespace upktest {

inline plat::WString WPath(const std::string& native) { return plat::FromNativePath(native); }

// Opens as the library does: pattern from the file name, the library's
// buffer sizes.
inline void OpenArchive(ArchiveReader& reader, const std::string& path) {
  SetVolumeNamePattern(WPath(path));
  reader.SetBufferSizes(65535, 16384, 32768);
  reader.Open(WPath(path));
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

// The cause that opening the bytes as an archive file raises.
inline int32_t OpenCause(const TempDir& dir, const std::string& bytes,
                         const std::string& name = "crafted.zip") {
  WriteFile(dir.Path(name), bytes);
  ArchiveReader reader;
  return ZipCauseOf([&] { OpenArchive(reader, dir.Path(name)); });
}

// The entry name as the writers list it ("/" separators, UTF-8).
inline std::string ListedName(const EntryRecord& entry) {
  std::string name = plat::Utf16ToUtf8(entry.GetNameWide());
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// Positions the storage on every entry in turn, reads past its data through
// the storage (so across volumes) and finishes it, data descriptor check
// included. Returns the entries' stored bytes.
inline std::vector<std::string> WalkEntries(ArchiveReader& reader) {
  std::vector<std::string> stored;
  for (size_t i = 0; i < reader.GetEntryCount(); ++i) {
    reader.centralDir.SeekEntry(static_cast<uint16_t>(i));
    // In pieces: a damaged header may claim gigabytes.
    std::string data;
    char piece[65536];
    for (uint64_t left = reader.GetEntry(i)->compressedSize; left != 0;) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, sizeof piece));
      reader.storage.Read(piece, n, false);
      data.append(piece, n);
      left -= n;
    }
    reader.centralDir.FinishEntry();
    stored.push_back(std::move(data));
  }
  return stored;
}

}  // namespace upktest
