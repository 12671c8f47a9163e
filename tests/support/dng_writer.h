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

struct FixtureOptions {
  uint32_t width = 64;
  uint32_t height = 32;
  uint16_t bitsPerSample = 16;
  bool bigEndian = false;
  bool rawInSubIfd = false;     // preview image in IFD0, raw image in a SubIFD
  uint32_t previewSubIfds = 0;  // extra preview SubIFDs (NewSubfileType 1) besides the raw one
  uint32_t rowsPerStrip = 0;    // 0: one strip for the whole image
  bool stripByteCountsShort = false;  // StripByteCounts of type SHORT
  bool stripOffsetsShort = false;     // StripOffsets of type SHORT (values must fit)
  uint32_t stripGap = 0;              // bytes of gap inserted after each strip but the last
  uint32_t extraStripBytes = 0;       // padding after the image data, counted in the last strip
  bool withExif = true;
  bool withGps = false;
  bool withInterop = false;          // interoperability IFD inside the Exif IFD (needs withExif)
  bool shuffleTags = false;          // write the raw IFD's entries out of tag order
  std::vector<ExtraTag> rawIfdTags;  // added to (or replacing same-tag entries of) the raw IFD
  std::vector<ExtraTag> ifd0Tags;    // same for IFD0 when rawInSubIfd
  std::vector<uint16_t> dropRawIfdTags;  // tags to leave out of the raw IFD
  std::vector<uint16_t> dropIfd0Tags;
  std::vector<ExtraTag> exifTags;     // added to (or replacing entries of) the Exif IFD
  std::vector<ExtraTag> gpsTags;      // same for the GPS IFD
  std::vector<ExtraTag> previewTags;  // same for every preview SubIFD
  std::vector<uint16_t> dropPreviewTags;
  bool gpsInRawIfd = false;   // GPS pointer in the raw IFD instead of IFD0
  bool exifInRawIfd = false;  // Exif pointer in the raw IFD instead of IFD0
  uint16_t blackLevel = 0;
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

// A complete DNG file. IFD0 always starts at offset 8; IFD0 is followed by the SubIFDs (raw
// image first when rawInSubIfd, then the previews), then the Exif, interoperability and GPS
// IFDs, then all out-of-line values, then the preview pixels and last the raw strips.
std::vector<uint8_t> writeFixtureDng(const FixtureOptions& options,
                                     const std::vector<uint16_t>& samples);

// Where writeFixtureDng put things, for tests that corrupt a fixture on purpose.
struct FixtureLayout {
  uint32_t ifd0Offset = 0;
  uint32_t rawIfdOffset = 0;
  uint32_t exifOffset = 0;     // 0 when there is none
  uint32_t gpsOffset = 0;      // 0 when there is none
  uint32_t interopOffset = 0;  // 0 when there is none
  uint32_t firstStripOffset = 0;
  uint32_t stripBytes = 0;  // sum of all strip byte counts
  std::vector<uint32_t> stripOffsets;
};
std::vector<uint8_t> writeFixtureDng(const FixtureOptions& options,
                                     const std::vector<uint16_t>& samples, FixtureLayout& layout);

// Shorthands for ExtraTag.
ExtraTag asciiTag(uint16_t tag, const std::string& text);  // NUL appended
ExtraTag shortTag(uint16_t tag, std::vector<uint64_t> values);
ExtraTag longTag(uint16_t tag, std::vector<uint64_t> values);
ExtraTag rationalTag(uint16_t tag, std::vector<uint64_t> numeratorDenominatorPairs);

// Files on disk.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

}  // namespace tamzel::testing
