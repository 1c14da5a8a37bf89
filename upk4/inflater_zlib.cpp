// The zlib backend of the inflater: raw inflate with a 32 KiB window.
#include "upk4/inflater.h"

int ZlibInflater::Init(bool /*fast*/) {
  End();
  stream_ = z_stream{};
  const int result = inflateInit2(&stream_, -MAX_WBITS);
  active_ = result == Z_OK;
  return result;
}

int ZlibInflater::Inflate(InflateBuffers& io) {
  if (!active_) return Z_STREAM_ERROR;
  stream_.next_in = const_cast<Bytef*>(io.nextIn);
  stream_.avail_in = io.availIn;
  stream_.next_out = io.nextOut;
  stream_.avail_out = io.availOut;
  const int result = inflate(&stream_, Z_SYNC_FLUSH);
  io.nextIn = stream_.next_in;
  io.availIn = stream_.avail_in;
  io.nextOut = stream_.next_out;
  io.availOut = stream_.avail_out;
  return result;
}

void ZlibInflater::End() {
  if (active_) inflateEnd(&stream_);
  active_ = false;
}

uint32_t ZlibCrc32(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  // zlib's length is 32 bits wide on some systems.
  while (size > 0) {
    const uInt n = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, p, n));
    p += n;
    size -= n;
  }
  return crc;
}

#ifndef UPK_WITH_ISAL
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size) {
  return ZlibCrc32(crc, data, size);
}
#endif
