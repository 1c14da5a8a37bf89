// Zstandard entries (method 93): one or more frames, skippable frames among
// them, decoded by libzstd with its window held to 8 MiB.
#include <new>
#include <zstd_errors.h>
#include "upk4/stream_decoder.h"
#include "upk4/zip_format.h"
#include "upk4/zstd_library.h"

namespace {

class ZstdDecoder final : public StreamDecoder {
 public:
  ZstdDecoder(const ZstdEntryPoints& zstd, ZSTD_DCtx* context) : m_zstd(zstd), m_context(context) {}
  ~ZstdDecoder() override { m_zstd.freeDCtx(m_context); }
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;

  int Decode(InflateBuffers& io, bool lastInput) override {
    // Between frames with nothing more to come: the stream ends here. (No
    // frame at all is an empty stream, as the library's one-shot decoding
    // takes it.)
    if (m_betweenFrames && io.availIn == 0 && lastInput) return Z_STREAM_END;
    ZSTD_inBuffer in{io.nextIn, io.availIn, 0};
    ZSTD_outBuffer out{io.nextOut, io.availOut, 0};
    const size_t result = m_zstd.decompressStream(m_context, &out, &in);
    io.nextIn += in.pos;
    io.availIn -= static_cast<uint32_t>(in.pos);
    io.nextOut += out.pos;
    io.availOut -= static_cast<uint32_t>(out.pos);
    if (m_zstd.isError(result)) {
      // The error codes are stable across versions (zstd_errors.h).
      const ZSTD_ErrorCode code = m_zstd.getErrorCode(result);
      if (code == ZSTD_error_memory_allocation) return Z_MEM_ERROR;
      if (code == ZSTD_error_frameParameter_windowTooLarge)
        return Damaged("Zstandard window above the 8 MiB limit");
      return Damaged(std::string("Zstandard data: ") + m_zstd.getErrorName(result));
    }
    // 0: a frame has ended and all of it has been handed out.
    m_betweenFrames = result == 0;
    if (m_betweenFrames && io.availIn == 0 && lastInput) return Z_STREAM_END;
    return in.pos > 0 || out.pos > 0 ? Z_OK : Z_BUF_ERROR;
  }

 private:
  const ZstdEntryPoints& m_zstd;
  ZSTD_DCtx* const m_context;
  bool m_betweenFrames = true;
};

}  // namespace

std::unique_ptr<StreamDecoder> MakeZstdDecoder() {
  const ZstdEntryPoints* zstd = BindZstd();
  if (zstd == nullptr) return nullptr;
  ZSTD_DCtx* context = zstd->createDCtx();
  if (context == nullptr) throw std::bad_alloc();
  auto decoder = std::make_unique<ZstdDecoder>(*zstd, context);
  // Frames that need a larger window are refused instead of being given it;
  // a library that cannot hold to that is not used.
  if (zstd->isError(zstd->setParameter(context, ZSTD_d_windowLogMax, zip::kMaxWindowLog)))
    return nullptr;
  return decoder;
}
