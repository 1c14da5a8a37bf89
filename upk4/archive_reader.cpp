#include "upk4/archive_reader.h"
#include <algorithm>
#include <cstring>
#include <string>
#include "platform/code_page.h"
#include "upk4/zip_exception.h"

namespace {

// Lookups by scan before the name index is built.
constexpr uint32_t kScannedLookups = 8;

}  // namespace

ArchiveReader::ArchiveReader() {
  centralDir.storage = &storage;
  // The inflater's register is chosen each time an entry is opened.
}

ArchiveReader::~ArchiveReader() {
  decode.inflater.Forget();  // lets go of the input before it is freed
  FreeRegisteredAllocations();
}

void ArchiveReader::Open(plat::WStringView path) {
  if (!IsClosed()) return;
  password.Release();
  ForgetEntry();
  storage.Open(path);
  centralDir.Reset();
  centralDir.ReadDirectory();
}

void ArchiveReader::Close(bool afterError) {
  if (IsClosed() && (!afterError || IsClosed(archiveFile))) return;
  if (!afterError) {
    CloseEntry(nullptr);  // when one is open
    centralDir.CloseDirectory();
  } else {
    ForgetEntry();
  }
  transferBlock.Release();
  centralDir.Clear(true);
  storage.Close(afterError);
}

void ArchiveReader::SetBufferSizes(int32_t writeSize, int32_t readSize, int32_t searchSize) {
  if (!IsClosed()) return;
  storage.writeBufferSize = static_cast<uint32_t>(std::max(writeSize, 1024));
  decode.readBufferSize = static_cast<uint32_t>(std::max(readSize, 1024));
  centralDir.searchBufferSize = std::max(searchSize, 1024);
}

bool ArchiveReader::SetPassword(const char16_t* newPassword) {
  if (entryState != EntryState::none) return false;
  if (newPassword == nullptr) {
    password.Release();
    return true;
  }
  const std::string ansi = plat::WideToAnsi(plat::WStringView(newPassword));
  if (ansi.empty()) {
    password.Release();
    return newPassword[0] == u'\0';
  }
  // The keys are initialised from 7-bit bytes only.
  if (std::any_of(ansi.begin(), ansi.end(),
                  [](char c) { return static_cast<unsigned char>(c) > 127; })) {
    password.Release();
    return false;
  }
  password.Allocate(static_cast<uint32_t>(ansi.size()), true);
  std::memcpy(password.data, ansi.data(), ansi.size());
  return true;
}

int32_t ArchiveReader::FindEntry(plat::WStringView name, bool caseSensitive) {
  if (IsClosed()) return -1;
  const int32_t found = FindEntryAnyWay(name, caseSensitive);
  centralDir.lastFound = found;
  return found;
}

int32_t ArchiveReader::FindEntryAnyWay(plat::WStringView name, bool caseSensitive) {
  if (!centralDir.nameIndexEnabled) {
    // The first few lookups scan: the index costs a conversion and a sort
    // of every name, more than a whole lookup in an archive opened for one
    // or two names. A name that matches once or not at all is found the
    // same way by the index; one that matches several entries needs the
    // index to tell which of them.
    if (centralDir.scannedLookups < kScannedLookups) {
      ++centralDir.scannedLookups;
      const int32_t found = centralDir.FindByScan(name, caseSensitive);
      if (found != CentralDirectory::kSeveralMatch) return found;
    }
    EnableNameIndex(true);
  }
  if (const int32_t following = centralDir.FindFollowing(name, caseSensitive); following >= 0)
    return following;
  const int32_t position = centralDir.FindInIndex(name, caseSensitive);
  if (position >= 0) return centralDir.nameIndex[static_cast<size_t>(position)].directoryIndex;
  // The index is ordered case-sensitively, so a bisection without regard to
  // case can step past a name that is there ("A11" behind "_x.txt" and
  // "a.txt"). A miss is confirmed in the index without regard to case,
  // which gives what a scan would: the first such entry of the directory.
  if (!caseSensitive) return centralDir.FindNoCase(name);
  return -1;
}

void ArchiveReader::EnableNameIndex(bool on) {
  if (IsClosed() || centralDir.nameIndexEnabled == on) return;
  centralDir.SetNameIndexEnabled(on);
}
