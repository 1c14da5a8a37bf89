// Opening an entry for decoding and delivering its decoded bytes: stored or
// raw-deflated data, optionally behind the traditional encryption, with the
// running CRC-32 kept over every byte handed out.
#include <algorithm>
#include <cstring>
#include <zlib.h>
#include "upk4/archive_reader.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

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
    if (entry.compressedSize < zip::kEncryptionHeaderSize)
      RaiseError(kZipBadArchive, EntryDetail("encrypted data shorter than its 12-byte header"));
    InitKeys();
    if (!CheckEncryptionHeader())
      RaiseError(kZipBadPassword, EntryDetail("encryption header does not fit the password"));
  }
  if (entry.method != zip::kMethodStored && entry.method != zip::kMethodDeflated)
    RaiseError(kZipBadArchive, EntryDetail("method is neither stored nor deflated"));

  z_stream& stream = decode.stream;
  if (entry.method == zip::kMethodDeflated) {
    stream.zalloc = RegisterAwareAlloc;
    stream.zfree = RegisterAwareFree;
    stream.opaque = useAllocationRegister ? static_cast<voidpf>(&allocations) : nullptr;
    stream.next_in = nullptr;
    stream.avail_in = 0;
    CheckInflateResult(inflateInit2_(&stream, -MAX_WBITS, "1.2.8", sizeof(z_stream)));
  }

  decode.compressedLeft =
      entry.compressedSize - (entry.IsEncrypted() ? zip::kEncryptionHeaderSize : 0);
  decode.uncompressedLeft = entry.uncompressedSize;
  decode.runningCrc = 0;
  stream.total_out = 0;
  stream.avail_in = 0;
  entryState = -1;
  return true;
}

uint32_t ArchiveReader::ReadEntry(void* buffer, uint32_t count) {
  if (entryState != -1 || buffer == nullptr || count == 0) return 0;

  const bool stored = centralDir.currentEntry->method == zip::kMethodStored;
  z_stream& stream = decode.stream;
  stream.next_out = static_cast<Bytef*>(buffer);
  stream.avail_out = static_cast<uInt>(std::min<uint64_t>(count, decode.uncompressedLeft));
  uint32_t delivered = 0;
  // All output delivered but compressed bytes left: read them through, so
  // the inflater can see the end of its stream.
  const bool drain = stream.avail_out == 0 && decode.compressedLeft > 0;

  while (stream.avail_out > 0 || (drain && decode.compressedLeft > 0)) {
    if (stored && stream.avail_in == 0 && stream.avail_out > 0 && decode.compressedLeft > 0) {
      // Stored data needs no staging: it is read straight into the caller's
      // buffer (and decrypted there), in one read per call.
      const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(stream.avail_out, decode.compressedLeft));
      storage.Read(stream.next_out, k, false);
      DecryptBytes(stream.next_out, k);
      decode.compressedLeft -= k;
      decode.runningCrc = crc32(decode.runningCrc, stream.next_out, k);
      decode.uncompressedLeft -= k;
      stream.avail_out -= k;
      stream.next_out += k;
      stream.total_out += k;
      delivered += k;
      continue;
    }
    if (stream.avail_in == 0 && decode.compressedLeft > 0) {
      const uint32_t n =
          static_cast<uint32_t>(std::min<uint64_t>(decode.compressedLeft, decode.readBuffer.size));
      storage.Read(decode.readBuffer.data, n, false);
      DecryptBuffer(n);
      decode.compressedLeft -= n;
      stream.next_in = decode.readBuffer.data;
      stream.avail_in = n;
    }

    if (stored) {
      if (stream.avail_out == 0) {
        // Draining surplus input of a stored entry: skip it, or the loop
        // would wait on bytes that are never consumed.
        stream.next_in += stream.avail_in;
        stream.avail_in = 0;
        continue;
      }
      const uint32_t k = std::min(stream.avail_out, stream.avail_in);
      // More output claimed than there is input: nothing can ever come.
      if (k == 0) RaiseError(kZipBadArchive, EntryDetail("stored data shorter than its size"));
      std::memcpy(stream.next_out, stream.next_in, k);
      decode.runningCrc = crc32(decode.runningCrc, stream.next_out, k);
      decode.uncompressedLeft -= k;
      stream.avail_in -= k;
      stream.avail_out -= k;
      stream.next_out += k;
      stream.next_in += k;
      stream.total_out += k;
      delivered += k;
    } else {
      const uLong totalBefore = stream.total_out;
      Bytef* const outBefore = stream.next_out;
      const int result = inflate(&stream, Z_SYNC_FLUSH);
      const uint32_t k = static_cast<uint32_t>(stream.total_out - totalBefore);
      decode.runningCrc = crc32(decode.runningCrc, outBefore, k);
      decode.uncompressedLeft -= k;
      delivered += k;
      if (result == Z_STREAM_END) break;
      // Input exhausted before the stream ended: the entry is truncated.
      if (result == Z_BUF_ERROR && stream.avail_in == 0 && decode.compressedLeft == 0)
        RaiseError(kZipBadArchive, EntryDetail("compressed data ends early"));
      CheckInflateResult(result);
    }
  }
  return delivered;
}
