// Fuzzes the archive reader: any bytes, taken as an archive file, must open
// and decode to an error or to data, never to a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <random>
#include <vector>

#include "framework/exception.h"
#include "platform/native_path.h"
#include "upk4/archive_reader.h"
#include "upk4/path_functions.h"

namespace {

const std::string& ArchivePath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/upk4-fuzz-" +
           std::to_string(std::random_device{}()) + ".zip";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(ArchivePath().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  const plat::WString path = plat::FromNativePath(ArchivePath());
  SetVolumeNamePattern(path);
  ArchiveReader reader;
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
