// CRC-32C without special instructions: slicing by 16, i.e. sixteen input bytes folded into the
// register per step through sixteen 1 KiB tables.

#include <bit>
#include <cstdint>
#include <cstring>

#include "integrity/crc32c.h"
#include "integrity/crc32c_internal.h"

namespace tamzel {

namespace crc32c_detail {

constexpr ByteTables kByteTables = makeByteTables();

}  // namespace crc32c_detail

namespace {

// Eight bytes as a little-endian number, whatever the host's byte order.
inline uint64_t loadLittleEndian64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

}  // namespace

uint32_t Crc32cSoftware(uint32_t previous, const void* data, uint64_t length) {
  const auto& t = crc32c_detail::kByteTables.t;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = previous ^ 0xFFFFFFFFu;

  // Byte by byte up to an 8-byte boundary, so the words below are aligned loads.
  while (length != 0 && (reinterpret_cast<uintptr_t>(p) & 7u) != 0) {
    c = (c >> 8) ^ t[0][(c ^ *p) & 0xFFu];
    ++p;
    --length;
  }

  while (length >= 16) {
    uint64_t w0 = loadLittleEndian64(p) ^ c;
    const uint64_t w1 = loadLittleEndian64(p + 8);
    // Byte i of the 16 is followed by 15 - i more bytes, so it goes through table 15 - i.
    c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^
        t[12][(w0 >> 24) & 0xFF] ^ t[11][(w0 >> 32) & 0xFF] ^ t[10][(w0 >> 40) & 0xFF] ^
        t[9][(w0 >> 48) & 0xFF] ^ t[8][w0 >> 56] ^ t[7][w1 & 0xFF] ^ t[6][(w1 >> 8) & 0xFF] ^
        t[5][(w1 >> 16) & 0xFF] ^ t[4][(w1 >> 24) & 0xFF] ^ t[3][(w1 >> 32) & 0xFF] ^
        t[2][(w1 >> 40) & 0xFF] ^ t[1][(w1 >> 48) & 0xFF] ^ t[0][w1 >> 56];
    p += 16;
    length -= 16;
  }

  while (length != 0) {
    c = (c >> 8) ^ t[0][(c ^ *p) & 0xFFu];
    ++p;
    --length;
  }
  return c ^ 0xFFFFFFFFu;
}

}  // namespace tamzel
