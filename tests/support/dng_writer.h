// A small DNG writer for test fixtures: uncompressed CFA raw images of every supported bit
// depth, both byte orders, raw image in IFD0 (CinemaDNG) or in a SubIFD behind a preview, one
// strip or many contiguous strips, with optional Exif, GPS and interoperability IFDs. Tests
// also use it to build deliberately broken files (extra/override tags, gaps between strips).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamzel::testing {

enum class SamplePattern : uint8_t {
  Gradient,  // smooth ramps with a Bayer-like per-site offset: compresses well
  Noise,     // uniform random over the full bit depth: compresses badly
  Constant,  // every sample the same value
  Realistic  // smooth scene plus a little sensor noise, like a real frame
};

// One extra or replacing IFD entry. Values are given as host numbers and written in the
// file's byte order according to `type`; `raw` (if non-empty) is written byte for byte instead.
struct ExtraTag {
  uint16_t tag = 0;
  uint16_t type = 0;  // TIFF field type 1..12 (or anything, for broken files)
  std::vector<uint64_t> values;
  std::vector<uint8_t> raw;
  uint32_t count = 0;  // 0: derived from values/raw
};

struct FixtureSpec {
  uint32_t width = 64;
  uint32_t height = 32;
  uint16_t bitsPerSample = 16;
  bool bigEndian = false;
  bool rawInSubIfd = false;  // preview image in IFD0, raw image in a SubIFD
  uint32_t previewSubIfds = 0;  // extra preview SubIFDs (NewSubfileType 1) besides the raw one
  uint32_t rowsPerStrip = 0;    // 0: one strip for the whole image
  bool stripByteCountsShort = false;  // StripByteCounts of type SHORT
  bool stripOffsetsShort = false;     // StripOffsets of type SHORT (values must fit)
  uint32_t stripGap = 0;   // bytes of gap inserted after each strip but the last
  uint32_t extraStripBytes = 0;  // padding after the image data, counted in the last strip
  bool withExif = true;
  bool withGps = false;
  bool withInterop = false;  // interoperability IFD inside the Exif IFD (needs withExif)
  bool shuffleTags = false;  // write the raw IFD's entries out of tag order
  std::vector<ExtraTag> rawIfdTags;   // added to (or replacing same-tag entries of) the raw IFD
  std::vector<ExtraTag> ifd0Tags;     // same for IFD0 when rawInSubIfd
  std::vector<uint16_t> dropRawIfdTags;  // tags to leave out of the raw IFD
  std::vector<uint16_t> dropIfd0Tags;
  std::string make = "Tamzel Test";
  std::string model = "Fixture Camera";
};

// Samples in raster order, each < 2^bitsPerSample.
std::vector<uint16_t> makeSamples(uint32_t width, uint32_t height, uint16_t bitsPerSample,
                                  SamplePattern pattern, uint32_t seed = 1);

// Packs samples as the DNG stores them: 8-bit bytes; 12- and 14-bit packed most significant bit
// first regardless of byte order; 16-bit in the file's byte order. Width must suit the depth.
std::vector<uint8_t> packSamples(const std::vector<uint16_t>& samples, uint32_t width,
                                 uint32_t height, uint16_t bitsPerSample, bool bigEndian);

// A complete DNG file.
std::vector<uint8_t> writeFixtureDng(const FixtureSpec& spec, const std::vector<uint16_t>& samples);

// Files on disk.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

}  // namespace tamzel::testing
