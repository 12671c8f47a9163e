// Takes the input as a tile (bit depth, size, samples), encodes it and decodes the stream:
// the samples must come back exactly. A second encode into a room cut short must either fail
// or give the same stream, and never write past the room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dng/dng.h"

namespace {

constexpr uint8_t kGuard = 0xA7;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const uint32_t bits = 2 + data[0] % 15;
  const uint32_t columns = 1 + data[1] % 48;
  const uint32_t rows = 1 + data[2] % 48;
  const uint8_t cut = data[3];
  data += 4;
  size -= 4;

  static tamzel::EncoderScratch scratch;  // reused like a worker's
  const tamzel::TileLayout layout{1, 1, 2 * columns, rows, 1};
  if (!scratch.reserve(layout)) std::abort();
  const uint32_t entries = columns * rows;
  const uint32_t mask = (1u << bits) - 1;
  std::vector<uint16_t> tile(2 * std::size_t{entries});
  for (std::size_t i = 0; i < tile.size(); ++i) {
    const uint32_t v = 2 * i + 1 < size ? (data[2 * i] << 8 | data[2 * i + 1]) : (i * 37) & 0xFFFF;
    tile[i] = static_cast<uint16_t>(v & mask);
  }
  for (uint32_t e = 0; e < entries; ++e) {
    scratch.samples[0][e] = tile[2 * e];
    scratch.samples[1][e] = tile[2 * e + 1];
  }

  std::vector<uint8_t> out(std::size_t{entries} * 16 + 256);
  const std::size_t length = tamzel::encodeTile(scratch, bits, layout, out.data(), out.size(), 0);
  if (length == 0 || length % 2 != 0) std::abort();
  out.resize(length);

  tamzel::LosslessImage image;
  if (tamzel::decodeLosslessJpeg(out.data(), out.size(), image) != tamzel::DecodeStatus::Ok) {
    std::abort();
  }
  if (image.width != columns || image.height != rows || image.components != 2 ||
      image.precision != bits) {
    std::abort();
  }
  for (uint32_t e = 0; e < entries; ++e) {
    if (image.samples[2 * e] != tile[2 * e] || image.samples[2 * e + 1] != tile[2 * e + 1]) {
      std::abort();
    }
  }

  // Bounded writing: a room of `capacity` bytes followed by a guard.
  const std::size_t capacity = length > cut ? length - cut : 0;
  std::vector<uint8_t> room(capacity + 64, kGuard);
  const std::size_t again = tamzel::encodeTile(scratch, bits, layout, room.data(), capacity, 0);
  for (std::size_t i = capacity; i < room.size(); ++i) {
    if (room[i] != kGuard) std::abort();
  }
  if (capacity < length ? again != 0
                        : (again != length || std::memcmp(room.data(), out.data(), length) != 0)) {
    std::abort();
  }
  return 0;
}
