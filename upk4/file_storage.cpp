// The default volume storage: real files through CZipFile64, opened
// read-only and shared for reading only.
#include "upk4/path_functions.h"
#include "upk4/volume_storage.h"
#include "upk4/zip_file64.h"

namespace {

class DiskVolume final : public VolumeFile {
 public:
  uint32_t Read(void* buffer, uint32_t count) override { return m_file.Read(buffer, count); }
  uint64_t Seek(int64_t offset, uint32_t from) override { return m_file.Seek(offset, from); }
  uint64_t GetLength() const override { return m_file.GetLength(); }
  uint64_t GetPosition() const override { return m_file.GetPosition(); }
  plat::WString GetFilePath() const override { return m_file.GetFilePath(); }

  CZipFile64 m_file;  // closes the file when the volume goes
};

class FileStorage final : public VolumeStorage {
 public:
  std::unique_ptr<VolumeFile> Open(plat::WStringView name) override {
    auto volume = std::make_unique<DiskVolume>();
    CFileException error(CFileException::none, -1);
    if (!volume->m_file.Open(name, CFile::modeRead | CFile::shareDenyWrite, &error)) throw error;
    return volume;
  }
  bool IsRemovable(plat::WStringView path) const override { return IsRemovableDrive(path); }
};

}  // namespace

VolumeStorage& VolumeStorage::Files() {
  static FileStorage files;
  return files;
}
