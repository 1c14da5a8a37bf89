// Fuzzes the archive reader: any bytes, taken as an archive file, must open
// and decode to an error or to data, never to a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/exception.h"
#include "upk4/archive.h"
#include "upk4/memory_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is the archive file, served from memory: nothing is written.
  const plat::WString path = u"/fuzz/input.zip";
  MemoryStorage storage;
  storage.Add(path, std::string(reinterpret_cast<const char*>(data), size));
  ArchiveOptions options = LibraryArchiveOptions(u"input.zip");
  options.storage = &storage;
  try {
    const std::unique_ptr<Archive> archive = Archive::Open(path, options);
    archive->Find(u"A11");
    std::vector<uint8_t> buffer(65535);
    for (size_t i = 0; i < archive->EntryCount() && i < 64; ++i) {
      try {
        const std::unique_ptr<EntryReader> reader =
            archive->OpenEntry(static_cast<uint16_t>(i), std::string_view("pw"));
        if (!reader) continue;
        // Bounded: a damaged entry may claim gigabytes.
        for (int chunk = 0; chunk < 64; ++chunk) {
          if (reader->Read(buffer.data(), static_cast<uint32_t>(buffer.size())) < buffer.size())
            break;
        }
        reader->Finish();
        reader->CheckDescriptor();
      } catch (const CException&) {
        break;
      }
    }
  } catch (const CException&) {
  }
  return 0;
}
