// Feeds arbitrary bytes to the lossless JPEG decoder: it must refuse or decode, never read
// outside the input or allocate beyond its sample limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "dng/dng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  tamzel::LosslessImage image;
  const std::size_t limit = std::size_t{1} << 22;
  const tamzel::DecodeStatus status = tamzel::decodeLosslessJpeg(data, size, image, limit);
  if (status == tamzel::DecodeStatus::Ok) {
    const std::size_t expected =
        std::size_t{image.width} * image.height * std::size_t{image.components};
    if (image.samples.size() != expected || expected > limit) std::abort();
  }
  return 0;
}
