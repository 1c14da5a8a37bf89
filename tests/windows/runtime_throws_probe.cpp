// A test of the Windows set's replacements of the C++ runtime's throwing
// functions (platform/win32/runtime_throws.cpp, runtime_system_error.cpp),
// run under Wine: linked as the release binaries link them, without the test
// framework (whose streams bring the runtime's own function for system
// errors). Prints each failed check; exits with the number of them.
#include <bits/functexcept.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/runtime_fault.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++g_failures;
  }
}

// Runs f, which must raise a plat::RuntimeFault (caught as the
// std::exception it is) whose text is expected.
template <typename F>
void ExpectFault(F f, const char* expected, const char* what) {
  try {
    f();
    Check(false, what);
  } catch (const std::exception& e) {
    const bool isFault = dynamic_cast<const plat::RuntimeFault*>(&e) != nullptr;
    Check(isFault && std::strcmp(e.what(), expected) == 0, what);
    if (!isFault || std::strcmp(e.what(), expected) != 0) {
      std::fprintf(stderr, "  raised \"%s\", expected \"%s\"\n", e.what(), expected);
    }
  }
}

}  // namespace

int main() {
  std::vector<int> three(3);
  ExpectFault([&] { (void)three.at(5); },
              "vector::_M_range_check: __n (which is 5) >= this->size() (which is 3)",
              "vector::at beyond the end");
  const std::string abc = "abc";
  ExpectFault([&] { (void)abc.substr(7); },
              "basic_string::substr: __pos (which is 7) > this->size() (which is 3)",
              "string::substr beyond the end");
  std::vector<char> bytes;
  ExpectFault([&] { bytes.reserve(bytes.max_size() + 1); }, "vector::reserve",
              "vector::reserve beyond max_size");
  ExpectFault([] { std::__throw_system_error(11); }, "system error 11", "system error");

  // Allocation failures stay the standard's types: callers catch bad_alloc.
  std::allocator<int> allocator;
  try {
    (void)allocator.allocate(size_t{PTRDIFF_MAX} / sizeof(int) + 1);
    Check(false, "allocation beyond the largest object");
  } catch (const std::bad_array_new_length&) {
    Check(false, "allocation beyond the largest object is bad_alloc itself");
  } catch (const std::bad_alloc&) {
  }
  try {
    (void)allocator.allocate(SIZE_MAX / 2);
    Check(false, "allocator beyond the address space");
  } catch (const std::bad_array_new_length&) {
  }
  try {
    std::__throw_bad_alloc();
  } catch (const std::bad_alloc& e) {
    Check(typeid(e) == typeid(std::bad_alloc), "bad_alloc as such");
  }
  return g_failures;
}
