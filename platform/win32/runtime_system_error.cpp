// Win32: the C++ runtime's function that raises the error of a failing
// thread start or mutex, replacing the runtime's own, which raises a
// std::system_error: that brings in the runtime's error categories, their
// message tables and its string classes (see runtime_throws.cpp). Here it is
// a plat::RuntimeFault naming the number (an errno value); the callers that
// do without a thread catch std::exception.
//
// Only for binaries that do not use the runtime's file streams: those need
// the runtime's error categories, whose object defines this function too
// (cmake/windows_version.cmake). Not part of the platform library.
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>

#include "platform/runtime_fault.h"

namespace {

[[noreturn]] void ThrowFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  plat::RuntimeFault fault(format, args);
  va_end(args);
  throw fault;
}

}  // namespace

namespace std {

void __throw_system_error(int code) {
  ThrowFormatted("system error %zu", static_cast<size_t>(static_cast<unsigned>(code)));
}

}  // namespace std
