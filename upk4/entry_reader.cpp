#include "upk4/entry_reader.h"
#include <algorithm>
#include <string>
#include <cstring>
#include <zlib.h>
#include "upk4/archive.h"
#include "upk4/zip_exception.h"
#include "upk4/lzma_library.h"
#include "upk4/zip_format.h"
#include "upk4/zstd_library.h"

namespace {

// Eight hexadecimal digits, upper case (the C library's formatting would
// bring its whole machinery, floating point included, into the binaries).
std::string Hex8(uint32_t value) {
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[i] = "0123456789ABCDEF"[value & 0xF];
  return text;
}

}  // namespace

EntryReader::EntryReader(const Archive& archive, std::unique_ptr<VolumeSet> cursor,
                         const EntryRecord& entry, uint16_t index, uint32_t readSize)
    : m_archive(archive),
      m_cursor(std::move(cursor)),
      m_entry(entry),
      m_index(index),
      m_section(*m_cursor, entry, index, archive.BytesBeforeArchive()) {
  m_input.Allocate(readSize, false);
}

EntryReader::~EntryReader() {
  m_inflater.End();
  m_archive.ReturnCursor(std::move(m_cursor));
}

bool EntryReader::Deflated() const { return m_entry.method == zip::kMethodDeflated; }

bool EntryReader::NewerMethod() const {
  return m_entry.method == zip::kMethodZstd || m_entry.method == zip::kMethodLzma;
}

void EntryReader::Start(std::optional<std::string_view> password) {
  if (password) m_password.emplace(*password);
  m_section.Start(password);
  if (m_entry.method != zip::kMethodStored && !Deflated() && !NewerMethod()) {
    RaiseError(kZipBadArchive, Detail("method " + std::to_string(m_entry.method) +
                                      " is not one this reader decodes"));
  }
}

void EntryReader::StartDecoding(bool fastInflater) {
  m_fastInflater = fastInflater;
  // A wrong size only changes which inflater decodes, never the result.
  if (Deflated()) CheckInflateResult(m_inflater.Init(m_fastInflater));
  m_decoder.reset();
  m_decoderEnded = false;
  if (m_entry.method == zip::kMethodZstd) {
    m_decoder = MakeZstdDecoder();
    if (!m_decoder)
      RaiseError(kZipBadArchive,
                 Detail(std::string("Zstandard decoder ") + ZstdLibraryName() + " cannot be loaded"));
  } else if (m_entry.method == zip::kMethodLzma) {
    m_decoder = MakeLzmaDecoder((m_entry.flags & zip::kFlagLzmaEndMarker) != 0,
                                m_entry.uncompressedSize);
    if (!m_decoder)
      RaiseError(kZipBadArchive,
                 Detail(std::string("LZMA decoder ") + LzmaLibraryName() + " cannot be loaded"));
  }
  m_uncompressedLeft = m_entry.uncompressedSize;
  m_crc = 0;
  m_finished = false;
  m_io.availIn = 0;
}

void EntryReader::Restart(uint32_t readSize) {
  m_inflater.End();
  m_decoder.reset();
  m_input.Allocate(readSize, false);
  m_section.Start(m_password);
  StartDecoding(m_fastInflater);
}

void EntryReader::SetReadSize(uint32_t readSize) {
  // Only between pieces: the inflater holds no input of the old buffer.
  if (m_io.availIn == 0) m_input.Allocate(readSize, false);
}

void EntryReader::RefillInput() {
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(m_section.Left(), m_input.size));
  m_section.Read(m_input.data, n);
  m_io.nextIn = m_input.data;
  m_io.availIn = n;
}

void EntryReader::CheckInflateResult(int result) const {
  if (result == Z_OK || result == Z_NEED_DICT) return;
  RaiseError(result, Detail("compressed data does not inflate"));
}

void EntryReader::RestartThroughZlib(uint64_t skip) {
  // The same steps as opening: local header, encryption header, sizes.
  m_section.Start(m_password);
  InflateBuffers& io = m_io;
  CheckInflateResult(m_inflater.FallBackToZlib(io));
  // What was delivered before is delivered again, into nowhere.
  uint8_t scratch[4096];
  while (skip > 0) {
    if (io.availIn == 0 && m_section.Left() > 0) RefillInput();
    io.nextOut = scratch;
    io.availOut = static_cast<uint32_t>(std::min<uint64_t>(skip, sizeof scratch));
    const int result = m_inflater.Inflate(io);
    skip -= static_cast<uint64_t>(io.nextOut - scratch);
    if (result == Z_STREAM_END) break;
    if (result == Z_BUF_ERROR && io.availIn == 0 && m_section.Left() == 0)
      RaiseError(kZipBadArchive, Detail("compressed data ends early"));
    CheckInflateResult(result);
  }
}

void EntryReader::Deliver(const uint8_t* data, uint32_t count) {
  if (!m_crcByCaller) m_crc = UpdateCrc32(m_crc, data, count);
  m_uncompressedLeft -= count;
}

int EntryReader::DecodeStep() {
  InflateBuffers& io = m_io;
  if (io.availIn == 0 && m_section.Left() > 0) RefillInput();
  const bool lastInput = m_section.Left() == 0;
  const int result = m_decoder->Decode(io, lastInput);
  switch (result) {
    case Z_OK: return result;
    case Z_STREAM_END: m_decoderEnded = true; return result;
    case Z_MEM_ERROR: RaiseError(Z_MEM_ERROR, Detail("no memory for the decoder"));
    case Z_DATA_ERROR: RaiseError(kZipBadArchive, Detail(m_decoder->Problem()));
    default:
      // No progress with all input given: the stream stops short of its
      // end. (With input left, no progress is a decoder stuck on damage.)
      RaiseError(kZipBadArchive, Detail(lastInput && io.availIn == 0
                                            ? "compressed data ends early"
                                            : "compressed data cannot be decoded further"));
  }
}

uint32_t EntryReader::ReadDecoded(uint8_t* out, uint32_t wanted) {
  InflateBuffers& io = m_io;
  io.nextOut = out;
  io.availOut = wanted;
  while (io.availOut > 0 && !m_decoderEnded) DecodeStep();
  const uint32_t delivered = static_cast<uint32_t>(io.nextOut - out);
  Deliver(out, delivered);
  if (m_uncompressedLeft == 0 || m_decoderEnded) EndDecodedStream();
  return delivered;
}

void EntryReader::EndDecodedStream() {
  if (m_uncompressedLeft > 0) {
    RaiseError(kZipBadArchive, Detail("compressed data ends " + std::to_string(m_uncompressedLeft) +
                                      " bytes before the entry's size"));
  }
  // The entry's size is reached: the stream must end here. One byte of
  // room: a byte arriving in it lies beyond the entry's size. Each step
  // takes input or fails, so this ends.
  InflateBuffers& io = m_io;
  uint8_t surplus = 0;
  while (!m_decoderEnded) {
    io.nextOut = &surplus;
    io.availOut = 1;
    DecodeStep();
    if (io.availOut == 0) RaiseError(kZipBadArchive, Detail("more data than the entry's size"));
  }
  // The entry's compressed size says where the stream ends: bytes after
  // its end (Zstandard reads them as a further frame) are damage too.
  if (io.availIn > 0 || m_section.Left() > 0)
    RaiseError(kZipBadArchive, Detail("bytes after the end of the compressed stream"));
}

uint32_t EntryReader::Read(void* buffer, uint32_t count) {
  if (m_finished || buffer == nullptr || count == 0) return 0;
  if (m_decoder)
    return ReadDecoded(static_cast<uint8_t*>(buffer),
                       static_cast<uint32_t>(std::min<uint64_t>(count, m_uncompressedLeft)));

  const bool stored = !Deflated();
  InflateBuffers& io = m_io;
  // All output delivered but compressed bytes left: read them through, so
  // the inflater can see the end of its stream. It gets one byte of room
  // there: a byte arriving in it lies beyond the entry's size. (Inflaters
  // differ in what they do with no room at all; with room they agree.)
  // Bytes already read count as much as bytes still in the archive, so that
  // the outcome does not depend on the size of the reads.
  const auto inputLeft = [&] { return m_section.Left() > 0 || io.availIn > 0; };
  const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(count, m_uncompressedLeft));
  const bool drain = wanted == 0 && inputLeft();
  uint8_t surplus = 0;
  const uint64_t leftAtStart = m_uncompressedLeft;
  const uint32_t crcAtStart = m_crc;
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
    RestartThroughZlib(m_entry.uncompressedSize - leftAtStart);
    m_uncompressedLeft = leftAtStart;
    m_crc = crcAtStart;
    delivered = 0;
    startCall();
  };
  const auto deliver = [&](const uint8_t* data, uint32_t k) {
    if (!m_crcByCaller) m_crc = UpdateCrc32(m_crc, data, k);
    m_uncompressedLeft -= k;
    delivered += k;
  };

  while (drain ? inputLeft() : io.availOut > 0) {
    if (stored && io.availIn == 0 && io.availOut > 0 && m_section.Left() > 0) {
      // Stored data needs no staging: it is read straight into the caller's
      // buffer (and decrypted there), in one read per call.
      const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(io.availOut, m_section.Left()));
      m_section.Read(io.nextOut, k);
      deliver(io.nextOut, k);
      io.availOut -= k;
      io.nextOut += k;
      continue;
    }
    if (io.availIn == 0 && m_section.Left() > 0) RefillInput();

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
      if (k == 0) RaiseError(kZipBadArchive, Detail("stored data shorter than its size"));
      std::memcpy(io.nextOut, io.nextIn, k);
      deliver(io.nextOut, k);
      io.availIn -= k;
      io.availOut -= k;
      io.nextOut += k;
      io.nextIn += k;
      continue;
    }

    uint8_t* const outBefore = io.nextOut;
    const int result = m_inflater.Inflate(io);
    const uint32_t k = static_cast<uint32_t>(io.nextOut - outBefore);
    const bool surplusByte = drain && k > 0;
    if ((surplusByte || (result != Z_OK && result != Z_STREAM_END)) && m_inflater.CanFallBack()) {
      fallBack();
      continue;
    }
    if (surplusByte) CheckInflateResult(Z_BUF_ERROR);
    deliver(outBefore, k);
    if (result == Z_STREAM_END) break;
    // Input exhausted before the stream ended: the entry is truncated.
    if (result == Z_BUF_ERROR && io.availIn == 0 && m_section.Left() == 0)
      RaiseError(kZipBadArchive, Detail("compressed data ends early"));
    CheckInflateResult(result);
    // Drained to the last byte without seeing the end: ISA-L may still be
    // waiting for the rest of a block header in which zlib finds damage.
    if (drain && !inputLeft() && m_inflater.CanFallBack()) fallBack();
  }
  return delivered;
}

int32_t EntryReader::Finish() {
  int32_t result = 1;
  if (m_uncompressedLeft == 0) {
    if (m_crc != m_entry.crc32) {
      RaiseError(kZipBadCrc, Detail("data gives CRC-32 " + Hex8(m_crc) + ", the header " +
                                    Hex8(m_entry.crc32)));
    }
  } else {
    result = -1;  // not read to its end: no verdict on the CRC
  }
  m_inflater.End();
  m_decoder.reset();
  m_finished = true;
  return result;
}
