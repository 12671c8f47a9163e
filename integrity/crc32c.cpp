// Chooses the CRC-32C implementation once, before main().

#include "integrity/crc32c.h"

#include "platform/platform.h"

namespace tamzel {

// Constant-initialised (zero) before any dynamic initialisation runs, so start-up code in
// another file that checksums something before the probe below has run still gets a correct
// result, from the table path.
bool Crc32cUseHardware = false;

namespace {

// Dynamic initialisation of this file, before main() and before any thread exists; afterwards
// the flag is only read.
[[maybe_unused]] const bool kProbed = [] {
  Crc32cUseHardware = platform::cpuHasSse42();
  return true;
}();

}  // namespace

uint32_t Crc32c(uint32_t previous, const void* data, uint64_t length) {
  return Crc32cUseHardware ? Crc32cHardware(previous, data, length)
                           : Crc32cSoftware(previous, data, length);
}

}  // namespace tamzel
