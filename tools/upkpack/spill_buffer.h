// Bytes collected in memory up to a limit and in a file of their own past
// it: an entry's compressed data waits here, while entries before it are
// still being written, without holding a large entry in memory.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace upkpack {

class SpillBuffer {
 public:
  // Past memoryLimit bytes the data goes to a file in spillDirectory,
  // removed again when the buffer goes.
  SpillBuffer(std::filesystem::path spillDirectory, size_t memoryLimit);
  ~SpillBuffer();
  SpillBuffer(SpillBuffer&& other) noexcept;
  SpillBuffer& operator=(SpillBuffer&& other) noexcept;
  SpillBuffer(const SpillBuffer&) = delete;
  SpillBuffer& operator=(const SpillBuffer&) = delete;

  // Throws PackError when the file cannot be written.
  void Append(const uint8_t* data, size_t count);
  uint64_t Size() const { return m_size; }
  // Hands every byte to sink, in order, in pieces; the sink may change the
  // bytes of a piece (it owns the piece until it returns).
  void Replay(const std::function<void(uint8_t* data, size_t count)>& sink);
  // Drops the bytes.
  void Clear();

 private:
  std::filesystem::path m_directory;
  size_t m_memoryLimit;
  std::vector<uint8_t> m_memory;
  std::FILE* m_file = nullptr;
  std::filesystem::path m_filePath;
  uint64_t m_size = 0;
};

}  // namespace upkpack
