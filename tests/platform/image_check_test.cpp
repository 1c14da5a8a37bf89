// A library image cut short is refused before a loader maps it (a bus error
// inside the loader otherwise), whatever part of it is missing.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/image_check.h"
#include "platform/library.h"
#include "platform/last_error.h"
#include "platform_test_util.h"

using namespace plat;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ImageCheck, AWholeLibraryPassesAndEveryCutIsRefused) {
  const std::string image = ReadAll(UPK_TEST_MODULE);
  ASSERT_GT(image.size(), 1000u);
  EXPECT_TRUE(IsWholeImage(std::string_view(image).substr(0, kImageHeadBytes), image.size()));
  for (size_t keep : {image.size() - 1, image.size() / 2, image.size() / 4, size_t{200}, size_t{64}}) {
    const std::string cut = image.substr(0, keep);
    EXPECT_FALSE(IsWholeImage(std::string_view(cut).substr(0, kImageHeadBytes), cut.size())) << keep;
  }
  EXPECT_FALSE(IsWholeImage("not an image at all, just some text of sixty-four bytes or more.", 64));
}

TEST(ImageCheck, PeSectionsPastTheEndAreRefused) {
  // A minimal PE: DOS header, "PE\0\0", file header with one section,
  // a 224-byte optional header, one section table entry.
  std::string pe(0x400, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe[0x40 + 6] = 1;                    // one section
  pe[0x40 + 20] = static_cast<char>(224);  // optional header size
  pe[0x40 + 24 + 60] = 0x00;           // SizeOfHeaders 0x200
  pe[0x40 + 24 + 61] = 0x02;
  const size_t section = 0x40 + 24 + 224;
  pe[section + 17] = 0x02;             // SizeOfRawData 0x200
  pe[section + 21] = 0x02;             // PointerToRawData 0x200
  EXPECT_TRUE(IsWholeImage(pe, pe.size()));
  EXPECT_FALSE(IsWholeImage(pe.substr(0, 0x3FF), 0x3FF));
  EXPECT_FALSE(IsWholeImage(pe.substr(0, 0x1F0), 0x1F0));  // headers cut
}

TEST(ImageCheck, LoadingAnImageCutShortFailsWithBadFormatInsteadOfCrashing) {
  ptest::TempDir dir;
  const std::string image = ReadAll(UPK_TEST_MODULE);
  ptest::WriteText(dir.Path("cut.so"), image.substr(0, image.size() * 3 / 4));
  EXPECT_EQ(LoadLibrary(dir.WinPath("cut.so")), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

}  // namespace
