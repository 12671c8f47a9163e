// CRC-32C with the SSE4.2 CRC32 instruction. The instruction has a latency of several cycles
// but accepts a new word every cycle, so the data are cut into three adjacent blocks whose
// checksums run as three independent chains; the chains are then joined by shifting the running
// register over the length of the next block (a table-driven linear map) and XORing in that
// block's checksum.
//
// This file is compiled with -msse4.2 and its code is only reached after the CPU probe said
// yes. On other targets Crc32cHardware falls back to the table path, so it always links.

#include <cstdint>
#include <cstring>

#include "integrity/crc32c.h"
#include "integrity/crc32c_internal.h"

#if defined(__x86_64__) && defined(__SSE4_2__)
#define TAMZEL_CRC32C_SSE42 1
#include <nmmintrin.h>
#else
#define TAMZEL_CRC32C_SSE42 0
#endif

namespace tamzel {

namespace crc32c_detail {

// Plain data, defined on every architecture.
constexpr ShiftTables kLongShift = makeShiftTables(kLongBlock);
constexpr ShiftTables kShortShift = makeShiftTables(kShortBlock);

}  // namespace crc32c_detail

#if TAMZEL_CRC32C_SSE42

namespace {

using crc32c_detail::ShiftTables;

inline uint64_t load64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The register c run through as many zero bytes as the tables were made for.
inline uint64_t shiftRegister(const ShiftTables& s, uint64_t c) {
  return s.t[0][c & 0xFF] ^ s.t[1][(c >> 8) & 0xFF] ^ s.t[2][(c >> 16) & 0xFF] ^
         s.t[3][(c >> 24) & 0xFF];
}

// While at least three blocks remain: three interleaved chains over three adjacent blocks of
// `Block` bytes, joined into c. p must be 8-byte aligned.
template <uint64_t Block>
inline uint64_t threeBlocks(uint64_t c, const uint8_t*& p, uint64_t& length,
                            const ShiftTables& shift) {
  constexpr uint64_t kWords = Block / 8;
  while (length >= 3 * Block) {
    uint64_t c1 = 0;
    uint64_t c2 = 0;
    const uint8_t* a = p;
    const uint8_t* b = p + Block;
    const uint8_t* d = p + 2 * Block;
    for (uint64_t i = 0; i < kWords; ++i) {
      c = _mm_crc32_u64(c, load64(a + 8 * i));
      c1 = _mm_crc32_u64(c1, load64(b + 8 * i));
      c2 = _mm_crc32_u64(c2, load64(d + 8 * i));
    }
    c = shiftRegister(shift, c) ^ c1;
    c = shiftRegister(shift, c) ^ c2;
    p += 3 * Block;
    length -= 3 * Block;
  }
  return c;
}

}  // namespace

uint32_t Crc32cHardware(uint32_t previous, const void* data, uint64_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint64_t c = previous ^ 0xFFFFFFFFu;

  while (length != 0 && (reinterpret_cast<uintptr_t>(p) & 7u) != 0) {
    c = _mm_crc32_u8(static_cast<uint32_t>(c), *p);
    ++p;
    --length;
  }

  c = threeBlocks<crc32c_detail::kLongBlock>(c, p, length, crc32c_detail::kLongShift);
  c = threeBlocks<crc32c_detail::kShortBlock>(c, p, length, crc32c_detail::kShortShift);

  while (length >= 8) {
    c = _mm_crc32_u64(c, load64(p));
    p += 8;
    length -= 8;
  }
  while (length != 0) {
    c = _mm_crc32_u8(static_cast<uint32_t>(c), *p);
    ++p;
    --length;
  }
  return static_cast<uint32_t>(c) ^ 0xFFFFFFFFu;
}

#else

uint32_t Crc32cHardware(uint32_t previous, const void* data, uint64_t length) {
  return Crc32cSoftware(previous, data, length);
}

#endif

}  // namespace tamzel
