// Traditional PKWARE decryption: three keys driven by the CRC-32 table,
// applied in place to each chunk of entry data before it is inflated.
#include <zlib.h>
#include "upk4/archive_reader.h"
#include "upk4/zip_format.h"

namespace {

const z_crc_t* CrcTable() {
  static const z_crc_t* const table = get_crc_table();
  return table;
}

inline uint32_t Crc32Step(const z_crc_t* table, uint32_t c, uint8_t b) {
  return (c >> 8) ^ static_cast<uint32_t>(table[(c ^ b) & 0xFF]);
}

inline void Update(const z_crc_t* table, uint32_t& k0, uint32_t& k1, uint32_t& k2, uint8_t b) {
  k0 = Crc32Step(table, k0, b);
  k1 = (k1 + (k0 & 0xFF)) * zip::kKeyMultiplier + 1;
  k2 = Crc32Step(table, k2, static_cast<uint8_t>(k1 >> 24));
}

inline uint8_t KeyStreamByte(uint32_t k2) {
  const uint32_t t = (k2 & 0xFFFF) | 2;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

}  // namespace

void ArchiveReader::InitKeys() {
  keys[0] = zip::kInitialKeys[0];
  keys[1] = zip::kInitialKeys[1];
  keys[2] = zip::kInitialKeys[2];
  for (uint32_t i = 0; i < password.size; ++i) UpdateKeys(password.data[i]);
}

void ArchiveReader::UpdateKeys(uint8_t b) { Update(CrcTable(), keys[0], keys[1], keys[2], b); }

uint8_t ArchiveReader::DecryptByte() const { return KeyStreamByte(keys[2]); }

bool ArchiveReader::CheckEncryptionHeader() {
  uint8_t header[zip::kEncryptionHeaderSize];
  storage.Read(header, sizeof header, false);
  for (uint8_t& c : header) {
    c ^= DecryptByte();
    UpdateKeys(c);
  }
  const EntryRecord& entry = *centralDir.currentEntry;
  // Writers that stream (bit 3) do not know the CRC when they write the
  // header, so they check against the time instead.
  const uint8_t expected = entry.HasDataDescriptor()
                               ? static_cast<uint8_t>(entry.modificationTime >> 8)
                               : static_cast<uint8_t>(entry.crc32 >> 24);
  return header[11] == expected;
}

void ArchiveReader::DecryptBuffer(uint32_t count) { DecryptBytes(decode.readBuffer.data, count); }

void ArchiveReader::DecryptBytes(uint8_t* p, uint32_t count) {
  if (!centralDir.currentEntry || !centralDir.currentEntry->IsEncrypted()) return;
  // Keys in locals: this loop runs over every byte of an encrypted entry.
  const z_crc_t* table = CrcTable();
  uint32_t k0 = keys[0], k1 = keys[1], k2 = keys[2];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t plain = p[i] ^ KeyStreamByte(k2);
    p[i] = plain;
    Update(table, k0, k1, k2, plain);
  }
  keys[0] = k0;
  keys[1] = k1;
  keys[2] = k2;
}
