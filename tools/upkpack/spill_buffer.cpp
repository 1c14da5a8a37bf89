#include "spill_buffer.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "pack_error.h"

namespace upkpack {

namespace fs = std::filesystem;

SpillBuffer::SpillBuffer(fs::path spillDirectory, size_t memoryLimit)
    : m_directory(std::move(spillDirectory)), m_memoryLimit(memoryLimit) {}

SpillBuffer::SpillBuffer(SpillBuffer&& other) noexcept
    : m_directory(std::move(other.m_directory)),
      m_memoryLimit(other.m_memoryLimit),
      m_memory(std::move(other.m_memory)),
      m_file(other.m_file),
      m_filePath(std::move(other.m_filePath)),
      m_size(other.m_size) {
  other.m_file = nullptr;
  other.m_size = 0;
}

SpillBuffer& SpillBuffer::operator=(SpillBuffer&& other) noexcept {
  if (this == &other) return *this;
  Clear();
  m_directory = std::move(other.m_directory);
  m_memoryLimit = other.m_memoryLimit;
  m_memory = std::move(other.m_memory);
  m_file = other.m_file;
  m_filePath = std::move(other.m_filePath);
  m_size = other.m_size;
  other.m_file = nullptr;
  other.m_size = 0;
  return *this;
}

SpillBuffer::~SpillBuffer() { Clear(); }

void SpillBuffer::Clear() {
  if (m_file != nullptr) {
    std::fclose(m_file);
    m_file = nullptr;
    std::error_code ec;
    fs::remove(m_filePath, ec);
  }
  m_memory.clear();
  m_memory.shrink_to_fit();
  m_size = 0;
}

void SpillBuffer::Append(const uint8_t* data, size_t count) {
  if (count == 0) return;
  if (m_file == nullptr && m_memory.size() + count <= m_memoryLimit) {
    m_memory.insert(m_memory.end(), data, data + count);
    m_size += count;
    return;
  }
  if (m_file == nullptr) {
    // Named after a process-wide counter: buffers on several threads
    // spill into the same directory.
    static std::atomic<unsigned> counter{0};
    m_filePath = m_directory / (".spill-" + std::to_string(counter++));
    m_file = std::fopen(m_filePath.string().c_str(), "w+b");
    if (m_file == nullptr) throw PackError("cannot write " + m_filePath.string());
    if (!m_memory.empty() && std::fwrite(m_memory.data(), 1, m_memory.size(), m_file) != m_memory.size())
      throw PackError("cannot write " + m_filePath.string());
    m_memory.clear();
    m_memory.shrink_to_fit();
  }
  if (std::fwrite(data, 1, count, m_file) != count) throw PackError("cannot write " + m_filePath.string());
  m_size += count;
}

void SpillBuffer::Replay(const std::function<void(uint8_t* data, size_t count)>& sink) {
  if (m_file == nullptr) {
    if (!m_memory.empty()) sink(m_memory.data(), m_memory.size());
    return;
  }
  if (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0)
    throw PackError("cannot read " + m_filePath.string());
  std::vector<uint8_t> piece(1 << 20);
  uint64_t left = m_size;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
    if (std::fread(piece.data(), 1, want, m_file) != want)
      throw PackError("cannot read " + m_filePath.string());
    sink(piece.data(), want);
    left -= want;
  }
}

}  // namespace upkpack
