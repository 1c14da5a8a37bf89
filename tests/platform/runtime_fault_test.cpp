#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/runtime_fault.h"

namespace {

plat::RuntimeFault Formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  plat::RuntimeFault fault(format, args);
  va_end(args);
  return fault;
}

}  // namespace

TEST(RuntimeFault, FormatsTheRuntimesMessages) {
  EXPECT_STREQ(Formatted("%s: __n (which is %zu) >= this->size() (which is %zu)",
                         "vector::_M_range_check", size_t{5}, size_t{3})
                   .what(),
               "vector::_M_range_check: __n (which is 5) >= this->size() (which is 3)");
  EXPECT_STREQ(Formatted("%zu|%zu|%zu", size_t{0}, size_t{10}, SIZE_MAX).what(),
               ("0|10|" + std::to_string(SIZE_MAX)).c_str());
  EXPECT_STREQ(Formatted("100%% of %s", "it").what(), "100% of it");
  EXPECT_STREQ(Formatted("%s", static_cast<const char*>(nullptr)).what(), "(null)");
}

TEST(RuntimeFault, CopiesWhatItDoesNotSubstitute) {
  // Only %s, %zu and %%: nothing else takes an argument.
  EXPECT_STREQ(Formatted("%d %x %z %", 1, 2).what(), "%d %x %z %");
  EXPECT_STREQ(Formatted("%zd%s", "tail").what(), "%zdtail");
  EXPECT_STREQ(Formatted(nullptr).what(), "");
}

TEST(RuntimeFault, KeepsItsTextWithinItself) {
  EXPECT_STREQ(plat::RuntimeFault("vector::reserve").what(), "vector::reserve");
  EXPECT_STREQ(plat::RuntimeFault(nullptr).what(), "");
  // A text that does not fit is cut, whether given or substituted.
  const std::string longText(plat::RuntimeFault::kMaxText + 50, 'x');
  const std::string kept(plat::RuntimeFault::kMaxText, 'x');
  EXPECT_EQ(plat::RuntimeFault(longText.c_str()).what(), kept);
  EXPECT_EQ(Formatted("%s%zu", longText.c_str(), size_t{12345}).what(), kept);
  EXPECT_EQ(Formatted("%s%zu", kept.substr(3).c_str(), size_t{12345}).what(),
            kept.substr(3) + "123");
  // Its own copy: the text given may be gone when it is caught.
  std::string text = "transient";
  plat::RuntimeFault fault(text.c_str());
  text.assign("changed!!");
  EXPECT_STREQ(fault.what(), "transient");
}
