#include "upk4/zip_file64.h"

#include <algorithm>
#include <cstring>

uint32_t CZipFile64::Read(void* buffer, uint32_t count) {
  if (count == 0 || !IsOpen()) return CFile::Read(buffer, count);
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t served = 0;
  if (m_aheadValid) {
    served = std::min(count, m_aheadLength - m_aheadPosition);
    std::memcpy(out, m_ahead.data() + m_aheadPosition, served);
    m_aheadPosition += served;
    if (served == count) return count;
  }
  const uint32_t rest = count - served;
  if (rest >= kDirectReadSize) {
    // The system's position already is the logical one (the block is used
    // up or was never filled).
    m_aheadValid = false;
    return served + CFile::Read(out + served, rest);
  }
  const uint64_t start = m_aheadValid ? m_aheadStart + m_aheadLength : CFile::GetPosition();
  m_ahead.resize(kReadAheadSize);
  m_aheadLength = CFile::Read(m_ahead.data(), kReadAheadSize);
  m_aheadStart = start;
  m_aheadValid = true;
  const uint32_t more = std::min(rest, m_aheadLength);
  std::memcpy(out + served, m_ahead.data(), more);
  m_aheadPosition = more;
  return served + more;
}

uint64_t CZipFile64::Seek(int64_t offset, uint32_t from) {
  if (m_aheadValid && from != end) {
    const int64_t logical = static_cast<int64_t>(m_aheadStart + m_aheadPosition);
    const int64_t target = from == current ? logical + offset : offset;
    if (target >= static_cast<int64_t>(m_aheadStart) &&
        target <= static_cast<int64_t>(m_aheadStart + m_aheadLength)) {
      m_aheadPosition = static_cast<uint32_t>(target - static_cast<int64_t>(m_aheadStart));
      return static_cast<uint64_t>(target);
    }
    // Before the start the seek fails and the position stays where it is,
    // so the block stays too.
    if (target < 0) return CFile::Seek(target, begin);
    m_aheadValid = false;
    return CFile::Seek(target, begin);
  }
  DropReadAhead();
  return CFile::Seek(offset, from);
}

uint64_t CZipFile64::GetPosition() const {
  if (m_aheadValid) return m_aheadStart + m_aheadPosition;
  return CFile::GetPosition();
}

void CZipFile64::Close() {
  m_aheadValid = false;
  CFile::Close();
}

void CZipFile64::Abort() {
  m_aheadValid = false;
  CFile::Abort();
}

void CZipFile64::DropReadAhead() {
  if (!m_aheadValid) return;
  m_aheadValid = false;
  CFile::Seek(static_cast<int64_t>(m_aheadStart + m_aheadPosition), begin);
}
