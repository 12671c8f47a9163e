// The whole job for one file held in memory: accept it, choose (or reuse) the tile grid, make
// room for a tile, and assemble the recompressed file into the caller's buffer.
#include "dng/dng.h"

namespace tamzel {

namespace {

constexpr uint16_t kDngVersionTag = 50706;

// DNG readers decode a lossless JPEG difference of category 16 by the version of the file: from
// 1.1 on it stands alone (32768), before 1.1 it is followed by 16 bits that a standard encoder
// does not write. True when the file declares a version below 1.1 in IFD0.
bool declaresDngBefore11(const DngStructure& structure, const RawImageInfo& info) {
  const IfdInfo& ifd0 = structure.ifds[info.ifd0];
  const ByteOrder& order = structure.byteOrder;
  for (uint32_t i = 0; i < ifd0.entryCount; ++i) {
    const uint64_t at = uint64_t{ifd0.offset} + 2 + uint64_t{12} * i;
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    if (!structure.base.read16(at, order, tag) || !structure.base.read16(at + 2, order, type) ||
        !structure.base.read32(at + 4, order, count)) {
      return true;  // cannot tell: take the careful side
    }
    if (tag != kDngVersionTag) continue;
    uint8_t major = 0, minor = 0;
    // BYTE[4], stored in the entry's value field.
    if (count < 2 || !structure.base.readU8(at + 8, major) ||
        !structure.base.readU8(at + 9, minor)) {
      return true;
    }
    return major < 1 || (major == 1 && minor < 1);
  }
  return false;  // no DNGVersion: readers take the standard meaning
}

}  // namespace

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
  EncoderScratch& scratch = workspace.scratch;
  scratch.refuseCategory16 = info.bitsPerSample == 16 && declaresDngBefore11(structure, info);
  scratch.refusedCategory16 = false;
  result.length = rewriteDng(structure, info, result.layout, scratch, out, capacity);
  if (result.length == 0) {
    result.verdict =
        scratch.refusedCategory16 ? DngVerdict::LegacyDifference16 : DngVerdict::OutputTooLarge;
  }
  scratch.refuseCategory16 = false;
  return result;
}

}  // namespace tamzel
