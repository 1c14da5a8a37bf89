// Differential fuzzing of the two inflater backends: the same raw-deflate
// bytes go through zlib and ISA-L, driven the way the reader drives its
// inflater (input refilled in fixed reads, output asked for in chunks, a
// declared size that may be wrong, the drain after the last byte, the
// restart through zlib when ISA-L meets damage), and any difference in the
// bytes of a chunk, in the way the entry ends or in the CRC-32 aborts.
// One difference is the design's: ISA-L decodes blocks whose code sets zlib
// refuses as incomplete or over-subscribed (zlib's messages "invalid code
// lengths set", "invalid literal/lengths set", "invalid distances set");
// when zlib refuses a stream for exactly that and ISA-L decoded it without
// error, the entry's CRC-32 decides in the reader, and the traces may differ.
//
// Input: 4 bytes of settings, then the stream.
//   byte 0-1  input read size (1 .. 65536)
//   byte 2    output chunk: 65535 or a large block of such chunks
//   byte 3    declared size: the true size, one more or less, or a small one
#include <zlib.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>
#include "upk4/inflater.h"

namespace {

// What one backend did: for each call that the reader would make, the bytes
// it delivered, and how the entry ended.
struct Trace {
  std::vector<std::string> chunks;
  int end = 0;  // 1 stream end, 0 declared size reached, else the code raised
  uint32_t crc = 0;
  // zlib's message when zlib raised the code; not compared.
  std::string message;
  bool operator==(const Trace& other) const {
    return chunks == other.chunks && end == other.end && crc == other.crc;
  }
};

// zlib refused the stream for a code set that ISA-L may take.
bool IsCodeSetRefusal(const Trace& t) {
  return t.end == Z_DATA_ERROR &&
         (t.message == "invalid code lengths set" || t.message == "invalid literal/lengths set" ||
          t.message == "invalid distances set");
}

constexpr int kTruncated = -101;

// The loop of EntryReader::Read for a deflated entry, with the input in
// memory instead of in the volumes.
template <class Backend>
Trace Drive(const uint8_t* data, size_t size, uint32_t readSize, uint32_t chunk,
            uint32_t declared) {
  Trace trace;
  Backend inflater;
  InflateBuffers io;
  if (inflater.Init() != Z_OK) std::abort();
  std::vector<uint8_t> readBuffer(readSize), out(chunk);
  size_t consumed = 0;
  uint32_t uncompressedLeft = declared;
  uint32_t crc = 0;
  const auto refill = [&] {
    const size_t n = std::min<size_t>(readSize, size - consumed);
    std::memcpy(readBuffer.data(), data + consumed, n);
    consumed += n;
    io.nextIn = readBuffer.data();
    io.availIn = static_cast<uint32_t>(n);
  };
  const auto restart = [&](uint32_t skip) {  // RestartThroughZlib
    consumed = 0;
    if (inflater.FallBackToZlib(io) != Z_OK) std::abort();
    uint8_t scratch[4096];
    while (skip > 0) {
      if (io.availIn == 0 && consumed < size) refill();
      io.nextOut = scratch;
      io.availOut = std::min<uint32_t>(skip, sizeof scratch);
      const int result = inflater.Inflate(io);
      skip -= static_cast<uint32_t>(io.nextOut - scratch);
      if (result == Z_STREAM_END) break;
      if (result == Z_BUF_ERROR && io.availIn == 0 && consumed == size) return kTruncated;
      if (result != Z_OK) return result;
    }
    return 0;
  };
  // One ReadEntry per round, as ExtractEntry asks: stop at a short count.
  for (int round = 0; round < 4096 && trace.end == 0; ++round) {
    const auto inputLeft = [&] { return consumed < size || io.availIn > 0; };
    const bool drain = std::min(chunk, uncompressedLeft) == 0 && inputLeft();
    uint8_t surplus = 0;
    const uint32_t leftAtStart = uncompressedLeft, crcAtStart = crc;
    uint32_t delivered = 0;
    const auto startCall = [&] {
      io.nextOut = out.data();
      io.availOut = std::min(chunk, uncompressedLeft);
      if (drain) {
        io.nextOut = &surplus;
        io.availOut = 1;
      }
    };
    startCall();
    while (drain ? inputLeft() : io.availOut > 0) {
      if (io.availIn == 0 && consumed < size) refill();
      uint8_t* before = io.nextOut;
      const int result = inflater.Inflate(io);
      const uint32_t k = static_cast<uint32_t>(io.nextOut - before);
      const bool surplusByte = drain && k > 0;
      if ((surplusByte || (result != Z_OK && result != Z_STREAM_END)) && inflater.CanFallBack()) {
        if (const int raised = restart(declared - leftAtStart); raised != 0) {
          trace.end = raised;
          break;
        }
        uncompressedLeft = leftAtStart;
        crc = crcAtStart;
        delivered = 0;
        startCall();
        continue;
      }
      if (surplusByte) {
        trace.end = Z_BUF_ERROR;
        break;
      }
      crc = UpdateCrc32(crc, before, k);
      uncompressedLeft -= k;
      delivered += k;
      if (result == Z_STREAM_END) {
        trace.end = 1;
        break;
      }
      if (result == Z_BUF_ERROR && io.availIn == 0 && consumed == size) {
        trace.end = kTruncated;
        break;
      }
      if (result != Z_OK) {
        trace.end = result;
        if constexpr (std::is_same_v<Backend, ZlibInflater>)
          if (inflater.Message() != nullptr) trace.message = inflater.Message();
        break;
      }
      if (drain && !inputLeft() && inflater.CanFallBack()) {
        if (const int raised = restart(declared - leftAtStart); raised != 0) {
          trace.end = raised;
          break;
        }
        uncompressedLeft = leftAtStart;
        crc = crcAtStart;
        delivered = 0;
        startCall();
      }
    }
    // A call that raised delivers nothing to the caller.
    if (trace.end == 0 || trace.end == 1)
      trace.chunks.emplace_back(reinterpret_cast<char*>(out.data()), delivered);
    if (trace.end == 0 && delivered < chunk) break;
  }
  inflater.End();
  trace.crc = crc;
  return trace;
}

void Report(const char* what, const Trace& a, const Trace& b) {
  std::fprintf(stderr, "difference in %s: zlib %zu chunks end %d crc %08x, isal %zu chunks end %d crc %08x\n",
               what, a.chunks.size(), a.end, a.crc, b.chunks.size(), b.end, b.crc);
  for (size_t i = 0; i < std::min(a.chunks.size(), b.chunks.size()); ++i)
    if (a.chunks[i] != b.chunks[i])
      std::fprintf(stderr, "  chunk %zu: %zu against %zu bytes\n", i, a.chunks[i].size(),
                   b.chunks[i].size());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t readSize = 1u + (data[0] | (data[1] << 8));
  // The reader asks for 65535 bytes or for large blocks of whole chunks;
  // smaller requests come from the declared size.
  static const uint32_t kChunks[] = {65535, 65535 * 4, 65535 * 16};
  const uint32_t chunk = kChunks[data[2] % (sizeof kChunks / sizeof kChunks[0])];
  const uint8_t* stream = data + 4;
  const size_t streamSize = size - 4;

  // The true size, as zlib finds it with all the output room it wants.
  uint32_t trueSize = 0;
  {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
    std::vector<uint8_t> sink(1 << 16);
    z.next_in = const_cast<uint8_t*>(stream);
    z.avail_in = static_cast<uInt>(streamSize);
    int r;
    do {
      z.next_out = sink.data();
      z.avail_out = static_cast<uInt>(sink.size());
      r = inflate(&z, Z_SYNC_FLUSH);
    } while (r == Z_OK && z.total_out < (64u << 20));
    trueSize = static_cast<uint32_t>(z.total_out);
    inflateEnd(&z);
  }
  // The declared size: true, one off, or anything below 64 KiB.
  const uint32_t declared = (data[3] & 3) == 0   ? trueSize
                            : (data[3] & 3) == 1 ? trueSize + 1
                            : (data[3] & 3) == 2 ? (trueSize ? trueSize - 1 : 0)
                                                 : (data[3] >> 2) * 1021u + data[2];
  const Trace viaZlib = Drive<ZlibInflater>(stream, streamSize, readSize, chunk, declared);
  const Trace viaIsal = Drive<IsalInflater>(stream, streamSize, readSize, chunk, declared);
  const bool isalTookCodeSet = IsCodeSetRefusal(viaZlib) && (viaIsal.end == 0 || viaIsal.end == 1);
  if (!(viaZlib == viaIsal) && !isalTookCodeSet) Report("trace", viaZlib, viaIsal);
  // The fast CRC agrees with zlib's over the whole stream of bytes.
  std::string all;
  for (const auto& c : viaZlib.chunks) all += c;
  if (UpdateCrc32(0, all.data(), all.size()) !=
      static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(all.data()),
                                  static_cast<uInt>(all.size()))))
    std::abort();
  return 0;
}
