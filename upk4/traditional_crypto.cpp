#include "upk4/traditional_crypto.h"
#include <zlib.h>
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

TraditionalDecryption::TraditionalDecryption(std::string_view password)
    : m_keys{zip::kInitialKeys[0], zip::kInitialKeys[1], zip::kInitialKeys[2]} {
  const z_crc_t* table = CrcTable();
  for (const char c : password) Update(table, m_keys[0], m_keys[1], m_keys[2], static_cast<uint8_t>(c));
}

bool TraditionalDecryption::CheckHeader(uint8_t* header, uint8_t expected) {
  Decrypt(header, zip::kEncryptionHeaderSize);
  return header[zip::kEncryptionHeaderSize - 1] == expected;
}

void TraditionalDecryption::Decrypt(uint8_t* p, uint32_t count) {
  // Keys in locals: this loop runs over every byte of an encrypted entry.
  const z_crc_t* table = CrcTable();
  uint32_t k0 = m_keys[0], k1 = m_keys[1], k2 = m_keys[2];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t plain = p[i] ^ KeyStreamByte(k2);
    p[i] = plain;
    Update(table, k0, k1, k2, plain);
  }
  m_keys[0] = k0;
  m_keys[1] = k1;
  m_keys[2] = k2;
}
