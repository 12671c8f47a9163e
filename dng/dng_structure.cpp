// Reading the TIFF/DNG structure of one file: which IFD holds the raw image, and whether that
// image is the one kind we recompress (uncompressed CFA data, one sample per pixel, 8/12/14/16
// bits, contiguous strips). Everything the later steps will read or copy is proven here to lie
// inside the file, so the unpacking and the assembly never meet an offset that leaves it.
#include <cstdio>

#include "dng/dng.h"
#include "dng/dng_tags.h"

namespace tamzel {

namespace {

using namespace dngtags;

// SubIFDs of SubIFDs exist in the wild; anything deeper than this is a loop or an attack.
constexpr uint32_t kMaxIfdDepth = 8;
// Real files point at an Exif, a GPS and an interoperability IFD. Many pointers (all perhaps at
// one large IFD) would make checking, and copying, them cost entries times pointers.
constexpr uint32_t kMaxPointerIfds = 32;

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t field = 0;  // file offset of the 4-byte value field
};

// The caller has proven the 12 bytes at `at` lie inside the file.
Entry readEntry(const DngStructure& s, uint64_t at) {
  Entry e;
  s.base.read16(at, s.byteOrder, e.tag);
  s.base.read16(at + 2, s.byteOrder, e.type);
  s.base.read32(at + 4, s.byteOrder, e.count);
  e.field = at + 8;
  return e;
}

uint32_t fieldU32(const DngStructure& s, const Entry& e) {
  uint32_t v = 0;
  s.base.read32(e.field, s.byteOrder, v);
  return v;
}

uint16_t fieldU16(const DngStructure& s, const Entry& e) {
  uint16_t v = 0;
  s.base.read16(e.field, s.byteOrder, v);
  return v;
}

// A single number whose width follows the entry's type: SHORT is 16-bit, all else 32-bit.
uint32_t fieldByType(const DngStructure& s, const Entry& e) {
  return e.type == kTypeShort ? fieldU16(s, e) : fieldU32(s, e);
}

// Checks that an IFD's entry count and entries lie inside the file.
DngVerdict readIfdHeader(const DngStructure& s, uint64_t offset, uint16_t& count) {
  if (!s.base.read16(offset, s.byteOrder, count)) return DngVerdict::OutOfBounds;
  if (!s.base.contains(offset + 2, uint64_t{12} * count)) return DngVerdict::OutOfBounds;
  return DngVerdict::Recompressible;
}

DngVerdict walkIfd(DngStructure& s, uint32_t offset, uint32_t depth) {
  if (depth > kMaxIfdDepth) return DngVerdict::BadIfdTree;
  uint16_t count = 0;
  if (DngVerdict v = readIfdHeader(s, offset, count); v != DngVerdict::Recompressible) return v;
  if (count == 0) return DngVerdict::BadIfdTree;

  bool found = false;
  for (uint32_t i = 0; i < count; ++i) {
    const Entry e = readEntry(s, uint64_t{offset} + 2 + uint64_t{12} * i);
    if (e.tag == kSubIfds) {
      if (e.count == 1) {
        DngVerdict v = walkIfd(s, fieldU32(s, e), depth + 1);
        if (v != DngVerdict::Recompressible) return v;
      } else if (e.count > 1) {
        const uint64_t array = fieldU32(s, e);
        if (!s.base.contains(array, uint64_t{4} * e.count)) return DngVerdict::OutOfBounds;
        for (uint32_t k = 0; k < e.count; ++k) {
          uint32_t child = 0;
          s.base.read32(array + uint64_t{4} * k, s.byteOrder, child);
          DngVerdict v = walkIfd(s, child, depth + 1);
          if (v != DngVerdict::Recompressible) return v;
        }
      }
    } else if (e.tag == kNewSubfileType) {
      const uint32_t kind = fieldByType(s, e);
      if (kind != 0 && kind != 1 && kind != 0x10001) return DngVerdict::UnsupportedSubfile;
      if (s.ifdCount >= kMaxIfds) return DngVerdict::BadIfdTree;
      IfdInfo& info = s.ifds[s.ifdCount++];
      info.offset = offset;
      info.newSubfileType = kind;
      info.entryCount = count;
      info.topLevel = depth == 0;
      info.mainImage = kind == 0;
      found = true;
    }
  }
  return found ? DngVerdict::Recompressible : DngVerdict::BadIfdTree;
}

// Reads n strip values (offsets or byte counts) from an entry: 16-bit for SHORT, 32-bit
// otherwise; in the value field itself when they fit in its 4 bytes, as TIFF stores them.
struct StripArray {
  uint64_t at = 0;
  uint32_t width = 4;
};

bool locateStripArray(const DngStructure& s, const Entry& e, StripArray& a) {
  a.width = e.type == kTypeShort ? 2 : 4;
  const uint64_t bytes = uint64_t{a.width} * e.count;
  a.at = bytes <= 4 ? e.field : fieldU32(s, e);
  return s.base.contains(a.at, bytes);
}

uint32_t stripValue(const DngStructure& s, const StripArray& a, uint32_t k) {
  if (a.width == 2) {
    uint16_t v = 0;
    s.base.read16(a.at + uint64_t{2} * k, s.byteOrder, v);
    return v;
  }
  uint32_t v = 0;
  s.base.read32(a.at + uint64_t{4} * k, s.byteOrder, v);
  return v;
}

// The out-of-line value of an entry that will be copied must lie inside the file.
bool valueInside(const DngStructure& s, const Entry& e) {
  if (!valueIsOutOfLine(e.type, e.count)) return true;
  return s.base.contains(fieldU32(s, e), valueBytes(e.type, e.count));
}

// An IFD reached through an Exif, GPS or interoperability pointer: its entries and their
// values must lie inside the file. `nested` allows the interoperability pointer (Exif only).
DngVerdict checkPointerIfd(const DngStructure& s, uint32_t offset, bool nested, uint32_t& budget) {
  if (budget == 0) return DngVerdict::BadIfdTree;
  --budget;
  uint16_t count = 0;
  if (DngVerdict v = readIfdHeader(s, offset, count); v != DngVerdict::Recompressible) return v;
  for (uint32_t i = 0; i < count; ++i) {
    const Entry e = readEntry(s, uint64_t{offset} + 2 + uint64_t{12} * i);
    if (nested && isExifPointerTag(e.tag)) {
      if (!isWellFormedPointer(e.type, e.count)) return DngVerdict::BadIfdTree;
      DngVerdict v = checkPointerIfd(s, fieldU32(s, e), false, budget);
      if (v != DngVerdict::Recompressible) return v;
    } else if (!valueInside(s, e)) {
      return DngVerdict::OutOfBounds;
    }
  }
  return DngVerdict::Recompressible;
}

// The entries of one image IFD that the assembly carries over.
DngVerdict checkCopiedEntries(const DngStructure& s, const IfdInfo& ifd, bool isRaw,
                              const uint64_t* rawTags, uint32_t& budget) {
  for (uint32_t i = 0; i < ifd.entryCount; ++i) {
    const Entry e = readEntry(s, uint64_t{ifd.offset} + 2 + uint64_t{12} * i);
    if (isRaw) {
      if (droppedFromRawIfd(e.tag)) continue;
    } else if (droppedFromIfd0(e.tag) || (rawTags[e.tag >> 6] >> (e.tag & 63)) & 1) {
      continue;
    }
    if (isImagePointerTag(e.tag)) {
      if (!isWellFormedPointer(e.type, e.count)) return DngVerdict::BadIfdTree;
      DngVerdict v = checkPointerIfd(s, fieldU32(s, e), e.tag == kExifIfd, budget);
      if (v != DngVerdict::Recompressible) return v;
    } else if (!valueInside(s, e)) {
      return DngVerdict::OutOfBounds;
    }
  }
  return DngVerdict::Recompressible;
}

}  // namespace

DngVerdict readDngStructure(const uint8_t* bytes, std::size_t size, DngStructure& structure,
                            RawImageInfo& info) {
  structure = DngStructure{};
  info = RawImageInfo{};
  DngStructure& s = structure;
  s.base = ByteView(bytes, bytes == nullptr ? 0 : size);

  // 1. Byte order and magic number.
  uint8_t b0 = 0, b1 = 0;
  if (!s.base.readU8(0, b0) || !s.base.readU8(1, b1) || b0 != b1 || (b0 != 'I' && b0 != 'M')) {
    return DngVerdict::NotTiff;
  }
  s.byteOrder.littleEndian = b0 == 'I';
  uint16_t magic = 0;
  uint32_t ifd0Offset = 0;
  if (!s.base.read16(2, s.byteOrder, magic) || magic != 42 ||
      !s.base.read32(4, s.byteOrder, ifd0Offset)) {
    return DngVerdict::NotTiff;
  }

  // 2. The IFD tree.
  if (DngVerdict v = walkIfd(s, ifd0Offset, 0); v != DngVerdict::Recompressible) return v;
  if (s.ifdCount == 0) return DngVerdict::BadIfdTree;

  // 3. IFD0 and the raw image: the last of each kind in walk order.
  bool haveRaw = false;
  for (uint32_t i = 0; i < s.ifdCount; ++i) {
    if (s.ifds[i].topLevel) info.ifd0 = i;
    if (s.ifds[i].mainImage) {
      info.rawIfd = i;
      haveRaw = true;
    }
  }
  if (!haveRaw) return DngVerdict::NoMainImage;
  info.rawIsIfd0 = info.rawIfd == info.ifd0;

  // 4. The raw IFD's tags.
  const IfdInfo& raw = s.ifds[info.rawIfd];
  bool tiled = false;
  bool bitsCountBad = false;
  bool singleValueBad = false;  // a tag that describes the image holds several values
  // Every entry is carried into the output, so a tag that describes the image must occur once:
  // with two entries a reader taking the first could see another image than the tiles hold.
  uint32_t seen = 0;
  auto repeated = [&seen](uint32_t bit) {
    const bool again = (seen & bit) != 0;
    seen |= bit;
    return again;
  };
  Entry offsets, counts;
  bool haveOffsets = false, haveCounts = false;
  for (uint32_t i = 0; i < raw.entryCount; ++i) {
    const Entry e = readEntry(s, uint64_t{raw.offset} + 2 + uint64_t{12} * i);
    switch (e.tag) {
      case kImageWidth:
        singleValueBad |= repeated(1) || e.count != 1;
        info.width = fieldByType(s, e);
        break;
      case kImageLength:
        singleValueBad |= repeated(2) || e.count != 1;
        info.height = fieldByType(s, e);
        break;
      case kBitsPerSample:
        bitsCountBad |= repeated(4) || e.count != 1;
        info.bitsPerSample = fieldU16(s, e);
        break;
      case kCompression:
        singleValueBad |= repeated(8) || e.count != 1;
        info.compression = fieldU16(s, e);
        break;
      case kPhotometric:
        singleValueBad |= repeated(16) || e.count != 1;
        info.photometric = fieldU16(s, e);
        break;
      case kStripOffsets:
        offsets = e;
        haveOffsets = true;
        break;
      case kSamplesPerPixel:
        singleValueBad |= repeated(32) || e.count != 1;
        info.samplesPerPixel = fieldU16(s, e);
        break;
      case kStripByteCounts:
        counts = e;
        haveCounts = true;
        break;
      case kTileWidth:
      case kTileLength:
      case kTileOffsets:
      case kTileByteCounts:
        tiled = true;
        break;
      default:
        break;
    }
  }

  // What kind of image it is comes first, so the reason given is the most telling one.
  if (tiled) return DngVerdict::AlreadyTiled;
  if (info.compression != 1) return DngVerdict::Compressed;
  if (info.photometric != 32803) return DngVerdict::NotCfa;
  if (info.samplesPerPixel > 1) return DngVerdict::MultipleSamples;
  if (bitsCountBad) return DngVerdict::BitsCount;
  if (singleValueBad) return DngVerdict::TagCount;
  if (info.width == 0 || info.height == 0 || info.bitsPerSample == 0) {
    return DngVerdict::EmptyImage;
  }
  const uint16_t bits = info.bitsPerSample;
  if (bits != 8 && bits != 12 && bits != 14 && bits != 16) return DngVerdict::UnsupportedBits;
  if (info.height < 4) return DngVerdict::TooFewRows;

  // 5. Strips: end to end, one block.
  const uint32_t stripCount = haveOffsets ? offsets.count : 0;
  const uint32_t countCount = haveCounts ? counts.count : 0;
  if (stripCount != countCount) return DngVerdict::StripsMismatch;
  uint64_t stripBytes = 0;
  if (stripCount == 1) {
    info.firstStripOffset = fieldByType(s, offsets);
    stripBytes = fieldByType(s, counts);
  } else if (stripCount > 1) {
    StripArray offsetArray, countArray;
    if (!locateStripArray(s, offsets, offsetArray) || !locateStripArray(s, counts, countArray)) {
      return DngVerdict::OutOfBounds;
    }
    uint64_t previousOffset = stripValue(s, offsetArray, 0);
    uint64_t previousCount = stripValue(s, countArray, 0);
    info.firstStripOffset = static_cast<uint32_t>(previousOffset);
    stripBytes = previousCount;
    for (uint32_t k = 1; k < stripCount; ++k) {
      const uint64_t offset = stripValue(s, offsetArray, k);
      if (offset != previousOffset + previousCount) return DngVerdict::StripsNotContiguous;
      previousOffset = offset;
      previousCount = stripValue(s, countArray, k);
      stripBytes += previousCount;
    }
  }
  info.stripBytes = stripBytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(stripBytes);

  // 6. Acceptance.
  if (info.firstStripOffset == 0 || stripBytes == 0) return DngVerdict::EmptyImage;
  // width * height < 2^64; beyond 2^40 samples no 32-bit byte count can hold the image.
  const uint64_t samples = uint64_t{info.width} * info.height;
  if (samples > (uint64_t{1} << 40) || stripBytes < samples * bits / 8) {
    return DngVerdict::StripsTooShort;
  }
  if (!s.base.contains(info.firstStripOffset, stripBytes)) return DngVerdict::OutOfBounds;

  // Everything the assembly copies must lie inside the file too.
  uint64_t rawTags[1024] = {};
  for (uint32_t i = 0; i < raw.entryCount; ++i) {
    const Entry e = readEntry(s, uint64_t{raw.offset} + 2 + uint64_t{12} * i);
    rawTags[e.tag >> 6] |= uint64_t{1} << (e.tag & 63);
  }
  uint32_t pointerBudget = kMaxPointerIfds;
  if (DngVerdict v = checkCopiedEntries(s, raw, true, rawTags, pointerBudget);
      v != DngVerdict::Recompressible) {
    return v;
  }
  if (!info.rawIsIfd0) {
    DngVerdict v = checkCopiedEntries(s, s.ifds[info.ifd0], false, rawTags, pointerBudget);
    if (v != DngVerdict::Recompressible) return v;
  }
  return DngVerdict::Recompressible;
}

std::string describeVerdict(DngVerdict verdict, const RawImageInfo& info) {
  switch (verdict) {
    case DngVerdict::Recompressible:
      return "recompressible";
    case DngVerdict::NotTiff:
      return "not a TIFF file";
    case DngVerdict::BadIfdTree:
      return "image directory tree is malformed";
    case DngVerdict::UnsupportedSubfile:
      return "contains a subfile of an unsupported kind";
    case DngVerdict::NoMainImage:
      return "no full-resolution raw image";
    case DngVerdict::OutOfBounds:
      return "structure points outside the file";
    case DngVerdict::AlreadyTiled:
      return "raw image is tiled";
    case DngVerdict::Compressed:
      return "raw image is already compressed";
    case DngVerdict::NotCfa:
      return "raw image is not colour filter array data";
    case DngVerdict::MultipleSamples:
      return "more than one sample per pixel";
    case DngVerdict::BitsCount:
      return "more than one bits-per-sample value";
    case DngVerdict::UnsupportedBits: {
      char text[32];
      std::snprintf(text, sizeof text, "%u bits per sample", unsigned{info.bitsPerSample});
      return text;
    }
    case DngVerdict::EmptyImage:
      return "raw image is empty";
    case DngVerdict::TooFewRows:
      return "raw image has fewer than 4 rows";
    case DngVerdict::StripsMismatch:
      return "strip offsets and byte counts differ in number";
    case DngVerdict::StripsNotContiguous:
      return "strips are not contiguous";
    case DngVerdict::StripsTooShort:
      return "strips hold less data than the image needs";
    case DngVerdict::WidthNotSplittable:
      return "width cannot be split into tiles";
    case DngVerdict::TooLarge:
      return "tiles too large for a lossless JPEG frame";
    case DngVerdict::OutputTooLarge:
      return "recompressed file would not fit the output buffer";
    case DngVerdict::OutOfMemory:
      return "not enough memory for the tile planes";
    case DngVerdict::TagCount:
      return "an image description tag holds more than one value";
    case DngVerdict::LegacyDifference16:
      return "16-bit data needs a difference that DNG 1.0 readers decode wrongly";
  }
  return "unknown reason";
}

}  // namespace tamzel
