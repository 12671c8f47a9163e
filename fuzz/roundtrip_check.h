// The round-trip check shared by the recompression fuzzers: given an input file and the output
// recompressDng produced for it, read the input's raw samples independently of the codec's own
// unpacker, walk the output's single IFD to its tiles, decode every tile with the lossless JPEG
// decoder and demand the same samples back. Any disagreement aborts, which libFuzzer reports
// as a crash with the input that caused it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dng/dng.h"

namespace tamzel::fuzzing {

[[noreturn]] inline void fail(const char* what, uint64_t a = 0, uint64_t b = 0) {
  std::fprintf(stderr, "round trip failed: %s (%llu, %llu)\n", what,
               static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

// Bytes of one packed image row, as the strips store it.
inline uint64_t rowBytes(uint32_t width, uint32_t bits) {
  return (uint64_t{width} * bits + 7) / 8;
}

// The raw samples of the accepted input in raster order: 8-, 12- and 14-bit packed most
// significant bit first, 16-bit in the file's byte order. Rows start on byte boundaries.
inline std::vector<uint16_t> readInputSamples(const uint8_t* file, std::size_t size,
                                              const RawImageInfo& info, bool littleEndian) {
  const uint64_t stride = rowBytes(info.width, info.bitsPerSample);
  const uint64_t needed = stride * info.height;
  if (info.firstStripOffset > size || needed > size - info.firstStripOffset) {
    fail("accepted raw image lies outside the file", info.firstStripOffset, needed);
  }
  if (info.stripBytes < needed) fail("accepted strips hold fewer bytes than the image", needed);
  std::vector<uint16_t> samples(uint64_t{info.width} * info.height);
  const uint8_t* raw = file + info.firstStripOffset;
  for (uint32_t y = 0; y < info.height; ++y) {
    const uint8_t* row = raw + stride * y;
    for (uint32_t x = 0; x < info.width; ++x) {
      uint32_t v = 0;
      if (info.bitsPerSample == 16) {
        v = littleEndian ? row[2 * x] | (row[2 * x + 1] << 8) : (row[2 * x] << 8) | row[2 * x + 1];
      } else {
        const uint64_t bit = uint64_t{x} * info.bitsPerSample;
        for (uint32_t k = 0; k < info.bitsPerSample; ++k) {
          const uint64_t b = bit + k;
          v = (v << 1) | ((row[b / 8] >> (7 - b % 8)) & 1u);
        }
      }
      samples[uint64_t{y} * info.width + x] = static_cast<uint16_t>(v);
    }
  }
  return samples;
}

// One SHORT or LONG value i of the output's IFD entry at `entry`.
inline uint32_t entryValue(const ByteView& out, const ByteOrder& order, uint64_t entry,
                           uint32_t i) {
  uint16_t type = 0;
  uint32_t count = 0, field = 0;
  if (!out.read16(entry + 2, order, type) || !out.read32(entry + 4, order, count) ||
      !out.read32(entry + 8, order, field)) {
    fail("output entry outside the file", entry);
  }
  if ((type != 3 && type != 4) || i >= count)
    fail("unexpected tile tag type or count", type, count);
  const uint32_t width = type == 3 ? 2 : 4;
  const uint64_t at = uint64_t{count} * width <= 4 ? entry + 8 + uint64_t{i} * width
                                                   : uint64_t{field} + uint64_t{i} * width;
  if (width == 2) {
    uint16_t v = 0;
    if (!out.read16(at, order, v)) fail("tile value outside the file", at);
    return v;
  }
  uint32_t v = 0;
  if (!out.read32(at, order, v)) fail("tile value outside the file", at);
  return v;
}

// Checks the recompressed output against the samples it must hold. `result` is what
// recompressDng returned for the input; `out` holds result.length bytes.
inline void checkRoundTrip(const std::vector<uint16_t>& expected, const RecompressResult& result,
                           const uint8_t* outBytes, std::size_t capacity, uint8_t byteOrderMark) {
  const RawImageInfo& info = result.info;
  const TileLayout& layout = result.layout;
  if (result.length == 0 || result.length > capacity) fail("output length", result.length);
  if (result.length % 2 != 0) fail("odd output length", result.length);
  if (layout.tileWidth * layout.tilesAcross != info.width) fail("grid width", layout.tileWidth);
  if (uint64_t{layout.tileLength} * layout.tilesDown < info.height) fail("grid height");
  if (layout.tileCount != layout.tilesAcross * layout.tilesDown) fail("tile count");

  ByteView out(outBytes, result.length);
  ByteOrder order;
  order.littleEndian = byteOrderMark == 'I';
  uint8_t m0 = 0, m1 = 0;
  uint16_t magic = 0, count = 0;
  uint32_t ifd = 0;
  if (!out.readU8(0, m0) || !out.readU8(1, m1) || m0 != byteOrderMark || m1 != byteOrderMark ||
      !out.read16(2, order, magic) || magic != 42 || !out.read32(4, order, ifd) || ifd != 8 ||
      !out.read16(8, order, count)) {
    fail("output header");
  }
  uint64_t offsetsEntry = 0, countsEntry = 0;
  uint16_t previousTag = 0;
  std::vector<uint32_t> widths, heights;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = 10 + 12 * uint64_t{k};
    uint16_t tag = 0;
    if (!out.read16(at, order, tag)) fail("output IFD outside the file", at);
    if (k > 0 && tag < previousTag) fail("output entries not sorted", previousTag, tag);
    previousTag = tag;
    if (tag == 273 || tag == 279 || tag == 330) fail("strip or SubIFD tag in the output", tag);
    if (tag == 322 && entryValue(out, order, at, 0) != layout.tileWidth) fail("TileWidth");
    if (tag == 323 && entryValue(out, order, at, 0) != layout.tileLength) fail("TileLength");
    // Entries taken over from the input keep their type, whatever it is; the reader takes a
    // SHORT from the value field's first two bytes and anything else as 32 bits, and the
    // assembly writes Compression 7 into the first two bytes.
    uint16_t type = 0, first16 = 0;
    uint32_t count32 = 0, whole32 = 0;
    if (!out.read16(at + 2, order, type) || !out.read32(at + 4, order, count32) ||
        !out.read16(at + 8, order, first16) || !out.read32(at + 8, order, whole32)) {
      fail("output entry outside the file", at);
    }
    const uint32_t number = type == 3 ? first16 : whole32;
    if (tag == 259 && first16 != 7) fail("Compression", first16);
    // The reader takes the value field as the number whatever the count says; an input whose
    // ImageWidth claims several values has that array moved out of line like any other.
    if (tag == 256 && count32 == 1) widths.push_back(number);
    if (tag == 257 && count32 == 1) heights.push_back(number);
    if (tag == 324) offsetsEntry = at;
    if (tag == 325) countsEntry = at;
  }
  if (offsetsEntry == 0 || countsEntry == 0) fail("no tile arrays in the output");
  // A garbage input may carry a tag twice; the entries are then copied as they are and which
  // one a reader believes is its own affair. A single entry must give the image's size.
  if (widths.size() == 1 && widths[0] != info.width) fail("ImageWidth", widths[0], info.width);
  if (heights.size() == 1 && heights[0] != info.height) fail("ImageLength", heights[0]);

  const uint32_t columns = layout.tileWidth / 2;
  for (uint32_t t = 0; t < layout.tileCount; ++t) {
    const uint32_t offset = entryValue(out, order, offsetsEntry, t);
    const uint32_t length = entryValue(out, order, countsEntry, t);
    if (!out.contains(offset, length)) fail("tile outside the output", offset, length);
    if (length % 2 != 0) fail("odd tile length", t, length);
    LosslessImage image;
    DecodeStatus status = decodeLosslessJpeg(outBytes + offset, length, image);
    if (status != DecodeStatus::Ok) fail("tile does not decode", t, static_cast<uint64_t>(status));
    if (image.components != 2 || image.width != columns || image.height != layout.tileLength ||
        image.precision != info.bitsPerSample) {
      fail("tile frame header", image.width, image.height);
    }
    const uint32_t row0 = (t / layout.tilesAcross) * layout.tileLength;
    const uint32_t column0 = (t % layout.tilesAcross) * layout.tileWidth;
    for (uint32_t y = 0; y < layout.tileLength; ++y) {
      for (uint32_t x = 0; x < layout.tileWidth; ++x) {
        const uint16_t got = image.samples[(uint64_t{y} * columns + x / 2) * 2 + x % 2];
        const uint32_t imageRow = row0 + y;
        // Rows below the image are coded as zeros.
        const uint16_t want =
            imageRow < info.height ? expected[uint64_t{imageRow} * info.width + column0 + x] : 0;
        if (got != want) fail("sample differs", uint64_t{imageRow} << 32 | (column0 + x), got);
      }
    }
  }

  // A recompressed file is never accepted again.
  DngStructure again;
  RawImageInfo againInfo;
  if (readDngStructure(outBytes, result.length, again, againInfo) == DngVerdict::Recompressible) {
    fail("recompressed output accepted for recompression");
  }
}

}  // namespace tamzel::fuzzing
