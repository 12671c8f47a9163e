// Tables behind the two CRC-32C implementations. Everything here is computed by the compiler;
// the unit test includes this header to check telling entries of every table.
//
// Only compile-time (consteval) code and declarations live here: the hardware implementation's
// file is compiled for SSE4.2, and an ordinary inline function defined here could be emitted
// from that file with SSE4.2 instructions and then chosen by the linker for every caller.
#pragma once

#include <cstdint>

namespace tamzel::crc32c_detail {

// The Castagnoli polynomial in reflected (least significant bit first) form.
inline constexpr uint32_t kPolynomial = 0x82F63B78u;

// The hardware path works on three adjacent blocks at a time: long blocks while at least three
// long ones remain, then short ones.
inline constexpr uint64_t kLongBlock = 8192;
inline constexpr uint64_t kShortBlock = 256;

// Software path (slicing by 16): t[k][n] is the register reached from the value n followed by k
// zero bytes, i.e. t[0] is the classic byte table and t[k][n] = (t[k-1][n] >> 8) ^
// t[0][t[k-1][n] & 0xFF].
struct alignas(64) ByteTables {
  uint32_t t[16][256];
};

// Hardware path: the linear map "append N zero bytes to the message" on the CRC register (no
// initial or final XOR), split into its four byte lanes. t[j][n] is the image of n << (8 * j),
// so the image of a register c is t[0][c & 0xFF] ^ t[1][(c >> 8) & 0xFF] ^
// t[2][(c >> 16) & 0xFF] ^ t[3][c >> 24].
struct alignas(64) ShiftTables {
  uint32_t t[4][256];
};

consteval ByteTables makeByteTables() {
  ByteTables b{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1u) ? kPolynomial : 0u);
    b.t[0][n] = c;
  }
  for (int k = 1; k < 16; ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t prev = b.t[k - 1][n];
      b.t[k][n] = (prev >> 8) ^ b.t[0][prev & 0xFFu];
    }
  }
  return b;
}

// A linear operator on 32-bit registers over GF(2): column[i] is the image of bit i.
struct Gf2Operator {
  uint32_t column[32];
};

consteval uint32_t applyOperator(const Gf2Operator& op, uint32_t v) {
  uint32_t out = 0;
  for (int i = 0; v != 0; ++i, v >>= 1) {
    if (v & 1u) out ^= op.column[i];
  }
  return out;
}

// a after b.
consteval Gf2Operator composeOperators(const Gf2Operator& a, const Gf2Operator& b) {
  Gf2Operator r{};
  for (int i = 0; i < 32; ++i) r.column[i] = applyOperator(a, b.column[i]);
  return r;
}

// The operator that appends `zeroBytes` zero bytes, built from the one-zero-bit operator by
// repeated squaring (square-and-multiply over the bits of the bit count).
consteval Gf2Operator zeroBytesOperator(uint64_t zeroBytes) {
  // One zero bit: the register shifts right by one, and bit 0 shifted out folds the polynomial
  // back in. So bit 0 maps to the polynomial and bit i to bit i - 1.
  Gf2Operator power{};
  power.column[0] = kPolynomial;
  for (int i = 1; i < 32; ++i) power.column[i] = 1u << (i - 1);

  Gf2Operator result{};
  for (int i = 0; i < 32; ++i) result.column[i] = 1u << i;  // identity

  // All operators here are powers of the same one, so the order of composition is immaterial.
  for (uint64_t bits = zeroBytes * 8; bits != 0; bits >>= 1) {
    if (bits & 1u) result = composeOperators(power, result);
    if (bits > 1) power = composeOperators(power, power);
  }
  return result;
}

consteval ShiftTables makeShiftTables(uint64_t zeroBytes) {
  const Gf2Operator op = zeroBytesOperator(zeroBytes);
  ShiftTables s{};
  for (int j = 0; j < 4; ++j) {
    // By linearity, the image of n is the image of n without its lowest set bit XOR the image
    // of that bit.
    for (uint32_t n = 1; n < 256; ++n) {
      int low = 0;
      while (((n >> low) & 1u) == 0) ++low;
      s.t[j][n] = s.t[j][n & (n - 1)] ^ op.column[8 * j + low];
    }
  }
  return s;
}

// Defined in crc32c_portable.cpp.
extern const ByteTables kByteTables;
// Defined in crc32c_sse42.cpp (on every architecture, so the tables can always be tested).
extern const ShiftTables kLongShift;   // kLongBlock zero bytes
extern const ShiftTables kShortShift;  // kShortBlock zero bytes

}  // namespace tamzel::crc32c_detail
