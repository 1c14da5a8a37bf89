// The first links of an entry reader's chain: the entry's stored bytes as
// they lie in the volumes (after its local header, across volumes of a
// split archive), decrypted with the traditional PKWARE keys when the entry
// is encrypted. Reads through a volume cursor of its own.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include "upk4/byte_block.h"
#include "upk4/entry_record.h"
#include "upk4/traditional_crypto.h"
#include "upk4/volume_set.h"

class EntrySection {
 public:
  // volumes is the cursor the section reads through; bytesBeforeArchive
  // is added to the record's local header offset.
  EntrySection(VolumeSet& volumes, const EntryRecord& entry, uint16_t index,
               uint64_t bytesBeforeArchive);
  EntrySection(const EntrySection&) = delete;
  EntrySection& operator=(const EntrySection&) = delete;

  // Positions on the entry's local header, checks it against the record,
  // and with a password checks the encryption header; the section then
  // stands on the entry's first stored byte (after the encryption header).
  // Throws the bad-archive error for an unsound local header, the
  // bad-password error when the header does not fit the password.
  void Start(std::optional<std::string_view> password);
  // The local header carried ZIP64 sizes (its descriptor's are 8 bytes).
  bool LocalZip64() const { return m_zip64Local; }
  // Stored bytes not yet read.
  uint64_t Left() const { return m_left; }
  // Reads count (at most Left()) bytes, decrypted.
  void Read(uint8_t* p, uint32_t count);
  // With the section read to its end: the data descriptor, when the entry
  // has one, must repeat the record's CRC-32 and sizes.
  void CheckDescriptor();

  [[noreturn]] void RaiseError(int32_t code, std::string detail) const;
  // "entry N: problem" for this entry.
  std::string Detail(const std::string& problem) const;

 private:
  VolumeSet& m_volumes;
  const EntryRecord& m_entry;
  const uint16_t m_index;
  const uint64_t m_bytesBeforeArchive;
  uint64_t m_left = 0;
  bool m_zip64Local = false;  // the local header carried ZIP64 sizes
  std::optional<TraditionalDecryption> m_decryption;
};
