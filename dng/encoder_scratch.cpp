// The per-worker working planes of the tile encoder. All fourteen planes live in one block so a
// worker that meets tiles of one size allocates exactly once.
#include <cstdint>
#include <limits>

#include "dng/dng.h"
#include "platform/platform.h"

namespace tamzel {

namespace {

// Each plane starts on a cache line and has a little slack behind it, so vector loops may read
// a few entries past the last one without leaving the block.
constexpr uint64_t kPlaneAlign = 64;
constexpr uint64_t kPlaneSlack = 64;

uint64_t planeBytes(uint64_t entries, uint64_t entrySize) {
  const uint64_t raw = entries * entrySize + kPlaneSlack;
  return (raw + kPlaneAlign - 1) / kPlaneAlign * kPlaneAlign;
}

}  // namespace

EncoderScratch::~EncoderScratch() {
  release();
}

void EncoderScratch::release() {
  if (block_ != nullptr) platform::freePageAligned(block_);
  block_ = nullptr;
  capacity = 0;
  for (int p = 0; p < 2; ++p) {
    samples[p] = nullptr;
    for (int k = 0; k < 3; ++k) {
      differences[p][k] = nullptr;
      categories[p][k] = nullptr;
    }
  }
}

bool EncoderScratch::reserve(const TileLayout& layout) {
  const uint64_t entries = uint64_t{layout.tileWidth} * layout.tileLength / 2;
  if (entries <= capacity && block_ != nullptr) return true;
  if (entries > std::numeric_limits<uint32_t>::max()) return false;

  // entries < 2^32, so none of these sums can overflow 64 bits.
  const uint64_t wide = planeBytes(entries, sizeof(uint16_t));
  const uint64_t narrow = planeBytes(entries, sizeof(uint8_t));
  const uint64_t total = 8 * wide + 6 * narrow;
  if (total > std::numeric_limits<std::size_t>::max()) return false;

  release();
  void* block = platform::allocPageAligned(static_cast<std::size_t>(total));
  if (block == nullptr) return false;
  block_ = block;
  ++allocations;

  uint8_t* cursor = static_cast<uint8_t*>(block);
  for (int p = 0; p < 2; ++p) {
    samples[p] = reinterpret_cast<uint16_t*>(cursor);
    cursor += wide;
  }
  for (int p = 0; p < 2; ++p) {
    for (int k = 0; k < 3; ++k) {
      differences[p][k] = reinterpret_cast<uint16_t*>(cursor);
      cursor += wide;
    }
  }
  for (int p = 0; p < 2; ++p) {
    for (int k = 0; k < 3; ++k) {
      categories[p][k] = cursor;
      cursor += narrow;
    }
  }
  capacity = static_cast<uint32_t>(entries);
  return true;
}

}  // namespace tamzel
