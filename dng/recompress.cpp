// The whole job for one file held in memory: accept it, choose (or reuse) the tile grid, make
// room for a tile, and assemble the recompressed file into the caller's buffer.
#include "dng/dng.h"

namespace tamzel {

RecompressResult recompressDng(const uint8_t* input, std::size_t inputSize, bool premiereCompat,
                               RecompressWorkspace& workspace, uint8_t* out, std::size_t capacity) {
  RecompressResult result;
  DngStructure structure;
  result.verdict = readDngStructure(input, inputSize, structure, result.info);
  if (result.verdict != DngVerdict::Recompressible) return result;
  const RawImageInfo& info = result.info;

  // A sequence of frames of one size computes its grid once.
  if (!workspace.haveLayout || workspace.layoutWidth != info.width ||
      workspace.layoutHeight != info.height || workspace.layoutPremiere != premiereCompat) {
    workspace.layout = computeTileLayout(info.width, info.height, premiereCompat);
    workspace.layoutWidth = info.width;
    workspace.layoutHeight = info.height;
    workspace.layoutPremiere = premiereCompat;
    workspace.haveLayout = true;
    ++workspace.layoutComputations;
  }
  result.layout = workspace.layout;

  result.verdict = checkTileLayout(info, result.layout);
  if (result.verdict != DngVerdict::Recompressible) return result;
  if (!workspace.scratch.reserve(result.layout)) {
    result.verdict = DngVerdict::OutOfMemory;
    return result;
  }
  result.length = rewriteDng(structure, info, result.layout, workspace.scratch, out, capacity);
  if (result.length == 0) result.verdict = DngVerdict::OutputTooLarge;
  return result;
}

}  // namespace tamzel
