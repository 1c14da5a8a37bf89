// Traditional PKWARE decryption: three keys driven by the CRC-32 table,
// initialised from the password, checked against the entry's 12-byte
// encryption header, then applied to every byte of the entry's data.
#pragma once
#include <cstdint>
#include <string_view>

class TraditionalDecryption {
 public:
  // Keys initialised from the password's bytes.
  explicit TraditionalDecryption(std::string_view password);
  // Decrypts the 12-byte header in place (advancing the keys); true when
  // its last byte is the expected check byte.
  bool CheckHeader(uint8_t* header, uint8_t expected);
  // Decrypts count bytes at p in place.
  void Decrypt(uint8_t* p, uint32_t count);

 private:
  uint32_t m_keys[3];
};
