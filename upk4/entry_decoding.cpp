// Opening an entry for decoding and delivering its decoded bytes: stored or
// raw-deflated data, optionally behind the traditional encryption, with the
// running CRC-32 kept over every byte handed out.
#include <algorithm>
#include <cstring>
#include "upk4/archive_reader.h"
#include "upk4/zip_exception.h"

namespace {
constexpr uint32_t kEncryptionHeaderSize = 12;
}

bool ArchiveReader::OpenEntry(uint16_t index) {
  if (index >= centralDir.headers.size() || entryState != 0) return false;

  decode.readBuffer.Allocate(decode.readBufferSize, false);
  centralDir.SeekEntry(index);
  const EntryRecord& entry = *centralDir.currentEntry;

  if (entry.IsEncrypted()) {
    if (password.size == 0) {
      decode.readBuffer.Release();
      return false;
    }
    // The sizes include the encryption header; fewer bytes than that cannot
    // be a real entry, and the subtraction below would wrap.
    if (entry.compressedSize < kEncryptionHeaderSize) RaiseError(kZipBadArchive);
    InitKeys();
    if (!CheckEncryptionHeader()) RaiseError(kZipBadPassword);
  }
  if (entry.method != 0 && entry.method != 8) RaiseError(kZipBadArchive);

  Inflater& inflater = decode.inflater;
  if (entry.method == 8)
    CheckInflateResult(inflater.Init(useAllocationRegister ? &allocations : nullptr));

  decode.compressedLeft =
      entry.compressedSize - (entry.IsEncrypted() ? kEncryptionHeaderSize : 0);
  decode.uncompressedLeft = entry.uncompressedSize;
  decode.runningCrc = 0;
  inflater.availIn = 0;
  entryState = -1;
  return true;
}

uint32_t ArchiveReader::ReadEntry(void* buffer, uint32_t count) {
  if (entryState != -1 || buffer == nullptr || count == 0) return 0;

  const bool stored = centralDir.currentEntry->method == 0;
  Inflater& io = decode.inflater;
  io.nextOut = static_cast<uint8_t*>(buffer);
  io.availOut = std::min(count, decode.uncompressedLeft);
  uint32_t delivered = 0;
  // All output delivered but compressed bytes left: read them through, so
  // the inflater can see the end of its stream.
  const bool drain = io.availOut == 0 && decode.compressedLeft > 0;

  while (io.availOut > 0 || (drain && decode.compressedLeft > 0)) {
    if (stored && io.availIn == 0 && io.availOut > 0 && decode.compressedLeft > 0) {
      // Stored data needs no staging: it is read straight into the caller's
      // buffer (and decrypted there), in one read per call.
      const uint32_t k = std::min(io.availOut, decode.compressedLeft);
      storage.Read(io.nextOut, k, false);
      DecryptBytes(io.nextOut, k);
      decode.compressedLeft -= k;
      decode.runningCrc = UpdateCrc32(decode.runningCrc, io.nextOut, k);
      decode.uncompressedLeft -= k;
      io.availOut -= k;
      io.nextOut += k;
      delivered += k;
      continue;
    }
    if (io.availIn == 0 && decode.compressedLeft > 0) {
      const uint32_t n = std::min(decode.compressedLeft, decode.readBuffer.size);
      storage.Read(decode.readBuffer.data, n, false);
      DecryptBuffer(n);
      decode.compressedLeft -= n;
      io.nextIn = decode.readBuffer.data;
      io.availIn = n;
    }

    if (stored) {
      if (io.availOut == 0) {
        // Draining surplus input of a stored entry: skip it, or the loop
        // would wait on bytes that are never consumed.
        io.nextIn += io.availIn;
        io.availIn = 0;
        continue;
      }
      const uint32_t k = std::min(io.availOut, io.availIn);
      // More output claimed than there is input: nothing can ever come.
      if (k == 0) RaiseError(kZipBadArchive);
      std::memcpy(io.nextOut, io.nextIn, k);
      decode.runningCrc = UpdateCrc32(decode.runningCrc, io.nextOut, k);
      decode.uncompressedLeft -= k;
      io.availIn -= k;
      io.availOut -= k;
      io.nextOut += k;
      io.nextIn += k;
      delivered += k;
    } else {
      uint8_t* const outBefore = io.nextOut;
      const int result = io.Inflate();
      const uint32_t k = static_cast<uint32_t>(io.nextOut - outBefore);
      decode.runningCrc = UpdateCrc32(decode.runningCrc, outBefore, k);
      decode.uncompressedLeft -= k;
      delivered += k;
      if (result == Z_STREAM_END) break;
      // Input exhausted before the stream ended: the entry is truncated.
      if (result == Z_BUF_ERROR && io.availIn == 0 && decode.compressedLeft == 0)
        RaiseError(kZipBadArchive);
      CheckInflateResult(result);
    }
  }
  return delivered;
}
