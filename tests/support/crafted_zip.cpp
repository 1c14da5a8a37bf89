#include "crafted_zip.h"
#include <zlib.h>
#include <stdexcept>
#include "test_support.h"

namespace upktest {

std::string Signature(uint32_t signature) {
  std::string bytes;
  AppendLe32(bytes, signature);
  return bytes;
}

// Deflate blocks that do not end the stream, so that damage can follow.
std::string OpenDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FULL_FLUSH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string RawDeflate(const std::string& data) {
  z_stream s{};
  if (deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&s, data.size()) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

CraftedEntry StoredEntry(const std::string& name, const std::string& data) {
  CraftedEntry e;
  e.name = name;
  e.data = data;
  e.method = zip::kMethodStored;
  e.crc = Crc32(data);
  e.compressedSize = static_cast<uint32_t>(data.size());
  e.uncompressedSize = static_cast<uint32_t>(data.size());
  return e;
}

CraftedEntry DeflatedEntry(const std::string& name, const std::string& data) {
  CraftedEntry e = StoredEntry(name, data);
  e.method = zip::kMethodDeflated;
  e.data = RawDeflate(data);
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  return e;
}

std::string DataDescriptor(uint32_t crc, uint32_t compressed, uint32_t uncompressed,
                           bool withSignature) {
  std::string d;
  if (withSignature) AppendLe32(d, zip::kDataDescriptorSignature);
  AppendLe32(d, crc);
  AppendLe32(d, compressed);
  AppendLe32(d, uncompressed);
  return d;
}

std::string Zip64DataDescriptor(uint32_t crc, uint64_t compressed, uint64_t uncompressed,
                                bool withSignature) {
  std::string d;
  if (withSignature) AppendLe32(d, zip::kDataDescriptorSignature);
  AppendLe32(d, crc);
  AppendLe64(d, compressed);
  AppendLe64(d, uncompressed);
  return d;
}

std::string Zip64ExtraBlock(const std::vector<uint64_t>& values) {
  std::string block;
  AppendLe16(block, zip::kExtraZip64);
  AppendLe16(block, static_cast<uint16_t>(8 * values.size()));
  for (uint64_t v : values) AppendLe64(block, v);
  return block;
}

std::string CraftedZip::BuildAndLayout() {
  const auto put32 = [this](std::string& out, uint64_t v) {
    AppendLe32(out, zip64 ? zip::kSaturated32 : static_cast<uint32_t>(v));
  };
  std::string out;
  localOffsets.clear();
  for (const CraftedEntry& e : entries) {
    localOffsets.push_back(out.size());
    const std::string& localName = e.localName ? *e.localName : e.name;
    std::string localExtra = e.localExtra;
    if (zip64)
      localExtra = e.localZip64Extra.value_or(
                       Zip64ExtraBlock({e.localUncompressed.value_or(e.uncompressedSize),
                                        e.localCompressed.value_or(e.compressedSize)})) +
                   localExtra;
    AppendLe32(out, zip::kLocalHeaderSignature);
    AppendLe16(out, e.versionNeeded);
    AppendLe16(out, e.localFlags.value_or(e.flags));
    AppendLe16(out, e.localMethod.value_or(e.method));
    AppendLe16(out, e.dosTime);
    AppendLe16(out, e.dosDate);
    AppendLe32(out, e.localCrc.value_or(e.crc));
    put32(out, e.localCompressed.value_or(e.compressedSize));
    put32(out, e.localUncompressed.value_or(e.uncompressedSize));
    AppendLe16(out, e.localNameLength.value_or(static_cast<uint16_t>(localName.size())));
    AppendLe16(out, static_cast<uint16_t>(localExtra.size()));
    out += localName;
    out += localExtra;
    out += e.data;
    out += e.afterData;
  }
  centralOffset = out.size();
  const uint64_t directoryAt = centralOffset + gapBeforeDirectory;
  for (size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& e = entries[i];
    std::string extra = e.extra;
    if (zip64)
      extra = e.zip64Extra.value_or(
                  Zip64ExtraBlock({e.uncompressedSize, e.compressedSize, localOffsets[i]})) +
              extra;
    AppendLe32(out, zip::kCentralHeaderSignature);
    AppendLe16(out, e.versionMadeBy);
    AppendLe16(out, e.versionNeeded);
    AppendLe16(out, e.flags);
    AppendLe16(out, e.method);
    AppendLe16(out, e.dosTime);
    AppendLe16(out, e.dosDate);
    AppendLe32(out, e.crc);
    put32(out, e.compressedSize);
    put32(out, e.uncompressedSize);
    AppendLe16(out, static_cast<uint16_t>(e.name.size()));
    AppendLe16(out, static_cast<uint16_t>(extra.size()));
    AppendLe16(out, static_cast<uint16_t>(e.comment.size()));
    AppendLe16(out, e.diskNumberStart);
    AppendLe16(out, 0);
    AppendLe32(out, e.externalAttributes);
    put32(out, localOffsets[i]);
    out += e.name;
    out += extra;
    out += e.comment;
  }
  const uint64_t directoryBytes = out.size() - centralOffset;
  if (zip64) {
    const uint64_t recordAt = out.size() + gapBeforeDirectory;
    AppendLe32(out, zip::kZip64EndRecordSignature);
    AppendLe64(out, zip::kZip64EndRecordSize - zip::kZip64EndRecordLead);
    AppendLe16(out, zip::kVersionZip64);
    AppendLe16(out, zip::kVersionZip64);
    AppendLe32(out, thisVolume.value_or(0));
    AppendLe32(out, directoryVolume.value_or(0));
    AppendLe64(out, zip64EntriesTotal.value_or(entries.size()));
    AppendLe64(out, zip64EntriesTotal.value_or(entries.size()));
    AppendLe64(out, directoryBytes);
    AppendLe64(out, zip64DirectoryOffset.value_or(directoryAt));
    if (zip64Locator) {
      AppendLe32(out, zip::kZip64LocatorSignature);
      AppendLe32(out, 0);
      AppendLe64(out, zip64RecordOffset.value_or(recordAt));
      AppendLe32(out, 1);
    }
  }
  endOffset = out.size() + gapBeforeDirectory;
  const uint16_t count =
      zip64 ? zip::kSaturated16 : static_cast<uint16_t>(entries.size());
  AppendLe32(out, zip::kEndRecordSignature);
  AppendLe16(out, thisVolume.value_or(0));
  AppendLe16(out, directoryVolume.value_or(0));
  AppendLe16(out, entriesOnVolume.value_or(count));
  AppendLe16(out, entriesTotal.value_or(count));
  AppendLe32(out, directorySize.value_or(zip64 ? zip::kSaturated32 : static_cast<uint32_t>(directoryBytes)));
  AppendLe32(out, directoryOffset.value_or(zip64 ? zip::kSaturated32 : static_cast<uint32_t>(directoryAt)));
  AppendLe16(out, commentLength.value_or(static_cast<uint16_t>(comment.size())));
  out += comment;
  out += trailer;
  return prefix + out;
}

std::string CraftedZip::Build() const {
  CraftedZip copy = *this;
  return copy.BuildAndLayout();
}

}  // namespace upktest
