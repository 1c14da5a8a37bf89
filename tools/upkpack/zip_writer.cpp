#include "zip_writer.h"

#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>

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

std::ifstream OpenSource(const ZipSource& entry) {
  std::ifstream in(entry.source, std::ios::binary);
  if (!in) throw PackError("cannot read " + entry.source.string());
  return in;
}

// The encryption header's check byte is taken from the CRC-32, which must
// therefore be known before the data is written.
uint32_t FileCrc(const ZipSource& entry, std::vector<char>& buffer) {
  std::ifstream in = OpenSource(entry);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(got));
    total += got;
  }
  if (in.bad()) throw PackError("cannot read " + entry.source.string());
  if (total != entry.size) throw PackError("file changed while packing: " + entry.source.string());
  return static_cast<uint32_t>(crc);
}

void Check(int result, const std::string& what) {
  if (result != ZIP_OK) throw PackError(what + " (minizip error " + std::to_string(result) + ")");
}

// Raw deflate (no zlib header), as entries carry it.
class RawDeflater {
 public:
  RawDeflater() {
    if (deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw PackError("cannot start deflate");
    }
  }
  ~RawDeflater() { deflateEnd(&m_stream); }
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  // Compresses the input and hands every piece of output to sink.
  template <typename Sink>
  void Feed(const char* data, size_t count, bool last, Sink&& sink) {
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    m_stream.avail_in = static_cast<uInt>(count);
    int result = Z_OK;
    do {
      m_stream.next_out = m_out;
      m_stream.avail_out = sizeof m_out;
      result = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) throw PackError("deflate failed");
      sink(m_out, sizeof m_out - m_stream.avail_out);
    } while (m_stream.avail_out == 0 || (last && result != Z_STREAM_END));
  }

 private:
  z_stream m_stream{};
  Bytef m_out[1 << 16];
};

// An encrypted entry: minizip takes the data raw, and this side deflates,
// encrypts and prefixes the encryption header.
void WriteEncryptedData(zipFile zip, const ZipSource& entry, const ZipWriteOptions& options,
                        uint32_t crc, std::vector<char>& buffer, uint64_t& done, uint64_t total) {
  PkwareEncryptor encryptor(options.password);
  auto header = options.fixedTime
                    ? encryptor.MakeHeader(crc, PkwareEncryptor::DerivedFiller(
                                                    options.password, entry.name, crc))
                    : encryptor.MakeHeader(crc);
  Check(zipWriteInFileInZip(zip, header.data(), static_cast<unsigned>(header.size())),
        "cannot write " + entry.name);
  auto sink = [&](Bytef* bytes, size_t count) {
    if (count == 0) return;
    encryptor.Encrypt(bytes, count);
    Check(zipWriteInFileInZip(zip, bytes, static_cast<unsigned>(count)),
          "cannot write " + entry.name);
  };
  std::unique_ptr<RawDeflater> deflater;
  if (!options.store) deflater = std::make_unique<RawDeflater>();

  std::ifstream in = OpenSource(entry);
  uint64_t written = 0;
  bool last = false;
  while (!last) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    last = got < buffer.size();
    if (deflater) {
      deflater->Feed(buffer.data(), got, last, sink);
    } else {
      sink(reinterpret_cast<Bytef*>(buffer.data()), got);
    }
    written += got;
    done += got;
    if (options.progress) options.progress(done, total);
  }
  if (in.bad()) throw PackError("cannot read " + entry.source.string());
  if (written != entry.size) throw PackError("file changed while packing: " + entry.source.string());
  Check(zipCloseFileInZipRaw64(zip, entry.size, crc),
        "cannot finish " + entry.name);
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

  std::vector<char> buffer(kChunk);
  uint64_t done = 0;
  for (const ZipSource& entry : entries) {
    zip_fileinfo info{};
    info.tmz_date = ModificationTime(entry.source, options.fixedTime);
    info.external_fa = entry.directory ? zip::kDosDirectory : zip::kDosArchive;

    const bool encrypt = !entry.directory && !options.password.empty();
    const bool deflate = !entry.directory && !options.store;
    // Deflate can grow incompressible data a little, so the limit leaves
    // room; offsets past 4 GiB get their ZIP64 fields from minizip anyway.
    const int zip64 =
        !entry.directory && (options.zip64 || entry.size >= zip::kSaturated32 - (1u << 20)) ? 1 : 0;
    if (encrypt) {
      const uint32_t crc = FileCrc(entry, buffer);
      // Raw, flagged as encrypted (flag base 1); made by MS-DOS (0) as usual.
      Check(zipOpenNewFileInZip4_64(zip.get(), entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                    nullptr, deflate ? Z_DEFLATED : 0,
                                    deflate ? Z_DEFAULT_COMPRESSION : 0, 1, -MAX_WBITS, 8,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                    zip::kFlagEncrypted | NameFlag(entry), zip64),
            "cannot add " + entry.name);
      WriteEncryptedData(zip.get(), entry, options, crc, buffer, done, total);
      continue;
    }
    Check(zipOpenNewFileInZip4_64(zip.get(), entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                  nullptr, deflate ? Z_DEFLATED : 0,
                                  deflate ? Z_DEFAULT_COMPRESSION : 0, 0, -MAX_WBITS, 8,
                                  Z_DEFAULT_STRATEGY, nullptr, 0, 0, NameFlag(entry), zip64),
          "cannot add " + entry.name);

    if (!entry.directory) {
      std::ifstream in = OpenSource(entry);
      uint64_t written = 0;
      while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<unsigned>(in.gcount());
        if (got == 0) break;
        Check(zipWriteInFileInZip(zip.get(), buffer.data(), got), "cannot write " + entry.name);
        written += got;
        done += got;
        if (options.progress) options.progress(done, total);
      }
      if (in.bad()) throw PackError("cannot read " + entry.source.string());
      if (written != entry.size) {
        throw PackError("file changed while packing: " + entry.source.string());
      }
    }
    Check(zipCloseFileInZip(zip.get()), "cannot finish " + entry.name);
  }
  const int closed = zipClose(zip.release(), nullptr);
  Check(closed, "cannot finish the archive " + output.string());
}

}  // namespace upkpack
