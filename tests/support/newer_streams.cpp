#include "newer_streams.h"

#include <lzma.h>
#include <zstd.h>

#include <stdexcept>

#include "test_support.h"

namespace upktest {

namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

}  // namespace

std::string ZstdFrame(const std::string& data, int level) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level);
  if (ZSTD_isError(n)) throw std::runtime_error("ZSTD_compress failed");
  out.resize(n);
  return out;
}

std::string SkippableFrame(const std::string& payload) {
  return Le32(0x184D2A50) + Le32(static_cast<uint32_t>(payload.size())) + payload;
}

std::string ZstdRawFrame(const std::string& data, unsigned windowLog) {
  // Frame header descriptor 0: no content size, not single-segment, no
  // checksum, no dictionary; the window descriptor's exponent alone.
  std::string frame = Le32(0xFD2FB528);
  frame += '\0';
  frame += static_cast<char>((windowLog - 10) << 3);
  // One block: last, raw, of data's size.
  const uint32_t header = static_cast<uint32_t>(data.size()) << 3 | 1;
  frame += Le32(header).substr(0, 3);
  return frame + data;
}

std::string PkwareLzma(const std::string& data, bool endMarker, uint32_t dictionary) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  options.dict_size = dictionary;
  // Without the end marker: LZMA1EXT, whose encoder leaves it out.
  const lzma_filter filters[2] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                                  {LZMA_VLI_UNKNOWN, nullptr}};
  std::string header = {'\x05', '\x04', '\x05', '\x00'};
  uint8_t props[5];
  if (lzma_properties_encode(&filters[0], props) != LZMA_OK)
    throw std::runtime_error("lzma_properties_encode failed");
  header.append(reinterpret_cast<char*>(props), 5);
  std::string out(data.size() + data.size() / 2 + 1024, '\0');
  size_t pos = 0;
  if (lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()),
                             data.size(), reinterpret_cast<uint8_t*>(out.data()), &pos,
                             out.size()) != LZMA_OK)
    throw std::runtime_error("lzma_raw_buffer_encode failed");
  out.resize(pos);
  return header + out;
}

CraftedEntry NewerEntry(const std::string& name, uint16_t method, const std::string& stream,
                        const std::string& data, uint16_t flags) {
  CraftedEntry e = StoredEntry(name, data);
  e.method = method;
  e.versionNeeded = zip::kVersionLzmaZstd;
  e.flags = flags;
  e.data = stream;
  e.compressedSize = stream.size();
  return e;
}

}  // namespace upktest
