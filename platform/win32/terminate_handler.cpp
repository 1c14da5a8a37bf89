// Win32: the handler std::terminate calls, replacing the C++ runtime's
// verbose one, whose name demangler is a fifth of a lean binary. A release
// binary has no console to print the exception's name on; it ends as abort
// ends it. Linked into each Windows binary itself (see cmake/), so that the
// runtime's own handler is never pulled in.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
