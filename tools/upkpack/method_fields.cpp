#include "method_fields.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "framework/byte_cursor.h"
#include "framework/exception.h"
#include "pack_error.h"
#include "platform/code_page.h"
#include "platform/native_path.h"
#include "upk4/archive.h"
#include "upk4/zip_format.h"

namespace upkpack {

namespace {

// Where the two fields lie in each header.
constexpr uint32_t kLocalVersionAt = 4;
constexpr uint32_t kLocalMethodAt = 8;
constexpr uint32_t kCentralVersionAt = 6;
constexpr uint32_t kCentralMethodAt = 10;

class HeaderPatcher {
 public:
  explicit HeaderPatcher(const std::filesystem::path& path)
      : m_path(path), m_file(path, std::ios::binary | std::ios::in | std::ios::out) {
    if (!m_file) throw PackError("cannot update " + path.string());
  }
  // The method, and the version needed unless already higher.
  void Patch(uint64_t header, uint32_t versionAt, uint32_t methodAt, uint16_t method) {
    uint8_t version[2];
    m_file.seekg(static_cast<std::streamoff>(header + versionAt));
    m_file.read(reinterpret_cast<char*>(version), 2);
    const uint16_t needed = std::max(GetLe16(version), zip::kVersionLzmaZstd);
    Put16(header + versionAt, needed);
    Put16(header + methodAt, method);
    if (!m_file) throw PackError("cannot update " + m_path.string());
  }

 private:
  void Put16(uint64_t at, uint16_t value) {
    const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    m_file.seekp(static_cast<std::streamoff>(at));
    m_file.write(bytes, 2);
  }
  const std::filesystem::path& m_path;
  std::fstream m_file;
};

}  // namespace

void SetNewerMethods(const std::filesystem::path& zipFile, const std::vector<bool>& patch,
                     uint16_t method) {
  // The directory as the reader finds it: each record's local header, and
  // the central headers one after the other from the directory's start.
  std::unique_ptr<Archive> archive;
  try {
    archive = Archive::Open(plat::FromNativePath(std::filesystem::absolute(zipFile).string()),
                            ArchiveOptions{});
  } catch (const CException& e) {
    throw PackError("the archive does not read back: " + plat::Utf16ToUtf8(e.GetErrorMessage()));
  }
  if (archive->EntryCount() != patch.size() || archive->BytesBeforeArchive() != 0)
    throw PackError("the archive does not read back as written: " + zipFile.string());
  std::vector<std::pair<uint64_t, uint64_t>> headers;  // local, central
  uint64_t central = archive->End().directoryOffset;
  for (size_t i = 0; i < patch.size(); ++i) {
    const EntryRecord& entry = archive->Entry(i);
    if (patch[i]) headers.emplace_back(entry.localHeaderOffset, central);
    central += zip::kCentralHeaderSize + entry.storedName.size + entry.extraField.size +
               entry.comment.size;
  }
  archive.reset();
  HeaderPatcher patcher(zipFile);
  for (const auto& [local, centralHeader] : headers) {
    patcher.Patch(local, kLocalVersionAt, kLocalMethodAt, method);
    patcher.Patch(centralHeader, kCentralVersionAt, kCentralMethodAt, method);
  }
}

}  // namespace upkpack
