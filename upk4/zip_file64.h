// The file object through which the archive's volumes are read: the
// framework's CFile under a class identity of its own.
#pragma once
#include "framework/file.h"

class CZipFile64 : public CFile {
 public:
  static constexpr const char* kRuntimeClassName = "CZipFile64";
  const char* GetRuntimeClassName() const { return kRuntimeClassName; }
  ~CZipFile64() override = default;
};
