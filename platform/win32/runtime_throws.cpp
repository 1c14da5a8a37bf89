// Win32: the C++ runtime's throwing functions, which its containers and
// strings call, replacing the runtime's own. Those raise std::logic_error
// and its kin, whose text lives in the runtime's reference-counted string;
// linking them brings in the whole of that string class, the runtime's other
// string class and its random device, about 80 KB of each binary. Here the
// allocation failures stay what they are (std::bad_alloc and
// std::bad_array_new_length, which callers catch as such); every other error
// is a plat::RuntimeFault, a std::exception with the runtime's text, which is
// all that callers catch of those (std::exception).
//
// All of the runtime's functions of its object of this kind are defined
// here, in one object, so that none of them is taken from the runtime: were
// the runtime's object linked as well, the link would fail on the duplicates.
// Linked into each Windows binary itself (cmake/windows_version.cmake), like
// the terminate handler; not part of the platform library.
#include <bits/functexcept.h>

#include <cstdarg>
#include <new>
#include <typeinfo>

#include "platform/runtime_fault.h"

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }

void __throw_logic_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_domain_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_invalid_argument(const char* text) { throw plat::RuntimeFault(text); }
void __throw_length_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_out_of_range(const char* text) { throw plat::RuntimeFault(text); }
void __throw_runtime_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_range_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_overflow_error(const char* text) { throw plat::RuntimeFault(text); }
void __throw_underflow_error(const char* text) { throw plat::RuntimeFault(text); }

void __throw_out_of_range_fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  plat::RuntimeFault fault(format, args);
  va_end(args);
  throw fault;
}

}  // namespace std
