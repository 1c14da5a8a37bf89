#include "crafted_zip.h"
#include <zlib.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include "test_support.h"

namespace upktest {

void PutLe16(std::string& out, uint16_t v) { AppendLe16(out, v); }
void PutLe32(std::string& out, uint32_t v) { AppendLe32(out, v); }

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
  e.method = 0;
  e.crc = Crc32(data);
  e.compressedSize = static_cast<uint32_t>(data.size());
  e.uncompressedSize = static_cast<uint32_t>(data.size());
  return e;
}

CraftedEntry DeflatedEntry(const std::string& name, const std::string& data) {
  CraftedEntry e = StoredEntry(name, data);
  e.method = 8;
  e.data = RawDeflate(data);
  e.compressedSize = static_cast<uint32_t>(e.data.size());
  return e;
}

std::string DataDescriptor(uint32_t crc, uint32_t compressed, uint32_t uncompressed,
                           bool withSignature) {
  std::string d;
  if (withSignature) PutLe32(d, zip::kDataDescriptorSignature);
  PutLe32(d, crc);
  PutLe32(d, compressed);
  PutLe32(d, uncompressed);
  return d;
}

std::string Zip64DataDescriptor(uint32_t crc, uint64_t compressed, uint64_t uncompressed,
                                bool withSignature) {
  std::string d;
  if (withSignature) PutLe32(d, zip::kDataDescriptorSignature);
  PutLe32(d, crc);
  AppendLe64(d, compressed);
  AppendLe64(d, uncompressed);
  return d;
}

std::string Zip64ExtraBlock(const std::vector<uint64_t>& values) {
  std::string block;
  PutLe16(block, zip::kExtraZip64);
  PutLe16(block, static_cast<uint16_t>(8 * values.size()));
  for (uint64_t v : values) AppendLe64(block, v);
  return block;
}

std::string CraftedZip::BuildAndLayout() {
  const auto put32 = [this](std::string& out, uint64_t v) {
    PutLe32(out, zip64 ? zip::kSaturated32 : static_cast<uint32_t>(v));
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
    PutLe32(out, zip::kLocalHeaderSignature);
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.localFlags.value_or(e.flags));
    PutLe16(out, e.localMethod.value_or(e.method));
    PutLe16(out, e.dosTime);
    PutLe16(out, e.dosDate);
    PutLe32(out, e.localCrc.value_or(e.crc));
    put32(out, e.localCompressed.value_or(e.compressedSize));
    put32(out, e.localUncompressed.value_or(e.uncompressedSize));
    PutLe16(out, e.localNameLength.value_or(static_cast<uint16_t>(localName.size())));
    PutLe16(out, static_cast<uint16_t>(localExtra.size()));
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
    PutLe32(out, zip::kCentralHeaderSignature);
    PutLe16(out, e.versionMadeBy);
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.flags);
    PutLe16(out, e.method);
    PutLe16(out, e.dosTime);
    PutLe16(out, e.dosDate);
    PutLe32(out, e.crc);
    put32(out, e.compressedSize);
    put32(out, e.uncompressedSize);
    PutLe16(out, static_cast<uint16_t>(e.name.size()));
    PutLe16(out, static_cast<uint16_t>(extra.size()));
    PutLe16(out, static_cast<uint16_t>(e.comment.size()));
    PutLe16(out, e.diskNumberStart);
    PutLe16(out, 0);
    PutLe32(out, e.externalAttributes);
    put32(out, localOffsets[i]);
    out += e.name;
    out += extra;
    out += e.comment;
  }
  const uint64_t directoryBytes = out.size() - centralOffset;
  if (zip64) {
    const uint64_t recordAt = out.size() + gapBeforeDirectory;
    PutLe32(out, zip::kZip64EndRecordSignature);
    AppendLe64(out, zip::kZip64EndRecordSize - zip::kZip64EndRecordLead);
    PutLe16(out, zip::kVersionZip64);
    PutLe16(out, zip::kVersionZip64);
    PutLe32(out, thisVolume.value_or(0));
    PutLe32(out, directoryVolume.value_or(0));
    AppendLe64(out, zip64EntriesTotal.value_or(entries.size()));
    AppendLe64(out, zip64EntriesTotal.value_or(entries.size()));
    AppendLe64(out, directoryBytes);
    AppendLe64(out, zip64DirectoryOffset.value_or(directoryAt));
    if (zip64Locator) {
      PutLe32(out, zip::kZip64LocatorSignature);
      PutLe32(out, 0);
      AppendLe64(out, zip64RecordOffset.value_or(recordAt));
      PutLe32(out, 1);
    }
  }
  endOffset = out.size() + gapBeforeDirectory;
  const uint16_t count =
      zip64 ? zip::kSaturated16 : static_cast<uint16_t>(entries.size());
  PutLe32(out, zip::kEndRecordSignature);
  PutLe16(out, thisVolume.value_or(0));
  PutLe16(out, directoryVolume.value_or(0));
  PutLe16(out, entriesOnVolume.value_or(count));
  PutLe16(out, entriesTotal.value_or(count));
  PutLe32(out, directorySize.value_or(zip64 ? zip::kSaturated32 : static_cast<uint32_t>(directoryBytes)));
  PutLe32(out, directoryOffset.value_or(zip64 ? zip::kSaturated32 : static_cast<uint32_t>(directoryAt)));
  PutLe16(out, commentLength.value_or(static_cast<uint16_t>(comment.size())));
  out += comment;
  out += trailer;
  return prefix + out;
}

void WriteWithGap(const std::string& path, const CraftedZip& zip) {
  CraftedZip copy = zip;
  const std::string bytes = copy.BuildAndLayout();
  const size_t at = zip.prefix.size() + static_cast<size_t>(copy.centralOffset);
  WriteFile(path, bytes.substr(0, at));
  std::filesystem::resize_file(path, at + zip.gapBeforeDirectory);
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data() + at, static_cast<std::streamsize>(bytes.size() - at));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string CraftedZip::Build() const {
  CraftedZip copy = *this;
  return copy.BuildAndLayout();
}

}  // namespace upktest
