// The file object through which the archive's volumes are read: the
// framework's CFile under a class identity of its own.
//
// The reader parses records of a few dozen bytes each (a central header, then
// its name, extra field and comment), so small reads are served from a
// read-ahead block; reads of entry data are large and go straight to the
// system. Positions, seeks and short reads at the end of the file behave as
// for a plain CFile.
#pragma once
#include <cstdint>
#include <vector>
#include "framework/file.h"

class CZipFile64 : public CFile {
 public:
  static constexpr const char* kRuntimeClassName = "CZipFile64";
  static constexpr uint32_t kReadAheadSize = 65536;
  static constexpr uint32_t kDirectReadSize = 8192;  // reads this large bypass the block

  const char* GetRuntimeClassName() const { return kRuntimeClassName; }
  ~CZipFile64() override = default;

  uint32_t Read(void* buffer, uint32_t count) override;
  uint64_t Seek(int64_t offset, uint32_t from) override;
  uint64_t GetPosition() const override;
  void Close() override;
  void Abort() override;

 private:
  // Gives the read-ahead block up, moving the system's position back to the
  // logical one.
  void DropReadAhead();

  std::vector<uint8_t> m_ahead;
  uint64_t m_aheadStart = 0;  // file offset of m_ahead[0]
  uint32_t m_aheadLength = 0;
  uint32_t m_aheadPosition = 0;
  // While set, the system's position is m_aheadStart + m_aheadLength.
  bool m_aheadValid = false;
};
