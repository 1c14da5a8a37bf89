// The rule for names that Windows takes for something else: the same on
// every system, so it is tested here too.
#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/windows_names.h"

namespace {

struct NameCase {
  const char16_t* name;
  const char16_t* reasonPart;  // null: the name is fine
};

TEST(WindowsNames, StreamsDevicesAndTrailingDotsAreRefusedOthersKept) {
  const NameCase cases[] = {
      {u"a.txt:stream", u"alternate data stream"},
      {u"setup.exe:Zone.Identifier", u"alternate data stream"},
      {u"CON", u"\"CON\" is a device name"},
      {u"com1", u"\"com1\" is a device name"},
      {u"nul.txt", u"\"nul.txt\" is a device name"},
      {u"aux\\x.txt", u"\"aux\" is a device name"},
      {u"dir/Lpt9.tar.gz", u"\"Lpt9.tar.gz\" is a device name"},
      {u"prn .log", u"device name"},  // the blank before the dot is dropped
      {u"trail./y.txt", u"\"trail.\" ends in a dot or a blank"},
      {u"sp /z.txt", u"\"sp \" ends in a dot or a blank"},
      {u"dir\\name.", u"ends in a dot or a blank"},
      {u"a?b", u"character that Windows does not allow"},
      {u"tab\there", u"character that Windows does not allow"},
      // Ordinary names, including those that only look like devices.
      {u"console.txt", nullptr},
      {u"com10", nullptr},
      {u"lpt0.log", nullptr},
      {u"connect/aux1/nul_x", nullptr},
      {u".hidden", nullptr},
      {u"a\\.\\b.txt", nullptr},
      {u"dir\\", nullptr},
      {u"\u00e4rger.txt", nullptr},
  };
  for (const NameCase& c : cases) {
    const std::optional<plat::WString> problem = plat::WindowsNameProblem(c.name);
    if (c.reasonPart == nullptr) {
      EXPECT_FALSE(problem.has_value()) << plat::Utf16ToUtf8(c.name) << ": "
                                        << plat::Utf16ToUtf8(problem.value_or(u""));
    } else {
      ASSERT_TRUE(problem.has_value()) << plat::Utf16ToUtf8(c.name);
      EXPECT_NE(problem->find(c.reasonPart), plat::WString::npos)
          << plat::Utf16ToUtf8(c.name) << ": " << plat::Utf16ToUtf8(*problem);
    }
  }
}

}  // namespace
