#include "entry_encoders.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack_error.h"
#include "upk4/zip_format.h"

namespace upkpack {

namespace {

constexpr size_t kOutPiece = 1 << 16;

class DeflateEncoder final : public EntryEncoder {
 public:
  explicit DeflateEncoder(int level) {
    // As minizip deflates: raw, 32 KiB window, memory level 8.
    if (deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw PackError("cannot start deflate");
  }
  ~DeflateEncoder() override { deflateEnd(&m_stream); }

  void Feed(const uint8_t* data, size_t count, bool last, SpillBuffer& out) override {
    m_stream.next_in = const_cast<Bytef*>(data);
    m_stream.avail_in = static_cast<uInt>(count);
    int result = Z_OK;
    do {
      m_stream.next_out = m_out;
      m_stream.avail_out = sizeof m_out;
      result = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) throw PackError("deflate failed");
      out.Append(m_out, sizeof m_out - m_stream.avail_out);
    } while (m_stream.avail_out == 0 || (last && result != Z_STREAM_END));
  }

 private:
  z_stream m_stream{};
  Bytef m_out[kOutPiece];
};

class ZstdEncoder final : public EntryEncoder {
 public:
  ZstdEncoder(int level, uint64_t size) : m_context(ZSTD_createCCtx()) {
    if (m_context == nullptr) throw PackError("cannot start Zstandard");
    Check(ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, level));
    // The levels past 19 ask for larger windows than the reader allows.
    if (level > 19)
      Check(ZSTD_CCtx_setParameter(m_context, ZSTD_c_windowLog, zip::kMaxWindowLog));
    // The ZIP record has the CRC-32; the frame carries its size, which
    // also fits the window to a small entry.
    Check(ZSTD_CCtx_setParameter(m_context, ZSTD_c_checksumFlag, 0));
    Check(ZSTD_CCtx_setPledgedSrcSize(m_context, size));
  }
  ~ZstdEncoder() override { ZSTD_freeCCtx(m_context); }

  void Feed(const uint8_t* data, size_t count, bool last, SpillBuffer& out) override {
    ZSTD_inBuffer in{data, count, 0};
    const ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_continue;
    for (;;) {
      ZSTD_outBuffer piece{m_out, sizeof m_out, 0};
      const size_t remaining = ZSTD_compressStream2(m_context, &piece, &in, mode);
      Check(remaining);
      out.Append(m_out, piece.pos);
      if (last ? remaining == 0 : in.pos == in.size) return;
    }
  }

 private:
  static void Check(size_t result) {
    if (ZSTD_isError(result))
      throw PackError(std::string("Zstandard compression failed: ") + ZSTD_getErrorName(result));
  }
  ZSTD_CCtx* const m_context;
  uint8_t m_out[kOutPiece];
};

class LzmaEncoder final : public EntryEncoder {
 public:
  LzmaEncoder(std::optional<int> level, uint64_t size) {
    lzma_options_lzma options{};
    const uint32_t preset = level ? static_cast<uint32_t>(*level) : 9 | LZMA_PRESET_EXTREME;
    if (lzma_lzma_preset(&options, preset)) throw PackError("bad LZMA preset");
    // The smallest power of two that holds the entry, at most 8 MiB: a
    // larger dictionary gains nothing and costs the reader memory.
    uint32_t dictionary = LZMA_DICT_SIZE_MIN;
    while (dictionary < size && dictionary < zip::kMaxWindowSize) dictionary <<= 1;
    options.dict_size = std::min(options.dict_size, dictionary);
    // LZMA1 in raw form: the encoder always ends the stream with its end
    // marker, which flag bit 1 announces.
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t header[zip::kLzmaHeaderSize] = {LZMA_VERSION_MAJOR, LZMA_VERSION_MINOR,
                                            zip::kLzmaPropertiesSize, 0};
    if (lzma_properties_encode(&filters[0], header + 4) != LZMA_OK ||
        lzma_raw_encoder(&m_stream, filters) != LZMA_OK)
      throw PackError("cannot start LZMA");
    m_header.assign(header, header + sizeof header);
  }
  ~LzmaEncoder() override { lzma_end(&m_stream); }

  void Feed(const uint8_t* data, size_t count, bool last, SpillBuffer& out) override {
    if (!m_header.empty()) {
      out.Append(m_header.data(), m_header.size());
      m_header.clear();
    }
    m_stream.next_in = data;
    m_stream.avail_in = count;
    for (;;) {
      m_stream.next_out = m_out;
      m_stream.avail_out = sizeof m_out;
      const lzma_ret result = lzma_code(&m_stream, last ? LZMA_FINISH : LZMA_RUN);
      if (result != LZMA_OK && result != LZMA_STREAM_END)
        throw PackError("LZMA compression failed (" + std::to_string(result) + ")");
      out.Append(m_out, sizeof m_out - m_stream.avail_out);
      if (last ? result == LZMA_STREAM_END : m_stream.avail_in == 0 && m_stream.avail_out != 0)
        return;
    }
  }

 private:
  lzma_stream m_stream = LZMA_STREAM_INIT;
  std::vector<uint8_t> m_header;
  uint8_t m_out[kOutPiece];
};

}  // namespace

int DeflateLevel(std::optional<int> level) { return level ? *level : Z_DEFAULT_COMPRESSION; }

std::unique_ptr<EntryEncoder> MakeEntryEncoder(PackMethod method, std::optional<int> level,
                                               uint64_t size) {
  switch (method) {
    case PackMethod::zstd: return std::make_unique<ZstdEncoder>(level ? *level : 19, size);
    case PackMethod::lzma: return std::make_unique<LzmaEncoder>(level, size);
    case PackMethod::deflate: break;
  }
  return std::make_unique<DeflateEncoder>(DeflateLevel(level));
}

uint16_t ZipMethodOf(PackMethod method) {
  switch (method) {
    case PackMethod::zstd: return zip::kMethodZstd;
    case PackMethod::lzma: return zip::kMethodLzma;
    case PackMethod::deflate: break;
  }
  return zip::kMethodDeflated;
}

uint16_t FlagsOf(PackMethod method) {
  return method == PackMethod::lzma ? zip::kFlagLzmaEndMarker : 0;
}

}  // namespace upkpack
