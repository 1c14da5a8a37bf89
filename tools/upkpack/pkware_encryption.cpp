#include "pkware_encryption.h"

#include <zlib.h>

#include <random>
#include <string>

#include "upk4/zip_format.h"

namespace upkpack {

namespace {

uint32_t CrcStep(uint32_t crc, uint8_t b) {
  static const z_crc_t* table = get_crc_table();
  return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

}  // namespace

PkwareEncryptor::PkwareEncryptor(std::string_view password)
    : m_keys{zip::kInitialKeys[0], zip::kInitialKeys[1], zip::kInitialKeys[2]} {
  for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void PkwareEncryptor::UpdateKeys(uint8_t plain) {
  m_keys[0] = CrcStep(m_keys[0], plain);
  m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * zip::kKeyMultiplier + 1;
  m_keys[2] = CrcStep(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}

uint8_t PkwareEncryptor::KeyStreamByte() const {
  const uint32_t t = (m_keys[2] | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void PkwareEncryptor::Encrypt(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t plain = data[i];
    data[i] = static_cast<uint8_t>(plain ^ KeyStreamByte());
    UpdateKeys(plain);
  }
}

std::array<uint8_t, PkwareEncryptor::kHeaderSize> PkwareEncryptor::MakeHeader(
    uint32_t crc, const std::array<uint8_t, 11>& filler) {
  std::array<uint8_t, kHeaderSize> header{};
  for (size_t i = 0; i < filler.size(); ++i) header[i] = filler[i];
  header[11] = static_cast<uint8_t>(crc >> 24);
  Encrypt(header.data(), header.size());
  return header;
}

std::array<uint8_t, 11> PkwareEncryptor::DerivedFiller(std::string_view password,
                                                       std::string_view entryName, uint32_t crc) {
  PkwareEncryptor derive(password);
  std::string input = "upkpack header filler";
  input += '\0';
  input += entryName;
  for (int shift = 0; shift < 32; shift += 8) input += static_cast<char>(crc >> shift);
  derive.Encrypt(reinterpret_cast<uint8_t*>(input.data()), input.size());
  // The filler is the key stream that follows (zeros encrypted), which
  // depends on every byte before it.
  std::array<uint8_t, 11> filler{};
  derive.Encrypt(filler.data(), filler.size());
  return filler;
}

std::array<uint8_t, PkwareEncryptor::kHeaderSize> PkwareEncryptor::MakeHeader(uint32_t crc) {
  std::random_device random;
  std::array<uint8_t, 11> filler{};
  for (uint8_t& b : filler) b = static_cast<uint8_t>(random());
  return MakeHeader(crc, filler);
}

}  // namespace upkpack
