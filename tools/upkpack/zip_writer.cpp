#include "zip_writer.h"

#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "entry_compression.h"
#include "method_fields.h"
#include "pack_error.h"
#include "pkware_encryption.h"
#include "upk4/zip_format.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1 << 20;

struct ZipCloser {
  void operator()(void* zip) const { zipClose(zip, nullptr); }
};
using ZipHandle = std::unique_ptr<void, ZipCloser>;

// The entry's time as MS-DOS date fields (1980 at the earliest, which is
// where MS-DOS dates begin): the fixed time in UTC when one is given, else
// the file's modification time in local time.
tm_zip ModificationTime(const fs::path& path, const std::optional<int64_t>& fixedTime) {
  std::time_t when = std::time(nullptr);
  std::tm local{};
  if (fixedTime) {
    when = static_cast<std::time_t>(*fixedTime);
    if (std::tm* got = std::gmtime(&when)) local = *got;
  } else {
    std::error_code ec;
    if (!path.empty()) {
      const fs::file_time_type ft = fs::last_write_time(path, ec);
      if (!ec) {
        when = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(ft));
      }
    }
    if (std::tm* got = std::localtime(&when)) local = *got;
  }
  tm_zip out{};
  if (local.tm_year < 80) {
    out.tm_year = 1980;
    out.tm_mday = 1;
    return out;
  }
  if (local.tm_year > 207) {  // the last MS-DOS date: 2107-12-31 23:59:58
    out.tm_year = 2107;
    out.tm_mon = 11;
    out.tm_mday = 31;
    out.tm_hour = 23;
    out.tm_min = 59;
    out.tm_sec = 58;
    return out;
  }
  out.tm_sec = static_cast<uInt>(local.tm_sec);
  out.tm_min = static_cast<uInt>(local.tm_min);
  out.tm_hour = static_cast<uInt>(local.tm_hour);
  out.tm_mday = static_cast<uInt>(local.tm_mday);
  out.tm_mon = static_cast<uInt>(local.tm_mon);
  out.tm_year = static_cast<uInt>(local.tm_year + 1900);
  return out;
}

void Check(int result, const std::string& what) {
  if (result != ZIP_OK) throw PackError(what + " (minizip error " + std::to_string(result) + ")");
}

PackMethod MethodOf(const std::string& name) {
  if (name == "zstd") return PackMethod::zstd;
  if (name == "lzma") return PackMethod::lzma;
  return PackMethod::deflate;
}

// An entry's bytes on their way into the archive: encrypted first when
// the entry is, behind the encryption header.
class EntrySink {
 public:
  EntrySink(zipFile zip, const ZipSource& entry, const ZipWriteOptions& options, uint32_t crc)
      : m_zip(zip), m_name(entry.name) {
    if (options.password.empty()) return;
    m_encryptor.emplace(options.password);
    auto header = options.fixedTime
                      ? m_encryptor->MakeHeader(crc, PkwareEncryptor::DerivedFiller(
                                                         options.password, entry.name, crc))
                      : m_encryptor->MakeHeader(crc);
    Write(header.data(), header.size());
  }
  void Put(uint8_t* bytes, size_t count) {
    if (count == 0) return;
    if (m_encryptor) m_encryptor->Encrypt(bytes, count);
    Write(bytes, count);
  }

 private:
  void Write(const uint8_t* bytes, size_t count) {
    Check(zipWriteInFileInZip(m_zip, bytes, static_cast<unsigned>(count)), "cannot write " + m_name);
  }
  zipFile m_zip;
  const std::string& m_name;
  std::optional<PkwareEncryptor> m_encryptor;
};

// A stored entry's file, read again: it must still be what was compressed.
void WriteStoredData(EntrySink& sink, const ZipSource& entry, uint32_t crc,
                     std::vector<char>& buffer, const std::function<void(uint64_t)>& progress) {
  std::ifstream in(entry.source, std::ios::binary);
  if (!in) throw PackError("cannot read " + entry.source.string());
  uLong check = crc32(0L, Z_NULL, 0);
  uint64_t written = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
    check = crc32(check, bytes, static_cast<uInt>(got));
    sink.Put(bytes, got);
    written += got;
    progress(got);
  }
  if (in.bad()) throw PackError("cannot read " + entry.source.string());
  if (written != entry.size || check != crc)
    throw PackError("file changed while packing: " + entry.source.string());
}

// Flag bit 11: the entry's name is UTF-8.
unsigned long NameFlag(const ZipSource& entry) { return entry.utf8Name ? 0x0800u : 0u; }

}  // namespace

void WriteZip(const fs::path& output, const std::vector<ZipSource>& entries,
              const ZipWriteOptions& options) {
  if (entries.size() > zip::kMaxEntries) throw PackError("too many entries for one archive (65535 at most)");
  uint64_t total = 0;
  for (const ZipSource& entry : entries) total += entry.size;

  const std::string outputName = output.string();
  ZipHandle zip(zipOpen64(outputName.c_str(), APPEND_STATUS_CREATE));
  if (!zip) throw PackError("cannot create " + output.string());

  CompressionSettings settings;
  settings.store = options.store;
  settings.method = MethodOf(options.method);
  settings.level = options.level;
  settings.threads = options.threads != 0 ? options.threads
                                          : std::max(1u, std::thread::hardware_concurrency());
  settings.spillDirectory = output.parent_path();
  settings.memoryPerEntry = options.memoryPerEntry;
  const uint16_t newerMethod = ZipMethodOf(settings.method);
  const bool patchMethods = !options.store && newerMethod != zip::kMethodDeflated;
  std::vector<bool> patch(entries.size(), false);

  std::vector<char> buffer(kChunk);
  uint64_t done = 0;
  const auto advance = [&](uint64_t count) {
    done += count;
    if (options.progress) options.progress(done, total);
  };
  CompressEntries(entries, settings, [&](size_t index, CompressedEntry& compressed) {
    const ZipSource& entry = entries[index];
    zip_fileinfo info{};
    info.tmz_date = ModificationTime(entry.source, options.fixedTime);
    info.external_fa = entry.directory ? zip::kDosDirectory : zip::kDosArchive;

    const bool encrypt = !entry.directory && !options.password.empty();
    // minizip knows methods 0 and 8 only: a Zstandard or LZMA entry goes in
    // raw as "deflated", and its method and version fields are set once
    // the archive is complete (SetNewerMethods).
    const bool deflated = !compressed.stored;
    const bool newer = deflated && patchMethods;
    patch[index] = newer;
    const int level = deflated && !newer ? DeflateLevel(options.level) : 0;
    unsigned long flags = NameFlag(entry) | (encrypt ? zip::kFlagEncrypted : 0u) |
                          (newer ? FlagsOf(settings.method) : 0u);
    // A compressor can grow incompressible data a little, so the limit
    // leaves room; offsets past 4 GiB get their ZIP64 fields from minizip
    // anyway.
    const int zip64 =
        !entry.directory && (options.zip64 || entry.size >= zip::kSaturated32 - (1u << 20)) ? 1 : 0;
    Check(zipOpenNewFileInZip4_64(zip.get(), entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                  nullptr, deflated ? Z_DEFLATED : 0, level, 1, -MAX_WBITS, 8,
                                  Z_DEFAULT_STRATEGY, nullptr, 0, 0, flags, zip64),
          "cannot add " + entry.name);
    if (!entry.directory) {
      EntrySink sink(zip.get(), entry, options, compressed.crc);
      if (compressed.stored) {
        WriteStoredData(sink, entry, compressed.crc, buffer, advance);
      } else {
        compressed.data.Replay([&](uint8_t* bytes, size_t count) { sink.Put(bytes, count); });
        compressed.data.Clear();
        advance(entry.size);
      }
    }
    Check(zipCloseFileInZipRaw64(zip.get(), entry.size, compressed.crc),
          "cannot finish " + entry.name);
  });
  const int closed = zipClose(zip.release(), nullptr);
  Check(closed, "cannot finish the archive " + output.string());
  if (std::find(patch.begin(), patch.end(), true) != patch.end())
    SetNewerMethods(output, patch, newerMethod);
}

}  // namespace upkpack
