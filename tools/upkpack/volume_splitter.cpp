#include "volume_splitter.h"

#include <algorithm>
#include <fstream>
#include <numeric>
#include <optional>

#include "pack_error.h"
#include "upk4/zip_format.h"

namespace upkpack {

namespace fs = std::filesystem;

namespace {


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
  uint64_t localOffset = 0;
  // Where the offset is written: the header's own field, and the ZIP64
  // extra field's when the header's holds all ones.
  size_t zip64OffsetAt = 0;  // 0: none
};

// The directory's place and size from the end record, or from the ZIP64 end
// record before it when the archive needed one.
struct DirectoryPlace {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
};

DirectoryPlace ReadDirectoryPlace(SourceArchive& source, uint64_t size, const fs::path& archive) {
  // The archive was written here, without a comment: the end record ends it.
  const std::vector<uint8_t> end = source.Read(size - zip::kEndRecordSize, zip::kEndRecordSize);
  ByteCursor e(end.data(), end.size());
  if (e.U32() != zip::kEndRecordSignature || GetLe16(end.data() + 20) != 0) {
    throw PackError("archive to split has no plain end record: " + archive.string());
  }
  e.Skip(4);  // volume numbers: 0 in a one-file archive
  e.Skip(2);
  DirectoryPlace place;
  place.entries = e.U16();
  place.size = e.U32();
  place.offset = e.U32();
  const uint64_t locatorAt = size - zip::kEndRecordSize - zip::kZip64LocatorSize;
  if (size < zip::kEndRecordSize + zip::kZip64LocatorSize + zip::kZip64EndRecordSize) return place;
  const std::vector<uint8_t> locator = source.Read(locatorAt, zip::kZip64LocatorSize);
  if (GetLe32(locator.data()) != zip::kZip64LocatorSignature) return place;
  const std::vector<uint8_t> record =
      source.Read(GetLe64(locator.data() + 8), zip::kZip64EndRecordSize);
  ByteCursor r(record.data(), record.size());
  if (r.U32() != zip::kZip64EndRecordSignature) {
    throw PackError("archive to split has a damaged ZIP64 end record: " + archive.string());
  }
  r.Skip(8 + 2 + 2 + 4 + 4 + 8);  // size, versions, volumes, entries on this volume
  place.entries = r.U64();
  place.size = r.U64();
  place.offset = r.U64();
  return place;
}

// The central header at the cursor, whole, with its local header offset.
CentralHeader ReadCentralHeader(ByteCursor& directory, const fs::path& archive) {
  const uint8_t* start = directory.Here();
  ByteCursor fixed = directory.Sub(zip::kCentralHeaderSize);
  if (!directory.Ok() || fixed.U32() != zip::kCentralHeaderSignature) {
    throw PackError("archive to split has a damaged directory: " + archive.string());
  }
  fixed.Skip(16);
  const uint32_t compressed = fixed.U32();
  const uint32_t uncompressed = fixed.U32();
  const uint16_t nameLength = fixed.U16();
  const uint16_t extraLength = fixed.U16();
  const uint16_t commentLength = fixed.U16();
  fixed.Skip(8);
  CentralHeader header;
  header.localOffset = fixed.U32();
  directory.Skip(nameLength);
  const uint8_t* extra = directory.Here();
  directory.Skip(extraLength);
  directory.Skip(commentLength);
  if (!directory.Ok()) throw PackError("archive to split has a damaged directory: " + archive.string());
  header.bytes.assign(start, directory.Here());
  if (header.localOffset == zip::kSaturated32) {
    std::optional<ByteCursor> block = zip::FindExtraBlock(extra, extraLength, zip::kExtraZip64);
    if (block) {
      if (uncompressed == zip::kSaturated32) block->Skip(8);
      if (compressed == zip::kSaturated32) block->Skip(8);
      header.zip64OffsetAt = static_cast<size_t>(block->Here() - start);
      header.localOffset = block->U64();
    }
    if (!block || !block->Ok()) {
      throw PackError("archive to split has a damaged ZIP64 extra field: " + archive.string());
    }
  }
  return header;
}

}  // namespace

std::vector<fs::path> SplitArchive(const fs::path& archive, uint64_t volumeSize,
                                   const fs::path& directory, const VolumeNamer& volumeName) {
  if (volumeSize > zip::kSaturated32) throw PackError("volume size is too large (4 GiB at most)");
  SourceArchive source(archive);
  const uint64_t size = source.Size();
  if (size < zip::kEndRecordSize) throw PackError("archive to split is damaged: " + archive.string());
  const DirectoryPlace place = ReadDirectoryPlace(source, size, archive);
  if (place.entries > zip::kMaxEntries || place.size > size) {
    throw PackError("archive to split has a damaged directory: " + archive.string());
  }
  const std::vector<uint8_t> directoryBytes = source.Read(place.offset, static_cast<size_t>(place.size));

  std::vector<CentralHeader> headers;
  ByteCursor cursor(directoryBytes.data(), directoryBytes.size());
  for (uint64_t i = 0; i < place.entries; ++i) headers.push_back(ReadCentralHeader(cursor, archive));

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
    const uint64_t offset = headers[i].localOffset;
    const uint64_t next = k + 1 < order.size() ? headers[order[k + 1]].localOffset : place.offset;
    const std::vector<uint8_t> fixed = source.Read(offset, zip::kLocalHeaderSize);
    if (GetLe32(fixed.data()) != zip::kLocalHeaderSignature) {
      throw PackError("archive to split has a damaged entry: " + archive.string());
    }
    const size_t recordLength =
        zip::kLocalHeaderSize + GetLe16(fixed.data() + 26) + GetLe16(fixed.data() + 28);
    if (offset + recordLength > next) {
      throw PackError("archive to split has a damaged entry: " + archive.string());
    }
    const std::vector<uint8_t> record = source.Read(offset, recordLength);
    placed[i] = writer.WriteRecord(record, "a local header");
    source.Stream().seekg(static_cast<std::streamoff>(offset + recordLength));
    writer.CopyData(source.Stream(), next - offset - recordLength);
  }

  Position directoryStart;
  uint64_t directorySize = 0;
  std::vector<uint32_t> headerVolume(headers.size());
  for (size_t i = 0; i < headers.size(); ++i) {
    std::vector<uint8_t>& h = headers[i].bytes;
    // Offsets within a volume fit 32 bits; a ZIP64 field gets the same value.
    PutLe16(h.data() + 34, static_cast<uint16_t>(placed[i].volume));
    PutLe32(h.data() + 42, placed[i].offset);
    if (headers[i].zip64OffsetAt != 0) PutLe64(h.data() + headers[i].zip64OffsetAt, placed[i].offset);
    const Position at = writer.WriteRecord(h, "a central header");
    if (i == 0) directoryStart = at;
    headerVolume[i] = at.volume;
    directorySize += h.size();
  }

  const Position endAt = writer.Place(zip::kEndRecordSize, "the end record");
  if (headers.empty()) directoryStart = endAt;
  const auto onLast = static_cast<uint32_t>(
      std::count(headerVolume.begin(), headerVolume.end(), endAt.volume));
  std::vector<uint8_t> record(zip::kEndRecordSize, 0);
  PutLe32(record.data(), zip::kEndRecordSignature);
  PutLe16(record.data() + 4, static_cast<uint16_t>(endAt.volume));
  PutLe16(record.data() + 6, static_cast<uint16_t>(directoryStart.volume));
  PutLe16(record.data() + 8, static_cast<uint16_t>(onLast));
  PutLe16(record.data() + 10, static_cast<uint16_t>(headers.size()));
  PutLe32(record.data() + 12, static_cast<uint32_t>(directorySize));
  PutLe32(record.data() + 16, directoryStart.offset);
  writer.WriteRecord(record, "the end record");
  return writer.Finish(volumeName);
}

}  // namespace upkpack
