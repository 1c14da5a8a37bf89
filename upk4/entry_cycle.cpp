// The life of the entry being extracted, and every change of its state:
// opening it (local header, password, inflater), delivering its decoded
// bytes (stored or raw-deflated data, optionally behind the traditional
// encryption, with the running CRC-32 kept over every byte handed out),
// closing it with a verdict, and dropping it without one.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <zlib.h>
#include "framework/file.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "upk4/archive_reader.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

bool ArchiveReader::OpenEntry(uint16_t index) {
  if (index >= centralDir.headers.size() || entryState != EntryState::none) return false;

  decode.readBuffer.Allocate(decode.readBufferSize, false);
  centralDir.SeekEntry(index);
  decode.entryIndex = index;
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
  // Counted once per opening: a restart after damage decodes the same
  // entry again.
  if (entry.method == zip::kMethodDeflated)
    decode.deflatedClaimed += std::min(entry.uncompressedSize, UINT64_MAX - decode.deflatedClaimed);
  StartDecoding();
  entryState = EntryState::open;
  return true;
}

void ArchiveReader::StartDecoding() {
  const EntryRecord& entry = *centralDir.currentEntry;
  Inflater& inflater = decode.inflater;
  if (entry.method == zip::kMethodDeflated) {
    // A wrong size only changes which inflater decodes, never the result.
    const bool fast = decode.deflatedClaimed >= decode.fastInflaterFrom;
    CheckInflateResult(inflater.Init(useAllocationRegister ? &allocations : nullptr, fast));
  }
  decode.compressedLeft =
      entry.compressedSize - (entry.IsEncrypted() ? zip::kEncryptionHeaderSize : 0);
  decode.uncompressedLeft = entry.uncompressedSize;
  decode.runningCrc = 0;
  inflater.availIn = 0;
}

void ArchiveReader::RestartEntry(uint32_t readSize) {
  decode.inflater.End();
  decode.readBuffer.Allocate(readSize, false);
  centralDir.SeekEntry(decode.entryIndex);
  if (centralDir.currentEntry->IsEncrypted()) {
    InitKeys();
    CheckEncryptionHeader();
  }
  StartDecoding();
}

void ArchiveReader::RefillInput() {
  Inflater& io = decode.inflater;
  const uint32_t n =
      static_cast<uint32_t>(std::min<uint64_t>(decode.compressedLeft, decode.readBuffer.size));
  storage.Read(decode.readBuffer.data, n, false);
  DecryptBuffer(n);
  decode.compressedLeft -= n;
  io.nextIn = decode.readBuffer.data;
  io.availIn = n;
}

void ArchiveReader::RestartThroughZlib(uint64_t skip) {
  // The same steps as opening: local header, encryption header, sizes.
  centralDir.SeekEntry(decode.entryIndex);
  const EntryRecord& entry = *centralDir.currentEntry;
  if (entry.IsEncrypted()) {
    InitKeys();
    CheckEncryptionHeader();
  }
  decode.compressedLeft =
      entry.compressedSize - (entry.IsEncrypted() ? zip::kEncryptionHeaderSize : 0);
  Inflater& io = decode.inflater;
  CheckInflateResult(io.FallBackToZlib());
  // What was delivered before is delivered again, into nowhere.
  uint8_t scratch[4096];
  while (skip > 0) {
    if (io.availIn == 0 && decode.compressedLeft > 0) RefillInput();
    io.nextOut = scratch;
    io.availOut = static_cast<uint32_t>(std::min<uint64_t>(skip, sizeof scratch));
    const int result = io.Inflate();
    skip -= static_cast<uint64_t>(io.nextOut - scratch);
    if (result == Z_STREAM_END) break;
    if (result == Z_BUF_ERROR && io.availIn == 0 && decode.compressedLeft == 0)
      RaiseError(kZipBadArchive, EntryDetail("compressed data ends early"));
    CheckInflateResult(result);
  }
}

uint32_t ArchiveReader::ReadEntry(void* buffer, uint32_t count) {
  if (entryState != EntryState::open || buffer == nullptr || count == 0) return 0;

  const bool stored = centralDir.currentEntry->method == zip::kMethodStored;
  Inflater& io = decode.inflater;
  // All output delivered but compressed bytes left: read them through, so
  // the inflater can see the end of its stream. It gets one byte of room
  // there: a byte arriving in it lies beyond the entry's size. (Inflaters
  // differ in what they do with no room at all; with room they agree.)
  // Bytes already read count as much as bytes still in the archive, so that
  // the outcome does not depend on the size of the reads.
  const auto inputLeft = [&] { return decode.compressedLeft > 0 || io.availIn > 0; };
  const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(count, decode.uncompressedLeft));
  const bool drain = wanted == 0 && inputLeft();
  uint8_t surplus = 0;
  const uint64_t leftAtStart = decode.uncompressedLeft;
  const uint32_t crcAtStart = decode.runningCrc;
  uint32_t delivered = 0;
  const auto startCall = [&] {
    io.nextOut = static_cast<uint8_t*>(buffer);
    io.availOut = wanted;
    if (drain && !stored) {
      io.nextOut = &surplus;
      io.availOut = 1;
    }
  };
  startCall();
  // The fast inflater found something wrong: zlib decides, from the start of
  // the entry, as if it had decoded all along.
  const auto fallBack = [&] {
    RestartThroughZlib(centralDir.currentEntry->uncompressedSize - leftAtStart);
    decode.uncompressedLeft = leftAtStart;
    decode.runningCrc = crcAtStart;
    delivered = 0;
    startCall();
  };

  while (drain ? inputLeft() : io.availOut > 0) {
    if (stored && io.availIn == 0 && io.availOut > 0 && decode.compressedLeft > 0) {
      // Stored data needs no staging: it is read straight into the caller's
      // buffer (and decrypted there), in one read per call.
      const uint32_t k =
          static_cast<uint32_t>(std::min<uint64_t>(io.availOut, decode.compressedLeft));
      storage.Read(io.nextOut, k, false);
      DecryptBytes(io.nextOut, k);
      decode.compressedLeft -= k;
      if (!decode.crcByCaller) decode.runningCrc = UpdateCrc32(decode.runningCrc, io.nextOut, k);
      decode.uncompressedLeft -= k;
      io.availOut -= k;
      io.nextOut += k;
      delivered += k;
      continue;
    }
    if (io.availIn == 0 && decode.compressedLeft > 0) RefillInput();

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
      if (k == 0) RaiseError(kZipBadArchive, EntryDetail("stored data shorter than its size"));
      std::memcpy(io.nextOut, io.nextIn, k);
      if (!decode.crcByCaller) decode.runningCrc = UpdateCrc32(decode.runningCrc, io.nextOut, k);
      decode.uncompressedLeft -= k;
      io.availIn -= k;
      io.availOut -= k;
      io.nextOut += k;
      io.nextIn += k;
      delivered += k;
      continue;
    }

    uint8_t* const outBefore = io.nextOut;
    const int result = io.Inflate();
    const uint32_t k = static_cast<uint32_t>(io.nextOut - outBefore);
    const bool surplusByte = drain && k > 0;
    if ((surplusByte || (result != Z_OK && result != Z_STREAM_END)) && io.CanFallBack()) {
      fallBack();
      continue;
    }
    if (surplusByte) CheckInflateResult(Z_BUF_ERROR);
    if (!decode.crcByCaller) decode.runningCrc = UpdateCrc32(decode.runningCrc, outBefore, k);
    decode.uncompressedLeft -= k;
    delivered += k;
    if (result == Z_STREAM_END) break;
    // Input exhausted before the stream ended: the entry is truncated.
    if (result == Z_BUF_ERROR && io.availIn == 0 && decode.compressedLeft == 0)
      RaiseError(kZipBadArchive, EntryDetail("compressed data ends early"));
    CheckInflateResult(result);
    // Drained to the last byte without seeing the end: ISA-L may still be
    // waiting for the rest of a block header in which zlib finds damage.
    if (drain && !inputLeft() && io.CanFallBack()) fallBack();
  }
  return delivered;
}

int32_t ArchiveReader::CloseEntry(CFile* output) {
  if (entryState != EntryState::open) return 0;
  const EntryRecord& entry = *centralDir.currentEntry;

  int32_t result = 1;
  if (decode.uncompressedLeft == 0) {
    if (decode.runningCrc != entry.crc32) {
      char text[64];
      std::snprintf(text, sizeof text, "data gives CRC-32 %08X, the header %08X",
                    static_cast<unsigned>(decode.runningCrc), static_cast<unsigned>(entry.crc32));
      RaiseError(kZipBadCrc, EntryDetail(text));
    }
  } else {
    result = -1;  // not read to its end: no verdict on the CRC
  }
  if (entry.method == zip::kMethodDeflated) decode.inflater.End();

  if (output != nullptr) {
    try {
      // Through the open file: its name is not looked up again.
      const plat::CalendarTime now = plat::CurrentTime();
      output->SetTimes(now, now, entry.GetModificationTime());
    } catch (const CException&) {
      // The entry stays open; closing the archive finishes it.
      return 0;
    }
    // A failed close throws with the entry still open, as a failed write.
    const plat::WString path = output->GetFilePath();
    output->Close();
    if (!plat::SetFileAttributes(path, entry.externalAttributes)) result = -2;
  }

  centralDir.FinishEntry();
  entryState = EntryState::none;
  decode.readBuffer.Release();
  FreeRegisteredAllocations();
  return result;
}

bool ArchiveReader::AbandonEntry() {
  if (entryState != EntryState::open) return false;
  decode.inflater.End();
  centralDir.localExtraField.Release();
  centralDir.currentEntry = nullptr;
  entryState = EntryState::none;
  decode.readBuffer.Release();
  FreeRegisteredAllocations();
  return true;
}

void ArchiveReader::ForgetEntry() {
  // No verdict and no orderly end: the inflater's memory goes back through
  // the register. The inflater lets go of its input first.
  decode.inflater.Forget();
  decode.readBuffer.Release();
  entryState = EntryState::none;
  FreeRegisteredAllocations();
}
