// The whole per-file job on arbitrary bytes: structure, layout, unpacking, encoding and
// assembly into the room the engine gives the output. Whatever the bytes, nothing may be read
// outside the input or written outside the output (AddressSanitizer watches both, the output
// buffer being exactly recompressCapacity(size) long); and when a file is recompressed its
// tiles must decode to the samples of the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dng/dng.h"
#include "fuzz/roundtrip_check.h"

namespace {

// One workspace for the whole run, as a worker keeps its scratch and remembered layout from
// file to file: stale state from the previous input must never leak into the next.
tamzel::RecompressWorkspace& workspace() {
  static tamzel::RecompressWorkspace w;
  return w;
}

void recompressOnce(const uint8_t* data, std::size_t size, bool premiere) {
  const std::size_t capacity = tamzel::recompressCapacity(size);
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  const tamzel::RecompressResult result =
      tamzel::recompressDng(data, size, premiere, workspace(), out.get(), capacity);
  if (result.verdict != tamzel::DngVerdict::Recompressible) return;
  const auto samples = tamzel::fuzzing::readInputSamples(data, size, result.info, data[0] == 'I');
  tamzel::fuzzing::checkRoundTrip(samples, result, out.get(), capacity, data[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Copied so that the input buffer ends exactly at `size` bytes whatever libFuzzer hands us.
  std::unique_ptr<uint8_t[]> input(new uint8_t[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(input.get(), data, size);
  tamzel::DngStructure structure;
  tamzel::RawImageInfo info;
  const tamzel::DngVerdict verdict = tamzel::readDngStructure(input.get(), size, structure, info);
  if (verdict == tamzel::DngVerdict::Recompressible) {
    // Accepted: every field must describe bytes inside the file.
    if (info.rawIfd >= structure.ifdCount || info.ifd0 >= structure.ifdCount ||
        structure.ifdCount > tamzel::kMaxIfds) {
      tamzel::fuzzing::fail("IFD indices", info.rawIfd, structure.ifdCount);
    }
    recompressOnce(input.get(), size, false);
    recompressOnce(input.get(), size, true);
  } else {
    (void)tamzel::describeVerdict(verdict, info);
    recompressOnce(input.get(), size, (size & 1) != 0);
  }
  return 0;
}
