// Little-endian, unaligned access to archive records: a cursor that reads
// fields in order from a byte span, and the matching writers. Reading past
// the span's end yields zeros and marks the cursor spent, so a parser can
// take a whole record and ask once whether it was all there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class ByteCursor {
 public:
  ByteCursor() = default;
  ByteCursor(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  void Skip(size_t count) {
    if (count > Remaining()) return Fail();
    m_position += count;
  }
  // The next count bytes as a cursor of their own; this one moves past them.
  ByteCursor Sub(size_t count) {
    if (count > Remaining()) {
      Fail();
      return {};
    }
    ByteCursor part(m_data + m_position, count);
    m_position += count;
    return part;
  }

  size_t Remaining() const { return m_size - m_position; }
  size_t Position() const { return m_position; }
  const uint8_t* Here() const { return m_data + m_position; }
  // False once a read has run past the end.
  bool Ok() const { return m_ok; }

 private:
  uint64_t Take(size_t width) {
    if (width > Remaining()) {
      Fail();
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(m_data[m_position + i]) << (8 * i);
    m_position += width;
    return value;
  }
  void Fail() {
    m_ok = false;
    m_position = m_size;
  }

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
  size_t m_position = 0;
  bool m_ok = true;
};

inline uint16_t GetLe16(const uint8_t* p) { return ByteCursor(p, 2).U16(); }
inline uint32_t GetLe32(const uint8_t* p) { return ByteCursor(p, 4).U32(); }
inline uint64_t GetLe64(const uint8_t* p) { return ByteCursor(p, 8).U64(); }

inline void PutLe(uint8_t* p, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void PutLe16(uint8_t* p, uint16_t value) { PutLe(p, value, 2); }
inline void PutLe32(uint8_t* p, uint32_t value) { PutLe(p, value, 4); }
inline void PutLe64(uint8_t* p, uint64_t value) { PutLe(p, value, 8); }

// Appending writers, for whoever builds records (the package tools, tests).
inline void AppendLe(std::string& out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out += static_cast<char>(value >> (8 * i));
}
inline void AppendLe16(std::string& out, uint16_t value) { AppendLe(out, value, 2); }
inline void AppendLe32(std::string& out, uint32_t value) { AppendLe(out, value, 4); }
inline void AppendLe64(std::string& out, uint64_t value) { AppendLe(out, value, 8); }
