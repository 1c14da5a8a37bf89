// One entry of an archive being read: a chain of the entry's section of the
// volumes (decrypted), the decoder of its method (the inflater for a
// deflated entry, libzstd or liblzma for the newer methods), and at the end
// the check of the CRC-32 and size over every byte handed out. Made by
// Archive::OpenEntry; must not outlive its archive. One thread uses one
// reader; several readers of one archive may be used on several threads.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include "upk4/byte_block.h"
#include "upk4/entry_record.h"
#include "upk4/entry_section.h"
#include "upk4/inflater.h"
#include "upk4/stream_decoder.h"

class Archive;

class EntryReader {
 public:
  // Through Archive::OpenEntry.
  EntryReader(const Archive& archive, std::unique_ptr<VolumeSet> cursor, const EntryRecord& entry,
              uint16_t index, uint32_t readSize);
  // Gives the volume cursor back to the archive; no verdict.
  ~EntryReader();
  EntryReader(const EntryReader&) = delete;
  EntryReader& operator=(const EntryReader&) = delete;

  // Positions on the entry's data (see EntrySection::Start). Throws as the
  // section does, and the bad-archive error for a method other than
  // stored, deflated, LZMA or Zstandard.
  void Start(std::optional<std::string_view> password);
  // Then starts its decoding: a deflated entry through the fast inflater
  // when fastInflater is set (and it can be loaded), else through zlib; an
  // LZMA or Zstandard entry through its library, loaded now if it is not
  // yet (the bad-archive error when it cannot be).
  void StartDecoding(bool fastInflater);

  const EntryRecord& Entry() const { return m_entry; }
  uint16_t Index() const { return m_index; }
  // The local header carried ZIP64 sizes.
  bool LocalZip64() const { return m_section.LocalZip64(); }

  // Up to count decoded bytes into buffer; fewer only at the entry's end.
  // A read after the entry's last byte reads the rest of its stored data
  // through, so that the inflater sees the end of its stream (damage there
  // is raised). Throws CZipException on damage.
  uint32_t Read(void* buffer, uint32_t count);
  // The verdict: 1 when every byte was read and the CRC-32 matches, -1 when
  // the entry was not read to its end (no verdict on the CRC-32). Throws
  // the CRC error on a mismatch. Ends the inflater.
  int32_t Finish();
  // After Finish: the data descriptor, when the entry has one, must repeat
  // the record's values; throws the descriptor error when it does not.
  void CheckDescriptor() { m_section.CheckDescriptor(); }

  // The entry from its first byte again, reading compressed input in pieces
  // of readSize.
  void Restart(uint32_t readSize);
  // Compressed input in pieces of readSize from now on.
  void SetReadSize(uint32_t readSize);
  uint32_t ReadSize() const { return m_input.size; }
  // While set, Read leaves the CRC-32 to the caller, who hands back the CRC
  // of everything read (SetCrc) before Finish.
  void SetCrcByCaller(bool byCaller) { m_crcByCaller = byCaller; }
  uint32_t Crc() const { return m_crc; }
  void SetCrc(uint32_t crc) { m_crc = crc; }
  // Whether a deflated entry decodes through the fast inflater (a choice
  // of speed only: the bytes and verdicts are the same).
  bool UsesFastInflater() const { return m_inflater.CanFallBack(); }

  [[noreturn]] void RaiseError(int32_t code, std::string detail) const {
    m_section.RaiseError(code, std::move(detail));
  }
  std::string Detail(const std::string& problem) const { return m_section.Detail(problem); }

 private:
  void RefillInput();
  void CheckInflateResult(int result) const;
  // The byte count handed out, into the CRC-32 and the size left.
  void Deliver(const uint8_t* data, uint32_t count);
  // Read for the decoders of the newer methods (m_decoder): up to wanted
  // bytes, and once the entry's size is reached, the stream read through
  // to its end, which must come exactly there.
  uint32_t ReadDecoded(uint8_t* out, uint32_t wanted);
  // One call of the decoder, with fresh input when it has taken all; raises
  // the error for damage and for a stream that can go no further.
  int DecodeStep();
  void EndDecodedStream();
  // Positions the deflated entry on its first byte again, with zlib as its
  // inflater, and decodes the given number of bytes into nowhere.
  void RestartThroughZlib(uint64_t skip);
  bool Deflated() const;
  bool NewerMethod() const;

  const Archive& m_archive;
  std::unique_ptr<VolumeSet> m_cursor;
  const EntryRecord& m_entry;
  const uint16_t m_index;
  bool m_fastInflater = false;
  std::optional<std::string> m_password;
  EntrySection m_section;
  Inflater m_inflater;
  std::unique_ptr<StreamDecoder> m_decoder;  // LZMA or Zstandard
  bool m_decoderEnded = false;
  InflateBuffers m_io;  // the inflater's input (in m_input) and output
  ByteBlock m_input;
  uint64_t m_uncompressedLeft = 0;
  uint32_t m_crc = 0;
  bool m_crcByCaller = false;
  bool m_finished = false;
};
