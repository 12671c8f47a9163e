// Assembly of the recompressed DNG: one IFD holding the raw image's entries (plus IFD0's
// metadata when the raw image lived in a SubIFD) and four tile entries, then every out-of-line
// value, the Exif/GPS/interoperability IFDs, and the lossless JPEG tiles.
//
// Every write goes through a bounded writer: when anything would pass the output's capacity the
// assembly gives up and returns 0, and the caller passes the file through unchanged. Reads of
// the input are checked as well, although the structure reader has already proven that
// everything copied here lies inside the file.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "dng/dng.h"
#include "dng/dng_tags.h"

namespace tamzel {

namespace {

using namespace dngtags;

struct Output {
  uint8_t* out;
  std::size_t capacity;
  ByteOrder order;

  bool fits(uint64_t at, uint64_t length) const {
    return at <= capacity && length <= capacity - at;
  }
  bool put16(uint64_t at, uint16_t value) {
    if (!fits(at, 2)) return false;
    const uint16_t v = order.convert16(value);
    std::memcpy(out + at, &v, 2);
    return true;
  }
  bool put32(uint64_t at, uint32_t value) {
    if (!fits(at, 4)) return false;
    const uint32_t v = order.convert32(value);
    std::memcpy(out + at, &v, 4);
    return true;
  }
  // Reads back a number already written (entries copied from the input are in file order).
  uint16_t get16(uint64_t at) const {
    uint16_t v;
    std::memcpy(&v, out + at, 2);
    return order.convert16(v);
  }
  uint32_t get32(uint64_t at) const {
    uint32_t v;
    std::memcpy(&v, out + at, 4);
    return order.convert32(v);
  }
};

struct Assembly {
  const DngStructure& in;
  Output o;
  uint64_t cursor = 0;

  // Moves an entry's out-of-line value (5 bytes or more) to the cursor. The entry at `at` is
  // already in the output.
  bool applyValueRule(uint64_t at) {
    const uint16_t type = o.get16(at + 2);
    const uint32_t count = o.get32(at + 4);
    if (!valueIsOutOfLine(type, count)) return true;
    const uint64_t size = valueBytes(type, count);
    const uint32_t source = o.get32(at + 8);
    if (!in.base.contains(source, size) || !o.fits(cursor, size + (size & 1))) return false;
    if (cursor > UINT32_MAX) return false;
    std::memcpy(o.out + cursor, in.base.data() + source, size);
    o.put32(at + 8, static_cast<uint32_t>(cursor));
    cursor += size;
    if (cursor & 1) o.out[cursor++] = 0;
    return true;
  }

  // Copies the IFD an Exif, GPS or interoperability entry points at, with no next IFD, points
  // the entry at the copy and moves the copied entries' values. `nested` relocates the
  // interoperability IFD inside an Exif IFD.
  bool relocateIfd(uint64_t at, bool nested) {
    const uint32_t source = o.get32(at + 8);
    uint16_t count = 0;
    if (!in.base.read16(source, in.byteOrder, count)) return false;
    const uint64_t size = 2 + uint64_t{12} * count;
    if (!in.base.contains(source, size) || !o.fits(cursor, size + 4)) return false;
    if (cursor > UINT32_MAX) return false;
    const uint64_t copy = cursor;
    std::memcpy(o.out + copy, in.base.data() + source, size);
    o.put32(copy + size, 0);
    o.put32(at + 8, static_cast<uint32_t>(copy));
    cursor += size + 4;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = copy + 2 + uint64_t{12} * i;
      const uint16_t tag = o.get16(entry);
      bool ok;
      if (nested && isExifPointerTag(tag) &&
          isWellFormedPointer(o.get16(entry + 2), o.get32(entry + 4))) {
        ok = relocateIfd(entry, false);
      } else {
        ok = applyValueRule(entry);
      }
      if (!ok) return false;
    }
    return true;
  }
};

uint16_t entryTag(const DngStructure& s, uint64_t at) {
  uint16_t tag = 0;
  s.base.read16(at, s.byteOrder, tag);
  return tag;
}

uint64_t entryAt(const IfdInfo& ifd, uint32_t i) {
  return uint64_t{ifd.offset} + 2 + uint64_t{12} * i;
}

}  // namespace

std::size_t rewriteDng(const DngStructure& structure, const RawImageInfo& info,
                       const TileLayout& layout, EncoderScratch& scratch, uint8_t* out,
                       std::size_t capacity) {
  if (out == nullptr || info.rawIfd >= structure.ifdCount || info.ifd0 >= structure.ifdCount ||
      layout.tileCount == 0 ||
      uint64_t{layout.tilesAcross} * layout.tilesDown != layout.tileCount) {
    return 0;
  }
  const DngStructure& s = structure;
  const IfdInfo& raw = s.ifds[info.rawIfd];
  const IfdInfo& ifd0 = s.ifds[info.ifd0];
  const uint32_t rawCount = raw.entryCount;
  const uint32_t ifd0Count = info.rawIsIfd0 ? 0 : ifd0.entryCount;
  if (!s.base.contains(raw.offset + uint64_t{2}, uint64_t{12} * rawCount) ||
      !s.base.contains(ifd0.offset + uint64_t{2}, uint64_t{12} * ifd0Count)) {
    return 0;
  }

  // Which entries are kept: the raw IFD's, then IFD0's that the raw IFD does not also have.
  uint64_t rawTags[1024] = {};
  uint32_t n = 4;
  for (uint32_t i = 0; i < rawCount; ++i) {
    const uint16_t tag = entryTag(s, entryAt(raw, i));
    rawTags[tag >> 6] |= uint64_t{1} << (tag & 63);
    if (!droppedFromRawIfd(tag)) ++n;
  }
  auto keptFromIfd0 = [&](uint16_t tag) {
    return !droppedFromIfd0(tag) && ((rawTags[tag >> 6] >> (tag & 63)) & 1) == 0;
  };
  for (uint32_t i = 0; i < ifd0Count; ++i) {
    if (keptFromIfd0(entryTag(s, entryAt(ifd0, i)))) ++n;
  }
  if (n > 65535) return 0;

  Output o{out, capacity, s.byteOrder};
  const uint64_t valuesStart = 14 + uint64_t{12} * n;
  if (!o.fits(0, valuesStart)) return 0;

  // Sort keys (tag, gathering index) in the room the values will later take: sorting by both
  // is a stable sort by tag, without memory of our own.
  const uintptr_t address = reinterpret_cast<uintptr_t>(out + valuesStart);
  const uint64_t keysAt = valuesStart + ((8 - address % 8) % 8);
  if (!o.fits(keysAt, uint64_t{8} * n)) return 0;
  uint64_t* keys = reinterpret_cast<uint64_t*>(out + keysAt);
  const uint32_t newBase = rawCount + ifd0Count;
  static constexpr uint16_t kNewTags[4] = {kTileWidth, kTileLength, kTileOffsets, kTileByteCounts};
  uint32_t k = 0;
  for (uint32_t i = 0; i < rawCount; ++i) {
    const uint16_t tag = entryTag(s, entryAt(raw, i));
    if (!droppedFromRawIfd(tag)) keys[k++] = (uint64_t{tag} << 32) | i;
  }
  for (uint32_t i = 0; i < ifd0Count; ++i) {
    const uint16_t tag = entryTag(s, entryAt(ifd0, i));
    if (keptFromIfd0(tag)) keys[k++] = (uint64_t{tag} << 32) | (rawCount + i);
  }
  for (uint32_t i = 0; i < 4; ++i) keys[k++] = (uint64_t{kNewTags[i]} << 32) | (newBase + i);
  std::sort(keys, keys + n);

  // Header and the sorted entries.
  std::memcpy(out, s.base.data(), 2);
  o.put16(2, 42);
  o.put32(4, 8);
  o.put16(8, static_cast<uint16_t>(n));
  uint64_t tileOffsetsEntry = 0, tileCountsEntry = 0;
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t index = static_cast<uint32_t>(keys[j]);
    const uint64_t at = 10 + uint64_t{12} * j;
    if (index < newBase) {
      const uint64_t from =
          index < rawCount ? entryAt(raw, index) : entryAt(ifd0, index - rawCount);
      std::memcpy(out + at, s.base.data() + from, 12);
      continue;
    }
    const uint32_t which = index - newBase;
    o.put16(at, kNewTags[which]);
    o.put16(at + 2, kTypeLong);
    const bool isArray = which >= 2;
    o.put32(at + 4, isArray ? layout.tileCount : 1);
    o.put32(at + 8, which == 0 ? layout.tileWidth : which == 1 ? layout.tileLength : 0);
    if (which == 2) tileOffsetsEntry = at;
    if (which == 3) tileCountsEntry = at;
  }
  o.put32(10 + uint64_t{12} * n, 0);

  // Values, in entry order.
  Assembly a{s, o, valuesStart};
  uint64_t tileOffsetsArray = 0, tileCountsArray = 0;
  for (uint32_t j = 0; j < n; ++j) {
    const uint64_t at = 10 + uint64_t{12} * j;
    const uint16_t tag = o.get16(at);
    bool ok = true;
    if (at == tileOffsetsEntry || at == tileCountsEntry) {
      if (layout.tileCount > 1) {
        const uint64_t bytes = uint64_t{4} * layout.tileCount;
        if (!o.fits(a.cursor, bytes) || a.cursor > UINT32_MAX) return 0;
        (at == tileOffsetsEntry ? tileOffsetsArray : tileCountsArray) = a.cursor;
        o.put32(at + 8, static_cast<uint32_t>(a.cursor));
        a.cursor += bytes;
      }
    } else if (tag == kCompression) {
      o.put16(at + 8, 7);
      o.put16(at + 10, 0);
    } else if (isImagePointerTag(tag) && isWellFormedPointer(o.get16(at + 2), o.get32(at + 4))) {
      ok = a.relocateIfd(at, tag == kExifIfd);
    } else {
      ok = a.applyValueRule(at);
    }
    if (!ok) return 0;
  }

  // Tiles, row by row.
  for (uint32_t r = 0; r < layout.tilesDown; ++r) {
    for (uint32_t c = 0; c < layout.tilesAcross; ++c) {
      if (a.cursor >= capacity) return 0;
      unpackTile(s, info, layout, r, c, scratch);
      const std::size_t length = encodeTile(scratch, info.bitsPerSample, layout, out, capacity,
                                            static_cast<std::size_t>(a.cursor));
      if (length == 0 || a.cursor + length > UINT32_MAX) return 0;
      const uint64_t t = uint64_t{r} * layout.tilesAcross + c;
      if (layout.tileCount == 1) {
        o.put32(tileOffsetsEntry + 8, static_cast<uint32_t>(a.cursor));
        o.put32(tileCountsEntry + 8, static_cast<uint32_t>(length));
      } else {
        o.put32(tileOffsetsArray + 4 * t, static_cast<uint32_t>(a.cursor));
        o.put32(tileCountsArray + 4 * t, static_cast<uint32_t>(length));
      }
      a.cursor += length;
    }
  }
  return static_cast<std::size_t>(a.cursor);
}

}  // namespace tamzel
