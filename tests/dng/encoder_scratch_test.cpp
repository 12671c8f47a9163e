// The per-worker tile planes: grown once per tile size, never shrunk, one block for all.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "dng/dng.h"

namespace tamzel {
namespace {

TileLayout tileOf(uint32_t width, uint32_t length) {
  return TileLayout{1, 1, width, length, 1};
}

TEST(EncoderScratchTest, GrowsOnlyForLargerTilesAndReusesOtherwise) {
  EncoderScratch scratch;
  EXPECT_EQ(scratch.capacity, 0u);
  ASSERT_TRUE(scratch.reserve(tileOf(240, 270)));
  EXPECT_EQ(scratch.capacity, 240u * 270 / 2);
  EXPECT_EQ(scratch.allocations, 1u);

  // A second frame of the same size, and a smaller tile: no allocation, no shrinking.
  ASSERT_TRUE(scratch.reserve(tileOf(240, 270)));
  ASSERT_TRUE(scratch.reserve(tileOf(100, 20)));
  EXPECT_EQ(scratch.allocations, 1u);
  EXPECT_EQ(scratch.capacity, 240u * 270 / 2);

  ASSERT_TRUE(scratch.reserve(tileOf(256, 300)));
  EXPECT_EQ(scratch.allocations, 2u);
  EXPECT_EQ(scratch.capacity, 256u * 300 / 2);

  scratch.release();
  EXPECT_EQ(scratch.capacity, 0u);
  EXPECT_EQ(scratch.samples[0], nullptr);
  ASSERT_TRUE(scratch.reserve(tileOf(8, 8)));
  EXPECT_EQ(scratch.allocations, 3u);
}

TEST(EncoderScratchTest, FourteenPlanesOfFullCapacityDoNotOverlap) {
  EncoderScratch scratch;
  ASSERT_TRUE(scratch.reserve(tileOf(30, 7)));
  const uint32_t n = scratch.capacity;
  // Fill every plane with its own byte; any overlap would show up as a wrong byte later
  // (and any plane reaching past the block as an AddressSanitizer report).
  uint8_t tag = 1;
  for (int p = 0; p < 2; ++p) std::memset(scratch.samples[p], tag++, n * 2);
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < 3; ++k) std::memset(scratch.differences[p][k], tag++, n * 2);
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < 3; ++k) std::memset(scratch.categories[p][k], tag++, n);
  tag = 1;
  auto allAre = [](const void* plane, std::size_t bytes, uint8_t value) {
    const uint8_t* b = static_cast<const uint8_t*>(plane);
    for (std::size_t i = 0; i < bytes; ++i)
      if (b[i] != value) return false;
    return true;
  };
  for (int p = 0; p < 2; ++p) EXPECT_TRUE(allAre(scratch.samples[p], n * 2, tag++));
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(allAre(scratch.differences[p][k], n * 2, tag++));
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(allAre(scratch.categories[p][k], n, tag++));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(scratch.samples[1]) % 2, 0u);
}

TEST(EncoderScratchTest, RefusesTilesBeyondThirtyTwoBitsOfEntries) {
  EncoderScratch scratch;
  ASSERT_TRUE(scratch.reserve(tileOf(16, 16)));
  EXPECT_FALSE(scratch.reserve(tileOf(0xFFFFFFFFu, 4)));
  // The failed attempt leaves the scratch usable as it was or empty, never half-set.
  EXPECT_TRUE(scratch.capacity == 0 || scratch.capacity == 128u);
  EXPECT_TRUE(scratch.reserve(tileOf(16, 16)));
}

}  // namespace
}  // namespace tamzel
