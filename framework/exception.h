// The framework's exception base. Exceptions are thrown by value and caught
// by reference; the class names stay those of the framework.
#pragma once
#include <string>
#include "platform/win_types.h"

class CException {
 public:
  CException() = default;
  virtual ~CException() = default;
  CException(const CException&) = default;
  CException& operator=(const CException&) = default;
  // A short description for diagnostics (tools and logs); the library itself
  // never shows it.
  virtual plat::WString GetErrorMessage() const { return u"unknown error"; }
};
