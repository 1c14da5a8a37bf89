// A read-only CFile over bytes in memory, so that a fuzz target can hand the
// package reader any file without touching the disk. It keeps CFile's
// contract: reads are short only at the end, a position past the end reads
// nothing, a negative position throws badSeek.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/file.h"

class SpanFile : public CFile {
 public:
  SpanFile(const uint8_t* data, size_t size) : m_data(data), m_size(size) {
    m_strFileName = u"\\fuzz\\Setup";
  }

  uint32_t Read(void* buffer, uint32_t count) override {
    if (m_pos >= m_size) return 0;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, m_size - m_pos));
    if (n) std::memcpy(buffer, m_data + m_pos, n);
    m_pos += n;
    return n;
  }
  void Write(const void*, uint32_t) override {
    throw CFileException(CFileException::accessDenied, plat::ERROR_ACCESS_DENIED, m_strFileName);
  }
  uint64_t Seek(int64_t offset, uint32_t from) override {
    const int64_t base = from == current ? static_cast<int64_t>(m_pos)
                         : from == end   ? static_cast<int64_t>(m_size)
                                         : 0;
    if (offset < -base) {
      throw CFileException(CFileException::badSeek, plat::ERROR_SEEK, m_strFileName);
    }
    m_pos = static_cast<uint64_t>(base + offset);
    return m_pos;
  }
  uint64_t GetLength() const override { return m_size; }
  uint64_t GetPosition() const override { return m_pos; }
  void Flush() override {}
  void Close() override {}
  void Abort() override {}

 private:
  const uint8_t* m_data;
  uint64_t m_size;
  uint64_t m_pos = 0;
};
