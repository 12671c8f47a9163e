// Feeds arbitrary bytes to the structure reader; when a file is accepted, also chooses its tile
// grid and unpacks every tile, which must stay inside the input for any accepted file.
#include <cstddef>
#include <cstdint>

#include "dng/dng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tamzel;
  DngStructure structure;
  RawImageInfo info;
  if (readDngStructure(data, size, structure, info) != DngVerdict::Recompressible) return 0;
  (void)describeVerdict(DngVerdict::Recompressible, info);
  for (bool premiere : {false, true}) {
    const TileLayout layout = computeTileLayout(info.width, info.height, premiere);
    if (checkTileLayout(info, layout) != DngVerdict::Recompressible) continue;
    // Keep the working planes small enough for the fuzzer's memory limit.
    if (uint64_t{layout.tileWidth} * layout.tileLength > (uint64_t{1} << 24)) continue;
    EncoderScratch scratch;
    if (!scratch.reserve(layout)) continue;
    for (uint32_t r = 0; r < layout.tilesDown; ++r) {
      for (uint32_t c = 0; c < layout.tilesAcross; ++c) {
        unpackTile(structure, info, layout, r, c, scratch);
      }
    }
  }
  return 0;
}
