// No exception leaves an export, not even when memory runs out: every
// allocation of an open, an extraction and a close is made to fail in turn,
// and each call still ends in a result.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "library_fixture.h"
#include "zip_writers.h"

#if !defined(__SANITIZE_ADDRESS__)
namespace {
// Counts allocations down while armed; the one that reaches zero fails.
long g_failAfter = -1;
}  // namespace

void* operator new(std::size_t size) {
  if (g_failAfter >= 0 && g_failAfter-- == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(OutOfMemory, NoExceptionLeavesAnExport) {
  upktest::TempDir dir;
  const std::string zip = upktest::MakeZipPython(
      dir, "a.zip", {{"A11", std::string(100000, 'x')}, {"b.txt", "b"}},
      upktest::ZipMethod::deflated);
  const plat::WString path = Win(zip);
  const plat::WString out = Win(dir.Path("out"));
  const Upk4Exports& upk4 = Upk4();
  bool completed = false;
  for (long failing = 0; failing < 2000 && !completed; ++failing) {
    ::testing::internal::CaptureStderr();  // the failed opens' messages
    g_failAfter = failing;
    bool escaped = false;
    ArchiveHandle* handle = nullptr;
    try {
      handle = upk4.Open(path.c_str(), 0, 0, u"", UPK4_OPEN_PLAIN);
      if (handle) upk4.Unpack(handle, u"a11", out.c_str(), u"Upk2.dll", 0);
      if (handle) upk4.Close(handle);
    } catch (...) {
      escaped = true;
    }
    completed = g_failAfter >= 0;  // nothing failed: every allocation was tried
    g_failAfter = -1;
    ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(escaped) << "allocation " << failing;
  }
  EXPECT_TRUE(completed);
  EXPECT_EQ(upktest::ReadFile(dir.Path("out/Upk2.dll")), std::string(100000, 'x'));
}

}  // namespace
#endif
