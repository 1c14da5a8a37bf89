#include "upk4/memory_storage.h"

#include <algorithm>
#include <cstring>
#include "framework/file_exception.h"

namespace {

class StringContents final : public MemoryContents {
 public:
  explicit StringContents(std::string bytes) : m_bytes(std::move(bytes)) {}
  uint64_t Length() const override { return m_bytes.size(); }
  void CopyOut(uint64_t at, uint8_t* out, size_t count) const override {
    std::memcpy(out, m_bytes.data() + at, count);
  }

 private:
  std::string m_bytes;
};

class ZeroRunContents final : public MemoryContents {
 public:
  ZeroRunContents(std::string bytes, uint64_t at, uint64_t length)
      : m_bytes(std::move(bytes)), m_at(at), m_length(length) {}
  uint64_t Length() const override { return m_bytes.size() + m_length; }
  void CopyOut(uint64_t at, uint8_t* out, size_t count) const override {
    while (count > 0) {
      size_t n;
      if (at < m_at) {
        n = static_cast<size_t>(std::min<uint64_t>(count, m_at - at));
        std::memcpy(out, m_bytes.data() + at, n);
      } else if (at < m_at + m_length) {
        n = static_cast<size_t>(std::min<uint64_t>(count, m_at + m_length - at));
        std::memset(out, 0, n);
      } else {
        n = count;
        std::memcpy(out, m_bytes.data() + (at - m_length), n);
      }
      at += n;
      out += n;
      count -= n;
    }
  }

 private:
  std::string m_bytes;
  uint64_t m_at;
  uint64_t m_length;
};

class MemoryVolume final : public VolumeFile {
 public:
  MemoryVolume(plat::WString path, std::shared_ptr<const MemoryContents> contents)
      : m_path(std::move(path)), m_contents(std::move(contents)) {}

  uint32_t Read(void* buffer, uint32_t count) override {
    const uint64_t length = m_contents->Length();
    if (m_position >= length) return 0;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, length - m_position));
    m_contents->CopyOut(m_position, static_cast<uint8_t*>(buffer), n);
    m_position += n;
    return n;
  }
  uint64_t Seek(int64_t offset, uint32_t from) override {
    const int64_t base = from == begin     ? 0
                         : from == current ? static_cast<int64_t>(m_position)
                                           : static_cast<int64_t>(m_contents->Length());
    const int64_t target = base + offset;
    if (target < 0) throw CFileException(CFileException::badSeek, plat::ERROR_SEEK, m_path);
    m_position = static_cast<uint64_t>(target);
    return m_position;
  }
  uint64_t GetLength() const override { return m_contents->Length(); }
  uint64_t GetPosition() const override { return m_position; }
  plat::WString GetFilePath() const override { return m_path; }

 private:
  plat::WString m_path;
  std::shared_ptr<const MemoryContents> m_contents;
  uint64_t m_position = 0;
};

}  // namespace

std::shared_ptr<const MemoryContents> WithZeroRun(std::string bytes, uint64_t at, uint64_t length) {
  return std::make_shared<ZeroRunContents>(std::move(bytes), at, length);
}

void MemoryStorage::Add(plat::WStringView name, std::string bytes) {
  Add(name, std::make_shared<StringContents>(std::move(bytes)));
}

void MemoryStorage::Add(plat::WStringView name, std::shared_ptr<const MemoryContents> contents) {
  m_files[plat::WString(name)] = std::move(contents);
}

int MemoryStorage::OpenCount(plat::WStringView name) const {
  auto it = m_opens.find(plat::WString(name));
  return it == m_opens.end() ? 0 : it->second;
}

std::unique_ptr<VolumeFile> MemoryStorage::Open(plat::WStringView name) {
  const plat::WString path(name);
  ++m_opens[path];
  auto it = m_files.find(path);
  if (it == m_files.end())
    throw CFileException(CFileException::fileNotFound, plat::ERROR_FILE_NOT_FOUND, path);
  return std::make_unique<MemoryVolume>(path, it->second);
}
