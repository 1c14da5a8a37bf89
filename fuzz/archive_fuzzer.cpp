// Fuzzes the archive reader: any bytes, taken as an archive file, must open
// and decode to an error or to data, never to a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/exception.h"
#include "upk4/memory_storage.h"
#include "upk4/archive_reader.h"
#include "upk4/path_functions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is the archive file, served from memory: nothing is written.
  const plat::WString path = u"/fuzz/input.zip";
  MemoryStorage storage;
  storage.Add(path, std::string(reinterpret_cast<const char*>(data), size));
  SetVolumeNamePattern(path);
  ArchiveReader reader;
  reader.storage.UseStorage(storage);
  bool failed = false;
  try {
    reader.SetBufferSizes(65535, 16384, 32768);
    reader.Open(path);
    reader.SetPassword(u"pw");
    reader.FindEntry(u"A11");
    std::vector<uint8_t> buffer(65535);
    for (size_t i = 0; i < reader.GetEntryCount() && i < 64; ++i) {
      try {
        if (!reader.OpenEntry(static_cast<uint16_t>(i))) continue;
        // Bounded: a damaged entry may claim gigabytes.
        for (int chunk = 0; chunk < 64; ++chunk) {
          if (reader.ReadEntry(buffer.data(), static_cast<uint32_t>(buffer.size())) < buffer.size())
            break;
        }
        reader.CloseEntry(nullptr);
      } catch (const CException&) {
        failed = true;
        break;
      }
    }
    reader.Close(failed);
  } catch (const CException&) {
    try {
      reader.Close(true);
    } catch (const CException&) {
    }
  }
  return 0;
}
