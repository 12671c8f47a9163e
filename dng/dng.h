// The DNG codec: reading the TIFF/DNG structure of one file held in memory, choosing a tile
// grid, unpacking raw samples, lossless JPEG (SOF3) encoding and decoding, and assembling the
// recompressed single-IFD tiled DNG. Nothing here touches files, threads or the GUI.
//
// Every input file is untrusted: all reads of its bytes go through ByteView, which checks each
// access against the buffer; hot loops use raw pointers only over ranges already proven to lie
// inside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tamzel {

// ---------------------------------------------------------------------------------------------
// Byte order and checked access

struct ByteOrder {
  bool littleEndian = true;
  // Between file order and host order; each is its own inverse.
  uint16_t convert16(uint16_t v) const {
    return swap() ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
  }
  uint32_t convert32(uint32_t v) const { return swap() ? __builtin_bswap32(v) : v; }

 private:
  bool swap() const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return littleEndian;
#else
    return !littleEndian;
#endif
  }
};

// A read-only window on untrusted bytes. Every read is checked; a read that would leave the
// window returns false (or the fallback) instead of touching memory outside it.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // True when [offset, offset + length) lies inside the view (no overflow in the sum).
  bool contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool readU8(uint64_t offset, uint8_t& out) const;
  // Raw 16/32-bit values in memory order; pass them through ByteOrder to get numbers.
  bool readRaw16(uint64_t offset, uint16_t& out) const;
  bool readRaw32(uint64_t offset, uint32_t& out) const;
  bool read16(uint64_t offset, const ByteOrder& order, uint16_t& out) const;
  bool read32(uint64_t offset, const ByteOrder& order, uint32_t& out) const;

 private:
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Structure reader

struct IfdInfo {
  uint32_t offset = 0;          // file offset of the IFD's entry count
  uint32_t newSubfileType = 0;  // value of tag 254
  uint16_t entryCount = 0;
  bool topLevel = false;   // IFD0
  bool mainImage = false;  // newSubfileType == 0
};

constexpr uint32_t kMaxIfds = 16;

struct DngStructure {
  ByteView base;
  IfdInfo ifds[kMaxIfds];
  uint32_t ifdCount = 0;
  ByteOrder byteOrder;
};

struct RawImageInfo {
  uint32_t rawIfd = 0;
  uint32_t ifd0 = 0;
  bool rawIsIfd0 = false;
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bitsPerSample = 0;
  uint16_t compression = 0;
  uint16_t photometric = 0;
  uint16_t samplesPerPixel = 0;
  uint32_t firstStripOffset = 0;
  uint32_t stripBytes = 0;
};

// Why a file is or is not recompressed. Recompressible is the only accepting verdict.
enum class DngVerdict : uint8_t {
  Recompressible,
  NotTiff,             // no "II"/"MM" + 42 header
  BadIfdTree,          // IFD walk failed: missing NewSubfileType, bad offsets, >16 IFDs, ...
  UnsupportedSubfile,  // an IFD of another kind (e.g. NewSubfileType 4)
  NoMainImage,
  OutOfBounds,  // an offset, count or array points outside the file
  AlreadyTiled,
  Compressed,  // compression other than 1
  NotCfa,      // photometric other than 32803
  MultipleSamples,
  BitsCount,  // BitsPerSample count other than 1
  TagCount,   // ImageWidth, ImageLength, Compression, Photometric or SamplesPerPixel count != 1
  UnsupportedBits,  // bit depth other than 8, 12, 14, 16
  EmptyImage,       // zero width/height/bits, or no strip data
  TooFewRows,       // height < 4
  StripsMismatch,   // strip and byte count arrays differ in length
  StripsNotContiguous,
  StripsTooShort,      // strips hold fewer bytes than the image needs
  WidthNotSplittable,  // odd width, 14-bit width or tile width not a multiple of 4
  TooLarge,            // a dimension beyond what a JPEG frame header can hold
  OutputTooLarge,      // the recompressed form would not fit the output room
  OutOfMemory,         // the working planes could not be allocated
  LegacyDifference16,  // 16-bit tile needs a difference of 32768, which DNG 1.0 readers misread
};

// A short human-readable reason, e.g. "raw image is already compressed" or
// "10 bits per sample" (the latter needs the bit depth, hence the info argument).
std::string describeVerdict(DngVerdict verdict, const RawImageInfo& info);

// Reads the structure of the file's bytes. On Recompressible, `structure` and `info` describe
// the file; otherwise their contents are unspecified. Pure; safe on any bytes.
DngVerdict readDngStructure(const uint8_t* bytes, std::size_t size, DngStructure& structure,
                            RawImageInfo& info);

// ---------------------------------------------------------------------------------------------
// Tile grid and unpacking

struct TileLayout {
  uint32_t tilesAcross = 0;
  uint32_t tilesDown = 0;
  uint32_t tileWidth = 0;
  uint32_t tileLength = 0;
  uint32_t tileCount = 0;
};

TileLayout computeTileLayout(uint32_t width, uint32_t height, bool premiereCompat);

// Checks that the grid can carry this image losslessly (even widths, 14-bit group boundaries,
// JPEG frame limits). Returns Recompressible or the reason it cannot.
DngVerdict checkTileLayout(const RawImageInfo& info, const TileLayout& layout);

// Per-worker working planes for one tile. Grows, never shrinks; one allocation of all planes.
struct EncoderScratch {
  uint32_t capacity = 0;  // entries in each plane
  uint16_t* samples[2] = {nullptr, nullptr};
  uint16_t* differences[2][3] = {};  // [plane][predictor 1, 4, 5]
  uint8_t* categories[2][3] = {};
  uint64_t allocations = 0;  // how many times the planes were (re)allocated
  // Readers of DNG files older than version 1.1 expect 16 extra bits after a category-16
  // difference. For such files encodeTile refuses (returns 0) a tile whose chosen predictor
  // needs category 16, and notes that it did.
  bool refuseCategory16 = false;
  bool refusedCategory16 = false;

  EncoderScratch() = default;
  EncoderScratch(const EncoderScratch&) = delete;
  EncoderScratch& operator=(const EncoderScratch&) = delete;
  ~EncoderScratch();

  // Makes room for a tile; returns false when the memory cannot be had.
  bool reserve(const TileLayout& layout);
  void release();

 private:
  void* block_ = nullptr;
};

// Fills both sample planes with tileLength x tileWidth/2 entries. The caller has accepted the
// file (readDngStructure) and the layout (checkTileLayout), which prove every byte read here
// lies inside the file.
void unpackTile(const DngStructure& structure, const RawImageInfo& info, const TileLayout& layout,
                uint32_t tileRow, uint32_t tileColumn, EncoderScratch& scratch);

// ---------------------------------------------------------------------------------------------
// Lossless JPEG encoder

struct ComponentAnalysis {
  uint8_t codeLengths[18] = {};  // per category 0..16 and the reserved symbol 17
  uint32_t estimate = 0;         // expected coded size in bytes
};

ComponentAnalysis analyseComponent(const uint16_t* plane, uint32_t columns, uint32_t rows,
                                   int predictor, uint32_t initialPrediction, uint16_t* differences,
                                   uint8_t* categories);

struct HuffmanTable {
  uint8_t bits[16] = {};    // codes of each length 1..16
  uint8_t values[17] = {};  // symbols in code order
  uint32_t valueCount = 0;
  uint16_t codes[17] = {};   // code per symbol 0..16
  uint8_t lengths[17] = {};  // code length per symbol (0 when the symbol has no code)
};

HuffmanTable buildHuffmanTable(const uint8_t codeLengths[18]);

// Writes one tile's complete stream (SOI..EOI, plus a pad byte to even length) at
// out[position]. Returns the stream length, or 0 when it would not fit in `capacity` bytes
// (nothing past out[capacity - 1] is ever written).
std::size_t encodeTile(EncoderScratch& scratch, uint32_t bitsPerSample, const TileLayout& layout,
                       uint8_t* out, std::size_t capacity, std::size_t position);

// ---------------------------------------------------------------------------------------------
// Lossless JPEG decoder (SOF3, predictors 1-7, 1-4 components)

struct LosslessImage {
  uint32_t width = 0;   // samples per line, per component
  uint32_t height = 0;  // lines
  uint32_t components = 0;
  uint32_t precision = 0;
  uint32_t predictor = 0;
  // Interleaved: samples[(y * width + x) * components + c].
  std::vector<uint16_t> samples;
};

enum class DecodeStatus : uint8_t {
  Ok,
  Truncated,
  BadMarker,
  Unsupported,
  BadHuffman,
  BadData,
  TooLarge,  // the frame holds more samples than the caller allows
};

// Decodes one stream. Rejects malformed input cleanly; `maxSamples` bounds the allocation.
DecodeStatus decodeLosslessJpeg(const uint8_t* data, std::size_t size, LosslessImage& image,
                                std::size_t maxSamples = std::size_t{1} << 28);
const char* describeDecodeStatus(DecodeStatus status);

// ---------------------------------------------------------------------------------------------
// Assembly and the whole per-file job

// Writes the recompressed file from offset 0 of `out`. Returns its (even) length, or 0 when it
// would not fit in `capacity` bytes; never writes past out[capacity - 1].
std::size_t rewriteDng(const DngStructure& structure, const RawImageInfo& info,
                       const TileLayout& layout, EncoderScratch& scratch, uint8_t* out,
                       std::size_t capacity);

// What one worker keeps from file to file: its scratch and the last layout it computed.
struct RecompressWorkspace {
  EncoderScratch scratch;
  bool haveLayout = false;
  uint32_t layoutWidth = 0;
  uint32_t layoutHeight = 0;
  bool layoutPremiere = false;
  TileLayout layout;
  uint64_t layoutComputations = 0;
};

// Room the caller provides for the output of a file of `inputSize` bytes.
constexpr std::size_t kOutputSlack = 1048576;
inline std::size_t recompressCapacity(std::size_t inputSize) {
  return inputSize + kOutputSlack;
}

struct RecompressResult {
  DngVerdict verdict = DngVerdict::NotTiff;  // Recompressible means `length` bytes were written
  std::size_t length = 0;
  RawImageInfo info;
  TileLayout layout;
};

// The whole per-file job: structure, layout, unpack and encode every tile, assemble. On
// success the recompressed file is in out[0, length). Otherwise the file is to be passed on
// unchanged and `verdict` says why. Never writes past out[capacity - 1].
RecompressResult recompressDng(const uint8_t* input, std::size_t inputSize, bool premiereCompat,
                               RecompressWorkspace& workspace, uint8_t* out, std::size_t capacity);

}  // namespace tamzel
