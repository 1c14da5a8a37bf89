// Differential fuzzing of the Zstandard and LZMA decoders of the reader:
// the same bytes go through the streaming decoder, fed in pieces as the
// entry reader feeds it (input in fixed reads, output in chunks), and
// through the library's own one-shot decoding of the whole buffer. Where
// the decoder ends the stream cleanly (at its end, all input taken) the
// one-shot decoding must succeed with the same bytes, and where the
// one-shot decoding succeeds the decoder must too, with two exceptions: a
// window or dictionary above 8 MiB, which the decoder refuses by design,
// and a Zstandard frame that the library's own streaming decoder refuses.
//
// Input: 4 bytes of settings, then the stream.
//   byte 0    method: even Zstandard, odd LZMA
//   byte 1    input read size (1 .. 256, or 64 KiB when 0)
//   byte 2    output piece (1 .. 256, or 64 KiB when 0)
//   byte 3    LZMA: bit 0 the end marker flag; bits 1-7 with byte 2 the
//             size of a stream without the end marker
#include <lzma.h>
#include <zstd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "upk4/stream_decoder.h"
#include "upk4/zip_format.h"

namespace {

constexpr size_t kMaxOutput = 1u << 20;

struct Result {
  bool complete = false;   // the stream ended cleanly with all input taken
  bool overLimit = false;  // refused for its window or dictionary
  std::string bytes;
};

Result Stream(std::unique_ptr<StreamDecoder> decoder, const uint8_t* data, size_t size,
              uint32_t readSize, uint32_t piece) {
  Result result;
  if (!decoder) std::abort();
  InflateBuffers io;
  std::vector<uint8_t> out(piece);
  size_t consumed = 0;
  // Bounded: each round takes input or gives output, or ends.
  for (int round = 0; round < 1 << 22; ++round) {
    if (io.availIn == 0 && consumed < size) {
      io.nextIn = data + consumed;
      io.availIn = static_cast<uint32_t>(std::min<size_t>(readSize, size - consumed));
      consumed += io.availIn;
    }
    io.nextOut = out.data();
    io.availOut = piece;
    const int code = decoder->Decode(io, consumed == size);
    result.bytes.append(reinterpret_cast<char*>(out.data()), piece - io.availOut);
    if (result.bytes.size() > kMaxOutput) return result;
    if (code == Z_STREAM_END) {
      result.complete = io.availIn == 0 && consumed == size;
      return result;
    }
    if (code == Z_DATA_ERROR) {
      result.overLimit = decoder->Problem().find("8 MiB") != std::string::npos;
      return result;
    }
    if (code != Z_OK) return result;
  }
  std::abort();  // neither progress nor an end
}

Result ZstdOneShot(const uint8_t* data, size_t size) {
  Result result;
  std::string out(kMaxOutput, '\0');
  const size_t n = ZSTD_decompress(out.data(), out.size(), data, size);
  if (ZSTD_isError(n)) return result;
  result.complete = true;
  result.bytes.assign(out.data(), n);
  return result;
}

// The library's own streaming decoder, given all the input and output room
// at once. Its one-shot decoding takes some frames that streaming refuses
// (a block that decodes beyond the block size limit of 128 KiB): the
// reader's decoder may refuse what this refuses too.
bool ZstdStreamingAccepts(const uint8_t* data, size_t size) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  if (context == nullptr) std::abort();
  std::string out(kMaxOutput, '\0');
  ZSTD_inBuffer in{data, size, 0};
  ZSTD_outBuffer room{out.data(), out.size(), 0};
  size_t left = 0;
  bool accepted = true;
  while (in.pos < in.size) {
    const size_t before = in.pos + room.pos;
    left = ZSTD_decompressStream(context, &room, &in);
    if (ZSTD_isError(left) || in.pos + room.pos == before) {
      accepted = false;
      break;
    }
  }
  ZSTD_freeDCtx(context);
  return accepted && left == 0;
}

Result LzmaOneShot(const uint8_t* data, size_t size, bool endMarker, uint64_t known) {
  Result result;
  if (size < zip::kLzmaHeaderSize || data[2] != zip::kLzmaPropertiesSize || data[3] != 0)
    return result;
  lzma_filter filters[2] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, nullptr},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, data + 4, zip::kLzmaPropertiesSize) != LZMA_OK)
    return result;
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  if (!endMarker) {
    options->ext_flags = 0;
    options->ext_size_low = static_cast<uint32_t>(known);
    options->ext_size_high = static_cast<uint32_t>(known >> 32);
  }
  result.overLimit = options->dict_size > zip::kMaxWindowSize;
  // The library would allocate a declared dictionary of up to 4 GiB here.
  // No output beyond kMaxOutput is compared, and within it a dictionary of
  // 8 MiB accepts the same distances as any larger one.
  if (result.overLimit) options->dict_size = zip::kMaxWindowSize;
  std::string out(kMaxOutput, '\0');
  size_t inPos = zip::kLzmaHeaderSize, outPos = 0;
  const lzma_ret code = lzma_raw_buffer_decode(filters, nullptr, data, &inPos, size,
                                               reinterpret_cast<uint8_t*>(out.data()), &outPos,
                                               out.size());
  std::free(options);
  result.complete = code == LZMA_OK && inPos == size;
  result.bytes.assign(out.data(), outPos);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const bool lzma = (data[0] & 1) != 0;
  const uint32_t readSize = data[1] == 0 ? 65536u : data[1];
  const uint32_t piece = data[2] == 0 ? 65536u : data[2];
  const bool endMarker = (data[3] & 1) != 0;
  const uint64_t known = static_cast<uint64_t>(data[3] >> 1) << 8 | data[2];
  const uint8_t* stream = data + 4;
  const size_t streamSize = size - 4;

  const Result streamed =
      Stream(lzma ? MakeLzmaDecoder(endMarker, known) : MakeZstdDecoder(), stream, streamSize,
             readSize, piece);
  const Result oneShot =
      lzma ? LzmaOneShot(stream, streamSize, endMarker, known) : ZstdOneShot(stream, streamSize);
  if (streamed.bytes.size() > kMaxOutput) return 0;  // beyond what the one-shot may hold
  if (streamed.complete && !(oneShot.complete && oneShot.bytes == streamed.bytes)) {
    std::fprintf(stderr, "decoder ended cleanly (%zu bytes), one-shot %s (%zu bytes)\n",
                 streamed.bytes.size(), oneShot.complete ? "differs" : "failed",
                 oneShot.bytes.size());
    std::abort();
  }
  if (oneShot.complete && !streamed.complete && !streamed.overLimit &&
      (lzma || ZstdStreamingAccepts(stream, streamSize))) {
    std::fprintf(stderr, "one-shot succeeded (%zu bytes), the decoder did not (%zu bytes)\n",
                 oneShot.bytes.size(), streamed.bytes.size());
    std::abort();
  }
  return 0;
}
