#include "upk4/entry_section.h"
#include "upk4/zip_exception.h"
#include "upk4/zip_format.h"

EntrySection::EntrySection(VolumeSet& volumes, const EntryRecord& entry, uint16_t index,
                           uint64_t bytesBeforeArchive)
    : m_volumes(volumes), m_entry(entry), m_index(index), m_bytesBeforeArchive(bytesBeforeArchive) {}

void EntrySection::Start(std::optional<std::string_view> password) {
  m_volumes.ChangeVolume(static_cast<int32_t>(m_entry.diskNumberStart));
  m_volumes.File().Seek(static_cast<int64_t>(m_entry.localHeaderOffset + m_bytesBeforeArchive),
                        VolumeFile::begin);
  ByteBlock localExtra;
  if (const char* problem = m_entry.ReadLocalHeader(m_volumes, localExtra))
    RaiseError(kZipBadArchive, Detail(problem));
  m_zip64Local = zip::FindExtraBlock(localExtra.data, localExtra.size, zip::kExtraZip64).has_value();
  m_left = m_entry.compressedSize;
  m_decryption.reset();
  if (!m_entry.IsEncrypted() || !password) return;
  // The sizes include the encryption header; fewer bytes than that cannot
  // be a real entry, and the subtraction below would wrap.
  if (m_entry.compressedSize < zip::kEncryptionHeaderSize)
    RaiseError(kZipBadArchive, Detail("encrypted data shorter than its 12-byte header"));
  m_decryption.emplace(*password);
  uint8_t header[zip::kEncryptionHeaderSize];
  m_volumes.Read(header, sizeof header, false);
  m_left -= zip::kEncryptionHeaderSize;
  // Writers that stream (bit 3) do not know the CRC when they write the
  // header, so they check against the time instead.
  const uint8_t expected = m_entry.HasDataDescriptor()
                               ? static_cast<uint8_t>(m_entry.modificationTime >> 8)
                               : static_cast<uint8_t>(m_entry.crc32 >> 24);
  if (!m_decryption->CheckHeader(header, expected))
    RaiseError(kZipBadPassword, Detail("encryption header does not fit the password"));
}

void EntrySection::Read(uint8_t* p, uint32_t count) {
  m_volumes.Read(p, count, false);
  if (m_decryption) m_decryption->Decrypt(p, count);
  m_left -= count;
}

void EntrySection::CheckDescriptor() {
  if (const char* problem = m_entry.CheckDataDescriptor(m_volumes, m_zip64Local))
    RaiseZipError(kZipBadDescriptor, m_volumes.CurrentPath(),
                  "entry " + std::to_string(m_index) + ": " + problem);
}

[[noreturn]] void EntrySection::RaiseError(int32_t code, std::string detail) const {
  RaiseZipError(code, m_volumes.CurrentPath(), std::move(detail));
}

std::string EntrySection::Detail(const std::string& problem) const {
  return "entry " + std::to_string(m_index) + ": " + problem;
}
