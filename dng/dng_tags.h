// Tag knowledge shared by the structure reader and the assembly: which entries of the input
// are carried into the recompressed file, and which of them point at further IFDs. The reader
// proves that everything the assembly will copy lies inside the file, so both must agree on
// exactly this selection.
#pragma once

#include <cstdint>

namespace tamzel::dngtags {

constexpr uint16_t kNewSubfileType = 254;
constexpr uint16_t kImageWidth = 256;
constexpr uint16_t kImageLength = 257;
constexpr uint16_t kBitsPerSample = 258;
constexpr uint16_t kCompression = 259;
constexpr uint16_t kPhotometric = 262;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kSamplesPerPixel = 277;
constexpr uint16_t kRowsPerStrip = 278;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kTileWidth = 322;
constexpr uint16_t kTileLength = 323;
constexpr uint16_t kTileOffsets = 324;
constexpr uint16_t kTileByteCounts = 325;
constexpr uint16_t kSubIfds = 330;
constexpr uint16_t kExifIfd = 34665;
constexpr uint16_t kGpsIfd = 34853;
constexpr uint16_t kInteropIfd = 40965;

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeIfd = 13;

// Bytes per value of TIFF field types 1..12; 0 for any other type.
inline uint32_t typeSize(uint16_t type) {
  static constexpr uint8_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type <= 12 ? kSizes[type] : 0;
}

// Bytes of an entry's value, or 0 for a type outside 1..12 (whose value field is never
// interpreted). 64-bit: a count near 2^32 times 8 must not wrap.
inline uint64_t valueBytes(uint16_t type, uint32_t count) {
  return uint64_t{typeSize(type)} * count;
}

// An entry whose value lies out of line (5 bytes or more) and moves with the file.
inline bool valueIsOutOfLine(uint16_t type, uint32_t count) {
  return valueBytes(type, count) >= 5;
}

// Entries of the raw IFD left out of the recompressed file.
inline bool droppedFromRawIfd(uint16_t tag) {
  return tag == kStripOffsets || tag == kRowsPerStrip || tag == kStripByteCounts || tag == kSubIfds;
}

// Entries of IFD0 left out when the raw image lives in a SubIFD: IFD0's own image description,
// its preview data and the digests of the raw image.
inline bool droppedFromIfd0(uint16_t tag) {
  switch (tag) {
    case 254:
    case 256:
    case 257:
    case 258:
    case 259:
    case 262:
    case 273:
    case 277:
    case 278:
    case 279:
    case 284:
    case 322:
    case 323:
    case 324:
    case 325:
    case 330:
    case 50966:
    case 50967:
    case 50968:
    case 50969:
    case 50970:
    case 50971:
    case 50972:
    case 51111:
      return true;
    default:
      return false;
  }
}

// Pointer entries whose IFD is copied along and relocated: Exif and GPS in the image IFDs,
// interoperability inside the Exif IFD.
inline bool isImagePointerTag(uint16_t tag) {
  return tag == kExifIfd || tag == kGpsIfd;
}
inline bool isExifPointerTag(uint16_t tag) {
  return tag == kInteropIfd;
}
// A pointer entry is only usable as one value of type LONG or IFD.
inline bool isWellFormedPointer(uint16_t type, uint32_t count) {
  return count == 1 && (type == kTypeLong || type == kTypeIfd);
}

}  // namespace tamzel::dngtags
