// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the one checksum of the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tamzel {

// Set once before main() from the CPU probe (SSE4.2); only read afterwards.
extern bool Crc32cUseHardware;

// Checksum of everything checksummed so far (`previous`, 0 to start) followed by `data`.
// Pure and thread-safe; any alignment; length 0 returns `previous`.
uint32_t Crc32c(uint32_t previous, const void* data, uint64_t length);

// The two implementations, for tests and benchmarks. The hardware one may only be called
// when Crc32cUseHardware is true.
uint32_t Crc32cSoftware(uint32_t previous, const void* data, uint64_t length);
uint32_t Crc32cHardware(uint32_t previous, const void* data, uint64_t length);

}  // namespace tamzel
