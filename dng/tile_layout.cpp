// The tile grid of a recompressed raw image and the unpacking of one tile's packed samples into
// the two column planes (even and odd CFA columns) that the encoder codes as two components.
#include <algorithm>
#include <cstring>

#include "dng/dng.h"

namespace tamzel {

TileLayout computeTileLayout(uint32_t width, uint32_t height, bool premiereCompat) {
  TileLayout layout;
  const uint32_t target = width > 5000 ? 300 : 240;

  // The widest column count up to width / target that splits the width into equal tiles of an
  // even width.
  layout.tilesAcross = 1;
  for (uint32_t c = width / target; c >= 2; --c) {
    if (width % c == 0 && (width / c) % 2 == 0) {
      layout.tilesAcross = c;
      break;
    }
  }

  // One tile column means wide tiles: start with two rows so no tile is the whole image.
  layout.tilesDown = layout.tilesAcross == 1 ? 2 : 1;
  static constexpr struct {
    uint32_t threshold;
    uint32_t rows;
  } kRows[] = {{480, 2}, {720, 3}, {960, 4}, {1536, 6}, {1920, 8}, {2880, 12}, {3840, 16}};
  for (const auto& step : kRows) {
    if (height >= step.threshold) layout.tilesDown = step.rows;
  }
  // Premiere CC reads only tiles that span the whole image height.
  if (premiereCompat) layout.tilesDown = 1;

  layout.tileWidth =
      static_cast<uint32_t>((uint64_t{width} + layout.tilesAcross - 1) / layout.tilesAcross);
  layout.tileLength =
      static_cast<uint32_t>((uint64_t{height} + layout.tilesDown - 1) / layout.tilesDown);
  layout.tileCount = layout.tilesAcross * layout.tilesDown;
  return layout;
}

DngVerdict checkTileLayout(const RawImageInfo& info, const TileLayout& layout) {
  // The grid must cover the image exactly across and fully down, else unpacking would leave it.
  if (layout.tilesAcross == 0 || layout.tilesDown == 0 ||
      uint64_t{layout.tilesAcross} * layout.tileWidth != info.width ||
      uint64_t{layout.tilesDown} * layout.tileLength < info.height ||
      uint64_t{layout.tilesAcross} * layout.tilesDown != layout.tileCount) {
    return DngVerdict::WidthNotSplittable;
  }
  // Two equal planes per tile; 14-bit rows and tile columns must start on 7-byte groups, 12-bit
  // tile columns on 3-byte groups.
  if (info.width % 2 != 0 || layout.tileWidth % 2 != 0) return DngVerdict::WidthNotSplittable;
  if (info.bitsPerSample == 14 && (info.width % 4 != 0 || layout.tileWidth % 4 != 0)) {
    return DngVerdict::WidthNotSplittable;
  }
  // A JPEG frame header holds 16-bit line and sample counts.
  if (layout.tileLength == 0 || layout.tileLength > 65535 || layout.tileWidth / 2 > 65535) {
    return DngVerdict::TooLarge;
  }
  return DngVerdict::Recompressible;
}

namespace {

uint64_t rowBytes(uint32_t bits, uint32_t width) {
  switch (bits) {
    case 8:
      return width;
    case 12:
      return uint64_t{width / 2} * 3;
    case 14:
      return uint64_t{width / 4} * 7;
    default:
      return uint64_t{width} * 2;
  }
}

uint64_t columnOffset(uint32_t bits, uint32_t tileWidth, uint32_t column) {
  switch (bits) {
    case 8:
      return uint64_t{column} * tileWidth;
    case 12:
      return uint64_t{column} * (tileWidth / 2) * 3;
    case 14:
      return uint64_t{column} * (tileWidth / 4) * 7;
    default:
      return uint64_t{column} * 2 * tileWidth;
  }
}

// One row of the tile, `pairs` = tileWidth / 2 sample pairs, into the two planes.
void unpackRow8(const uint8_t* p, uint32_t pairs, uint16_t* even, uint16_t* odd) {
  for (uint32_t k = 0; k < pairs; ++k) {
    even[k] = p[2 * k];
    odd[k] = p[2 * k + 1];
  }
}

void unpackRow12(const uint8_t* p, uint32_t pairs, uint16_t* even, uint16_t* odd) {
  for (uint32_t k = 0; k < pairs; ++k, p += 3) {
    even[k] = static_cast<uint16_t>((p[0] << 4) | (p[1] >> 4));
    odd[k] = static_cast<uint16_t>(((p[1] & 0x0F) << 8) | p[2]);
  }
}

// pairs is even here: 14-bit tile widths are multiples of 4.
void unpackRow14(const uint8_t* p, uint32_t pairs, uint16_t* even, uint16_t* odd) {
  for (uint32_t k = 0; k + 1 < pairs; k += 2, p += 7) {
    even[k] = static_cast<uint16_t>((p[0] << 6) | (p[1] >> 2));
    odd[k] = static_cast<uint16_t>(((p[1] & 0x03) << 12) | (p[2] << 4) | (p[3] >> 4));
    even[k + 1] = static_cast<uint16_t>(((p[3] & 0x0F) << 10) | (p[4] << 2) | (p[5] >> 6));
    odd[k + 1] = static_cast<uint16_t>(((p[5] & 0x3F) << 8) | p[6]);
  }
}

void unpackRow16(const uint8_t* p, uint32_t pairs, bool littleEndian, uint16_t* even,
                 uint16_t* odd) {
  if (littleEndian) {
    for (uint32_t k = 0; k < pairs; ++k, p += 4) {
      even[k] = static_cast<uint16_t>(p[0] | (p[1] << 8));
      odd[k] = static_cast<uint16_t>(p[2] | (p[3] << 8));
    }
  } else {
    for (uint32_t k = 0; k < pairs; ++k, p += 4) {
      even[k] = static_cast<uint16_t>((p[0] << 8) | p[1]);
      odd[k] = static_cast<uint16_t>((p[2] << 8) | p[3]);
    }
  }
}

}  // namespace

void unpackTile(const DngStructure& structure, const RawImageInfo& info, const TileLayout& layout,
                uint32_t tileRow, uint32_t tileColumn, EncoderScratch& scratch) {
  const uint32_t pairs = layout.tileWidth / 2;
  const uint64_t planeEntries = uint64_t{pairs} * layout.tileLength;
  if (planeEntries > scratch.capacity || scratch.samples[0] == nullptr) return;
  uint16_t* even = scratch.samples[0];
  uint16_t* odd = scratch.samples[1];

  const uint32_t bits = info.bitsPerSample;
  const uint64_t stride = rowBytes(bits, info.width);
  const uint64_t firstRow = uint64_t{tileRow} * layout.tileLength;
  const uint64_t validRows =
      firstRow >= info.height ? 0 : std::min<uint64_t>(layout.tileLength, info.height - firstRow);
  const uint64_t start =
      info.firstStripOffset + firstRow * stride + columnOffset(bits, layout.tileWidth, tileColumn);
  // The bytes of one tile row: the tile width's samples at this depth.
  const uint64_t tileRowBytes = columnOffset(bits, layout.tileWidth, 1);

  // The reader and the layout check prove the whole tile lies in the file; a caller that skipped
  // them gets zeros rather than a read outside the buffer.
  uint64_t rows = validRows;
  if (rows > 0 && !structure.base.contains(start, (rows - 1) * stride + tileRowBytes)) rows = 0;

  const uint8_t* base = structure.base.data();
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* p = base + start + y * stride;
    uint16_t* e = even + y * pairs;
    uint16_t* o = odd + y * pairs;
    switch (bits) {
      case 8:
        unpackRow8(p, pairs, e, o);
        break;
      case 12:
        unpackRow12(p, pairs, e, o);
        break;
      case 14:
        unpackRow14(p, pairs, e, o);
        break;
      default:
        unpackRow16(p, pairs, structure.byteOrder.littleEndian, e, o);
        break;
    }
  }
  // Rows below the image in the last tile row are coded as zeros.
  const uint64_t filled = rows * pairs;
  std::memset(even + filled, 0, (planeEntries - filled) * sizeof(uint16_t));
  std::memset(odd + filled, 0, (planeEntries - filled) * sizeof(uint16_t));
}

}  // namespace tamzel
