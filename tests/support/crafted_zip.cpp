#include "crafted_zip.h"
#include <zlib.h>
#include <stdexcept>
#include "test_support.h"

namespace upktest {

void PutLe16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>(v >> 8);
}

void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, static_cast<uint16_t>(v & 0xffff));
  PutLe16(out, static_cast<uint16_t>(v >> 16));
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
  if (withSignature) PutLe32(d, 0x08074B50);
  PutLe32(d, crc);
  PutLe32(d, compressed);
  PutLe32(d, uncompressed);
  return d;
}

std::string CraftedZip::BuildAndLayout() {
  std::string out;
  localOffsets.clear();
  for (const CraftedEntry& e : entries) {
    localOffsets.push_back(static_cast<uint32_t>(out.size()));
    const std::string& localName = e.localName ? *e.localName : e.name;
    PutLe32(out, 0x04034B50);
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.localFlags.value_or(e.flags));
    PutLe16(out, e.localMethod.value_or(e.method));
    PutLe16(out, e.dosTime);
    PutLe16(out, e.dosDate);
    PutLe32(out, e.localCrc.value_or(e.crc));
    PutLe32(out, e.localCompressed.value_or(e.compressedSize));
    PutLe32(out, e.localUncompressed.value_or(e.uncompressedSize));
    PutLe16(out, e.localNameLength.value_or(static_cast<uint16_t>(localName.size())));
    PutLe16(out, static_cast<uint16_t>(e.localExtra.size()));
    out += localName;
    out += e.localExtra;
    out += e.data;
    out += e.afterData;
  }
  centralOffset = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& e = entries[i];
    PutLe32(out, 0x02014B50);
    PutLe16(out, e.versionMadeBy);
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.flags);
    PutLe16(out, e.method);
    PutLe16(out, e.dosTime);
    PutLe16(out, e.dosDate);
    PutLe32(out, e.crc);
    PutLe32(out, e.compressedSize);
    PutLe32(out, e.uncompressedSize);
    PutLe16(out, static_cast<uint16_t>(e.name.size()));
    PutLe16(out, static_cast<uint16_t>(e.extra.size()));
    PutLe16(out, static_cast<uint16_t>(e.comment.size()));
    PutLe16(out, e.diskNumberStart);
    PutLe16(out, 0);
    PutLe32(out, e.externalAttributes);
    PutLe32(out, localOffsets[i]);
    out += e.name;
    out += e.extra;
    out += e.comment;
  }
  endOffset = static_cast<uint32_t>(out.size());
  uint16_t count = static_cast<uint16_t>(entries.size());
  PutLe32(out, 0x06054B50);
  PutLe16(out, thisVolume.value_or(0));
  PutLe16(out, directoryVolume.value_or(0));
  PutLe16(out, entriesOnVolume.value_or(count));
  PutLe16(out, entriesTotal.value_or(count));
  PutLe32(out, directorySize.value_or(endOffset - centralOffset));
  PutLe32(out, directoryOffset.value_or(centralOffset));
  PutLe16(out, commentLength.value_or(static_cast<uint16_t>(comment.size())));
  out += comment;
  out += trailer;
  return prefix + out;
}

std::string CraftedZip::Build() const {
  CraftedZip copy = *this;
  return copy.BuildAndLayout();
}

}  // namespace upktest
