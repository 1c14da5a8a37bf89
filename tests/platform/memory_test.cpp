#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/memory.h"

// Populating is only a hint: the block keeps its bytes and stays writable,
// whatever the range (unaligned, empty, none).
TEST(Memory, PopulatingKeepsTheBytes) {
  std::vector<uint8_t> block(300001);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  plat::PopulateMemory(block.data() + 1, block.size() - 2);
  plat::PopulateMemory(block.data(), 0);
  plat::PopulateMemory(nullptr, 0);
  for (size_t i = 0; i < block.size(); ++i) ASSERT_EQ(block[i], static_cast<uint8_t>(i * 7)) << i;
  block.back() = 1;
  EXPECT_EQ(block.back(), 1);
}
