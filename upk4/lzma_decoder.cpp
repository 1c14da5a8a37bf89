// LZMA entries (method 14) in PKWARE's form: a 4-byte header (the writer's
// LZMA version, the properties' length), 5 bytes of properties, then the
// raw LZMA stream, ended by its end marker when flag bit 1 says so and by
// the entry's size otherwise. Decoded by liblzma; the dictionary may be at
// most 8 MiB.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include "framework/byte_cursor.h"
#include "upk4/lzma_library.h"
#include "upk4/stream_decoder.h"
#include "upk4/zip_format.h"

namespace {

class LzmaDecoder final : public StreamDecoder {
 public:
  LzmaDecoder(const LzmaEntryPoints& lzma, bool endMarker, uint64_t size)
      : m_lzma(lzma), m_endMarker(endMarker), m_size(size) {}
  ~LzmaDecoder() override {
    if (m_started) m_lzma.end(&m_stream);
  }
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;

  int Decode(InflateBuffers& io, bool lastInput) override {
    if (m_ended) return Z_STREAM_END;
    bool progress = false;
    if (!m_started) {
      const uint32_t k = std::min(io.availIn, zip::kLzmaHeaderSize - m_headerHave);
      // (An entry with no compressed bytes has no input buffer at all.)
      if (k > 0) std::memcpy(m_header + m_headerHave, io.nextIn, k);
      m_headerHave += k;
      io.nextIn += k;
      io.availIn -= k;
      progress = k > 0;
      if (m_headerHave < zip::kLzmaHeaderSize) {
        if (lastInput && io.availIn == 0) return Damaged("LZMA header cut short");
        return progress ? Z_OK : Z_BUF_ERROR;
      }
      const int started = StartStream();
      if (started != Z_OK) return started;
    }
    m_stream.next_in = io.nextIn;
    m_stream.avail_in = io.availIn;
    m_stream.next_out = io.nextOut;
    m_stream.avail_out = io.availOut;
    const lzma_ret result = m_lzma.code(&m_stream, lastInput ? LZMA_FINISH : LZMA_RUN);
    progress = progress || m_stream.avail_in != io.availIn || m_stream.avail_out != io.availOut;
    io.nextIn = m_stream.next_in;
    io.availIn = static_cast<uint32_t>(m_stream.avail_in);
    io.nextOut = m_stream.next_out;
    io.availOut = static_cast<uint32_t>(m_stream.avail_out);
    switch (result) {
      case LZMA_OK: return progress ? Z_OK : Z_BUF_ERROR;
      case LZMA_STREAM_END: m_ended = true; return Z_STREAM_END;
      case LZMA_BUF_ERROR: return Z_BUF_ERROR;
      case LZMA_MEM_ERROR: return Z_MEM_ERROR;
      default: return Damaged("LZMA data damaged");
    }
  }

 private:
  // The header is whole: checks the properties and starts liblzma's decoder.
  int StartStream() {
    ByteCursor header(m_header, sizeof m_header);
    header.Skip(2);  // the writer's LZMA version: nothing depends on it
    const uint16_t propertiesSize = header.U16();
    if (propertiesSize != zip::kLzmaPropertiesSize) {
      return Damaged("LZMA properties of " + std::to_string(propertiesSize) + " bytes, not " +
                     std::to_string(zip::kLzmaPropertiesSize));
    }
    // Without the end marker the stream ends after the entry's size, which
    // only the LZMA1EXT form of the filter can be told.
    lzma_filter filters[2] = {{m_endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, nullptr},
                              {LZMA_VLI_UNKNOWN, nullptr}};
    if (m_lzma.propertiesDecode(&filters[0], nullptr, m_header + 4, zip::kLzmaPropertiesSize) !=
        LZMA_OK)
      return Damaged("LZMA properties that liblzma refuses");
    // Decoded with liblzma's default allocator: freed with free().
    struct OptionsFree {
      void operator()(void* p) const { std::free(p); }
    };
    const std::unique_ptr<void, OptionsFree> owned(filters[0].options);
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    if (options->dict_size > zip::kMaxWindowSize) {
      // (No C library formatting: it would bring its whole machinery into
      // the Windows binaries.)
      return Damaged("LZMA dictionary of " + std::to_string(options->dict_size) +
                     " bytes above the 8 MiB limit");
    }
    if (!m_endMarker) {
      options->ext_flags = 0;  // strictly no end marker
      options->ext_size_low = static_cast<uint32_t>(m_size);
      options->ext_size_high = static_cast<uint32_t>(m_size >> 32);
    }
    // What liblzma will take for this stream, against what the largest
    // dictionary allowed takes: whatever the properties, no more.
    if (m_lzma.rawDecoderMemusage(filters) > MemoryLimit())
      return Damaged("LZMA stream needs more memory than an 8 MiB dictionary");
    const lzma_ret started = m_lzma.rawDecoder(&m_stream, filters);
    if (started == LZMA_MEM_ERROR) return Z_MEM_ERROR;
    if (started != LZMA_OK) return Damaged("LZMA properties that liblzma refuses");
    m_started = true;
    return Z_OK;
  }

  uint64_t MemoryLimit() const {
    lzma_options_lzma largest{};
    largest.dict_size = zip::kMaxWindowSize;
    largest.lc = 4;  // the largest literal coder lc + lp allows
    largest.lp = 0;
    largest.pb = 4;
    largest.ext_size_low = UINT32_MAX;
    largest.ext_size_high = UINT32_MAX;
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &largest}, {LZMA_VLI_UNKNOWN, nullptr}};
    return m_lzma.rawDecoderMemusage(filters);
  }

  const LzmaEntryPoints& m_lzma;
  const bool m_endMarker;
  const uint64_t m_size;
  uint8_t m_header[zip::kLzmaHeaderSize] = {};
  uint32_t m_headerHave = 0;
  lzma_stream m_stream = LZMA_STREAM_INIT;
  bool m_started = false;
  bool m_ended = false;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeLzmaDecoder(bool endMarker, uint64_t size) {
  const LzmaEntryPoints* lzma = BindLzma();
  if (lzma == nullptr) return nullptr;
  return std::make_unique<LzmaDecoder>(*lzma, endMarker, size);
}
