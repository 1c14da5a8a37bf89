#include "volume_splitter.h"

#include <algorithm>
#include <fstream>
#include <numeric>

#include "pack_error.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

class SourceArchive {
 public:
  explicit SourceArchive(const fs::path& path) : m_path(path), m_in(path, std::ios::binary) {
    if (!m_in) throw PackError("cannot read " + path.string());
  }
  std::vector<uint8_t> Read(uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    m_in.seekg(static_cast<std::streamoff>(offset));
    m_in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (static_cast<size_t>(m_in.gcount()) != count) {
      throw PackError("archive to split is damaged: " + m_path.string());
    }
    return bytes;
  }
  std::ifstream& Stream() { return m_in; }
  uint64_t Size() { return fs::file_size(m_path); }

 private:
  fs::path m_path;
  std::ifstream m_in;
};

struct Position {
  uint32_t volume = 0;
  uint32_t offset = 0;
};

// Writes consecutive volumes under temporary names; Finish gives them their
// final names once it is known which one is last.
class VolumeWriter {
 public:
  VolumeWriter(fs::path directory, uint64_t volumeSize)
      : m_directory(std::move(directory)), m_size(volumeSize) {
    Start();
  }

  // Where a record of this length goes: here, or at the start of a new
  // volume when it would straddle.
  Position Place(size_t length, const std::string& what) {
    if (length > m_size) {
      throw PackError("volume size " + std::to_string(m_size) + " is too small for " + what);
    }
    if (m_position + length > m_size) Start();
    return {m_volume, static_cast<uint32_t>(m_position)};
  }

  Position WriteRecord(const std::vector<uint8_t>& bytes, const std::string& what) {
    const Position at = Place(bytes.size(), what);
    Write(bytes.data(), bytes.size());
    return at;
  }

  void CopyData(std::ifstream& in, uint64_t count) {
    std::vector<char> buffer(1 << 20);
    while (count > 0) {
      if (m_position == m_size) Start();
      const uint64_t room = std::min<uint64_t>(m_size - m_position, count);
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(room, buffer.size()));
      in.read(buffer.data(), static_cast<std::streamsize>(chunk));
      if (static_cast<size_t>(in.gcount()) != chunk) throw PackError("archive to split ends early");
      Write(buffer.data(), chunk);
      count -= chunk;
    }
  }

  uint32_t CurrentVolume() const { return m_volume; }

  std::vector<fs::path> Finish(const VolumeNamer& volumeName) {
    Close();
    const size_t last = m_temporary.size() - 1;
    std::vector<fs::path> finals;
    for (size_t k = 0; k <= last; ++k) {
      const uint32_t number = k == last ? 1 : static_cast<uint32_t>(k + 2);
      finals.push_back(m_directory / volumeName(number));
    }
    for (size_t k = 0; k <= last; ++k) {
      std::error_code ec;
      fs::rename(m_temporary[k], finals[k], ec);
      if (ec) throw PackError("cannot name the volume " + finals[k].string() + ": " + ec.message());
    }
    return finals;
  }

 private:
  void Start() {
    if (!m_temporary.empty()) {
      Close();
      ++m_volume;
      if (m_volume > 0xFFFE) throw PackError("more than 65535 volumes; choose a larger size");
    }
    m_temporary.push_back(m_directory / (".volume-" + std::to_string(m_temporary.size())));
    m_out.open(m_temporary.back(), std::ios::binary | std::ios::trunc);
    if (!m_out) throw PackError("cannot create " + m_temporary.back().string());
    m_position = 0;
  }
  void Close() {
    m_out.close();
    if (!m_out) throw PackError("cannot write " + m_temporary.back().string());
  }
  void Write(const void* bytes, size_t count) {
    m_out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    if (!m_out) throw PackError("cannot write " + m_temporary.back().string());
    m_position += count;
  }

  fs::path m_directory;
  uint64_t m_size;
  std::vector<fs::path> m_temporary;
  std::ofstream m_out;
  uint32_t m_volume = 0;
  uint64_t m_position = 0;
};

struct CentralHeader {
  std::vector<uint8_t> bytes;
  uint32_t localOffset = 0;
};

}  // namespace

std::vector<fs::path> SplitArchive(const fs::path& archive, uint64_t volumeSize,
                                   const fs::path& directory, const VolumeNamer& volumeName) {
  if (volumeSize > 0xFFFFFFFFu) throw PackError("volume size is too large (4 GiB at most)");
  SourceArchive source(archive);
  const uint64_t size = source.Size();
  if (size < kEndSize) throw PackError("archive to split is damaged: " + archive.string());

  // The archive was written here, without a comment: the end record ends it.
  const std::vector<uint8_t> end = source.Read(size - kEndSize, kEndSize);
  if (Get32(end.data()) != kEndSignature || Get16(end.data() + 20) != 0) {
    throw PackError("archive to split has no plain end record: " + archive.string());
  }
  const uint16_t total = Get16(end.data() + 10);
  const uint32_t cdSize = Get32(end.data() + 12);
  const uint32_t cdOffset = Get32(end.data() + 16);
  const std::vector<uint8_t> directoryBytes = source.Read(cdOffset, cdSize);

  std::vector<CentralHeader> headers;
  for (size_t at = 0, i = 0; i < total; ++i) {
    if (at + kCentralSize > directoryBytes.size() ||
        Get32(directoryBytes.data() + at) != kCentralSignature) {
      throw PackError("archive to split has a damaged directory: " + archive.string());
    }
    const uint8_t* h = directoryBytes.data() + at;
    const size_t length = kCentralSize + Get16(h + 28) + Get16(h + 30) + Get16(h + 32);
    if (at + length > directoryBytes.size()) {
      throw PackError("archive to split has a damaged directory: " + archive.string());
    }
    headers.push_back({std::vector<uint8_t>(h, h + length), Get32(h + 42)});
    at += length;
  }

  // Entries in file order; each runs from its local header to the next one
  // (or to the central directory).
  std::vector<size_t> order(headers.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return headers[a].localOffset < headers[b].localOffset; });

  VolumeWriter writer(directory, volumeSize);
  std::vector<Position> placed(headers.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    const uint32_t offset = headers[i].localOffset;
    const uint64_t next = k + 1 < order.size() ? headers[order[k + 1]].localOffset : cdOffset;
    const std::vector<uint8_t> fixed = source.Read(offset, kLocalSize);
    if (Get32(fixed.data()) != kLocalSignature) {
      throw PackError("archive to split has a damaged entry: " + archive.string());
    }
    const size_t recordLength = kLocalSize + Get16(fixed.data() + 26) + Get16(fixed.data() + 28);
    if (offset + recordLength > next) {
      throw PackError("archive to split has a damaged entry: " + archive.string());
    }
    const std::vector<uint8_t> record = source.Read(offset, recordLength);
    placed[i] = writer.WriteRecord(record, "a local header");
    source.Stream().seekg(static_cast<std::streamoff>(offset + recordLength));
    writer.CopyData(source.Stream(), next - offset - recordLength);
  }

  Position directoryStart;
  std::vector<uint32_t> headerVolume(headers.size());
  for (size_t i = 0; i < headers.size(); ++i) {
    std::vector<uint8_t>& h = headers[i].bytes;
    Put16(h.data() + 34, placed[i].volume);
    Put32(h.data() + 42, placed[i].offset);
    const Position at = writer.WriteRecord(h, "a central header");
    if (i == 0) directoryStart = at;
    headerVolume[i] = at.volume;
  }

  const Position endAt = writer.Place(kEndSize, "the end record");
  if (headers.empty()) directoryStart = endAt;
  const auto onLast = static_cast<uint32_t>(
      std::count(headerVolume.begin(), headerVolume.end(), endAt.volume));
  std::vector<uint8_t> record(kEndSize, 0);
  Put32(record.data(), kEndSignature);
  Put16(record.data() + 4, endAt.volume);
  Put16(record.data() + 6, directoryStart.volume);
  Put16(record.data() + 8, onLast);
  Put16(record.data() + 10, total);
  Put32(record.data() + 12, cdSize);
  Put32(record.data() + 16, directoryStart.offset);
  writer.WriteRecord(record, "the end record");
  return writer.Finish(volumeName);
}

}  // namespace upkpack
