// Traditional PKWARE encryption of entry data. minizip has it too, but the
// system's build of it writes encryption headers that no reader accepts, so
// encrypted entries are encrypted here and handed to minizip raw.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace upkpack {

class PkwareEncryptor {
 public:
  static constexpr size_t kHeaderSize = 12;

  explicit PkwareEncryptor(std::string_view password);

  // The encrypted 12-byte header that starts the entry's data: 11 random
  // bytes and the check byte, the high byte of the entry's CRC-32 (the
  // entries carry no data descriptor).
  std::array<uint8_t, kHeaderSize> MakeHeader(uint32_t crc);
  // Same, with the 11 leading bytes given (for reproducible tests).
  std::array<uint8_t, kHeaderSize> MakeHeader(uint32_t crc,
                                              const std::array<uint8_t, 11>& filler);

  // 11 filler bytes that depend only on the password and the entry, for
  // packages that must come out the same byte for byte. The cipher itself,
  // keyed by the password and a fixed prefix that no entry's own header
  // starts from, runs over the entry's name and CRC-32: without the
  // password the bytes are as unpredictable as the cipher allows.
  static std::array<uint8_t, 11> DerivedFiller(std::string_view password,
                                               std::string_view entryName, uint32_t crc);

  void Encrypt(uint8_t* data, size_t count);

 private:
  void UpdateKeys(uint8_t plain);
  uint8_t KeyStreamByte() const;
  uint32_t m_keys[3];
};

}  // namespace upkpack
