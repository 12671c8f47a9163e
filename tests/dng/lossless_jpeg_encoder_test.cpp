// The tile encoder: analysis and Huffman construction, the exact stream layout, predictor
// choice, bounded writing, and round trips through the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "dng/dng.h"
#include "lossless_jpeg_test_support.h"

namespace tamzel {
namespace {

using testing::decodeTile;
using testing::EncoderRig;
using testing::makeTile;
using testing::parseLayout;
using testing::Pattern;
using testing::Tile;

std::vector<uint8_t> header(uint32_t bits, uint32_t rows, uint32_t columns,
                            const std::vector<uint8_t>& bits0, const std::vector<uint8_t>& vals0,
                            const std::vector<uint8_t>& bits1, const std::vector<uint8_t>& vals1,
                            uint8_t predictor) {
  std::vector<uint8_t> s = {0xFF,
                            0xD8,
                            0xFF,
                            0xC3,
                            0x00,
                            0x0E,
                            static_cast<uint8_t>(bits),
                            static_cast<uint8_t>(rows >> 8),
                            static_cast<uint8_t>(rows),
                            static_cast<uint8_t>(columns >> 8),
                            static_cast<uint8_t>(columns),
                            0x02,
                            0x00,
                            0x11,
                            0x00,
                            0x01,
                            0x11,
                            0x00};
  auto table = [&](uint8_t id, const std::vector<uint8_t>& counts,
                   const std::vector<uint8_t>& values) {
    const uint32_t length = 19 + static_cast<uint32_t>(values.size());
    s.insert(s.end(),
             {0xFF, 0xC4, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), id});
    std::vector<uint8_t> all(16, 0);
    std::copy(counts.begin(), counts.end(), all.begin());
    s.insert(s.end(), all.begin(), all.end());
    s.insert(s.end(), values.begin(), values.end());
  };
  table(0, bits0, vals0);
  table(1, bits1, vals1);
  s.insert(s.end(), {0xFF, 0xDA, 0x00, 0x0A, 0x02, 0x00, 0x00, 0x01, 0x10, predictor, 0x00, 0x00});
  return s;
}

// Streams worked out by hand from the marker layout, the Huffman procedure and the bit
// writer: each covers one detail of the byte format.
TEST(LosslessJpegEncoderTest, TinyTilesMatchHandComputedStreams) {
  struct Case {
    const char* what;
    uint32_t bits;
    uint16_t even;  // plane 0, one entry
    uint16_t odd;   // plane 1, one entry
    uint8_t value0, value1;
    std::vector<uint8_t> scan;
  };
  const Case cases[] = {
      // 133 - 128 = 5: category 3, code 0, bits 101; 126 - 128 = -2: category 2, bits 01.
      // 0101 001 and one padding 1 bit: 0x53. 77 bytes to EOI, so a pad byte follows.
      {"padding with 1 bits, pad byte", 8, 133, 126, 3, 2, {0x53}},
      // 65535 - 32768 = 32767: category 15, 0 + fifteen 1 bits = 7F FF, stuffed with 00;
      // 1 - 32768 = -32767: stored as 0x8000, bits 0 + fifteen 0 bits. Ends on a byte.
      {"0xFF stuffing, scan ending on a byte",
       16,
       65535,
       1,
       15,
       15,
       {0x7F, 0xFF, 0x00, 0x00, 0x00}},
      // 0 - 32768: a difference of 32768 is category 16 with no additional bits; 32768 - 32768
      // is category 0. Two code bits 00 and six padding bits.
      {"category 16 has no additional bits", 16, 0, 32768, 16, 0, {0x3F}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EncoderRig rig;
    rig.load(Tile{2, 1, {c.even, c.odd}});
    const std::vector<uint8_t> stream = rig.encode(c.bits);
    std::vector<uint8_t> expected = header(c.bits, 1, 1, {1}, {c.value0}, {1}, {c.value1}, 1);
    expected.insert(expected.end(), c.scan.begin(), c.scan.end());
    expected.insert(expected.end(), {0xFF, 0xD9});
    if (expected.size() % 2 == 1) expected.push_back(0x00);
    EXPECT_EQ(stream, expected);
  }
}

TEST(LosslessJpegEncoderTest, ConstantPlaneCodesOnlyTheCategoriesThatOccur) {
  // 12 bits, 8 x 4 tile: each plane's first entry differs from 2048 by -1048 (category 11),
  // the other 15 by 0. Figure K.1 gives lengths 0:1, 11:2 and the reserved symbol 2.
  std::vector<uint16_t> samples(32, 1000);
  EncoderRig rig;
  rig.load(Tile{8, 4, samples});
  for (int predictor : {1, 4, 5}) {
    std::vector<uint16_t> differences(16);
    std::vector<uint8_t> categories(16);
    const ComponentAnalysis analysis = analyseComponent(
        rig.scratch.samples[0], 4, 4, predictor, 2048, differences.data(), categories.data());
    uint8_t expectedLengths[18] = {};
    expectedLengths[0] = 1;
    expectedLengths[11] = 2;
    expectedLengths[17] = 2;
    EXPECT_EQ(std::vector<uint8_t>(analysis.codeLengths, analysis.codeLengths + 18),
              std::vector<uint8_t>(expectedLengths, expectedLengths + 18));
    EXPECT_EQ(analysis.estimate, (15u * 1 + 1u * (2 + 11)) / 8);
    EXPECT_EQ(categories[0], 11);
    EXPECT_EQ(differences[0], static_cast<uint16_t>(-1048 - 1));
    for (int i = 1; i < 16; ++i) EXPECT_EQ(categories[i], 0) << i;

    const HuffmanTable table = buildHuffmanTable(analysis.codeLengths);
    EXPECT_EQ(table.valueCount, 2u);
    EXPECT_EQ(table.values[0], 0);
    EXPECT_EQ(table.values[1], 11);
    EXPECT_EQ(table.bits[0], 1);
    EXPECT_EQ(table.bits[1], 1);
    EXPECT_EQ(table.codes[0], 0b0);
    EXPECT_EQ(table.codes[11], 0b10);
  }
  const std::vector<uint8_t> stream = rig.encode(12);
  const auto layout = parseLayout(stream);
  EXPECT_EQ(layout.valueCounts[0], 2u);
  EXPECT_EQ(layout.valueCounts[1], 2u);
  EXPECT_EQ(stream[layout.sos + 9], 1) << "all predictors cost the same";
  Tile decoded;
  ASSERT_EQ(decodeTile(stream, decoded), DecodeStatus::Ok);
  EXPECT_EQ(decoded.samples, samples);
}

TEST(LosslessJpegEncoderTest, CategoriesAndStoredDifferences) {
  // One 16-bit row against predictor 1: the difference to the previous entry (to 32768 for
  // the first) decides the category; negative differences are stored less one.
  const std::vector<uint16_t> plane = {32768, 32769, 32767, 0, 32768, 32767, 65535, 65535, 0};
  const struct {
    uint8_t category;
    uint16_t stored;
  } expected[] = {
      {0, 0},        // 32768 - 32768
      {1, 1},        // +1
      {2, 0xFFFD},   // -2, stored as -3
      {15, 0x8000},  // -32767, stored as -32768
      {16, 0},       // +32768
      {1, 0xFFFE},   // -1, stored as -2
      {16, 0},       // 65535 - 32767 = 32768
      {0, 0},        // 0
      {1, 1},        // 0 - 65535 = 1 modulo 2^16
  };
  std::vector<uint16_t> differences(plane.size());
  std::vector<uint8_t> categories(plane.size());
  analyseComponent(plane.data(), static_cast<uint32_t>(plane.size()), 1, 1, 32768,
                   differences.data(), categories.data());
  for (std::size_t i = 0; i < plane.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(categories[i], expected[i].category);
    if (expected[i].category != 16) {
      EXPECT_EQ(differences[i] & ((1u << expected[i].category) - 1),
                expected[i].stored & ((1u << expected[i].category) - 1));
    }
  }
}

// Checks that the table is a prefix code in canonical order with no symbol on an all-ones code.
void expectValidTable(const HuffmanTable& table) {
  uint32_t counted = 0;
  for (int i = 0; i < 16; ++i) counted += table.bits[i];
  ASSERT_EQ(counted, table.valueCount);
  double kraft = 0;
  for (uint32_t k = 0; k < table.valueCount; ++k) {
    const uint32_t s = table.values[k];
    const uint32_t length = table.lengths[s];
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, 16u);
    kraft += 1.0 / (1u << length);
    EXPECT_NE(table.codes[s], (1u << length) - 1) << "symbol " << s << " has the all-ones code";
    if (k > 0) {
      EXPECT_GE(length, table.lengths[table.values[k - 1]]);
    }
    for (uint32_t j = 0; j < k; ++j) {
      const uint32_t t = table.values[j];
      const uint32_t shorter = table.lengths[t];
      EXPECT_NE(table.codes[s] >> (length - shorter), table.codes[t])
          << "code of " << t << " is a prefix of " << s;
    }
  }
  EXPECT_LT(kraft, 1.0);
}

TEST(LosslessJpegEncoderTest, FibonacciHistogramIsLimitedToSixteenBits) {
  // Category s occurs Fibonacci(s + 2) times: the Huffman tree degenerates into a chain 17
  // deep, which has to be cut down to 16 bits.
  std::vector<uint16_t> plane;
  uint32_t a = 1, b = 2;
  uint16_t value = 32768;
  for (int s = 0; s <= 16; ++s) {
    const uint16_t step = s == 0 ? 0 : static_cast<uint16_t>(1u << (s - 1));
    for (uint32_t n = 0; n < a; ++n) {
      value = static_cast<uint16_t>(value + step);
      plane.push_back(value);
    }
    const uint32_t next = a + b;
    a = b;
    b = next;
  }
  const uint32_t columns = static_cast<uint32_t>(plane.size());
  std::vector<uint16_t> differences(columns);
  std::vector<uint8_t> categories(columns);
  const ComponentAnalysis analysis =
      analyseComponent(plane.data(), columns, 1, 1, 32768, differences.data(), categories.data());
  uint8_t longest = 0;
  for (uint8_t length : analysis.codeLengths) longest = std::max(longest, length);
  ASSERT_EQ(longest, 17) << "the histogram should need the length limiting";

  const HuffmanTable table = buildHuffmanTable(analysis.codeLengths);
  EXPECT_EQ(table.valueCount, 17u);
  expectValidTable(table);
  // The chain had one code at each length 1..16 and two at 17. Figure K.3 moves the two
  // up to 16 and splits the code at 15, leaving four at 16, one of them the reserved one.
  const uint8_t expectedBits[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 3};
  EXPECT_EQ(0, std::memcmp(table.bits, expectedBits, 16));
  for (int s = 0; s <= 16; ++s) {
    EXPECT_EQ(table.values[s], 16 - s);
    EXPECT_EQ(table.lengths[16 - s], s < 14 ? s + 1 : 16) << "symbol " << 16 - s;
  }

  // And the stream decodes: both planes carry the row.
  Tile tile{2 * columns, 1, std::vector<uint16_t>(2 * std::size_t{columns})};
  for (uint32_t i = 0; i < columns; ++i) {
    tile.samples[2 * i] = plane[i];
    tile.samples[2 * i + 1] = plane[columns - 1 - i];
  }
  EncoderRig rig;
  rig.load(tile);
  Tile decoded;
  ASSERT_EQ(decodeTile(rig.encode(16), decoded), DecodeStatus::Ok);
  EXPECT_EQ(decoded.samples, tile.samples);
}

TEST(LosslessJpegEncoderTest, TablesFromManyHistogramsAreValidPrefixCodes) {
  // Random and skewed planes: every table is a prefix code within 16 bits, the reserved
  // symbol's all-ones code is never handed out, and lengths come from the analysis when no
  // limiting was needed.
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    const uint32_t columns = 1 + rng() % 300;
    std::vector<uint16_t> plane(columns);
    const uint32_t spread = 1u << (rng() % 17);
    for (auto& v : plane) v = static_cast<uint16_t>(rng() % spread);
    std::vector<uint16_t> differences(columns);
    std::vector<uint8_t> categories(columns);
    const ComponentAnalysis analysis = analyseComponent(plane.data(), columns, 1, 1, 1u << 15,
                                                        differences.data(), categories.data());
    const HuffmanTable table = buildHuffmanTable(analysis.codeLengths);
    SCOPED_TRACE(round);
    expectValidTable(table);
    for (uint32_t k = 0; k < table.valueCount; ++k) {
      const uint32_t s = table.values[k];
      if (analysis.codeLengths[s] <= 16) {
        EXPECT_EQ(table.lengths[s], analysis.codeLengths[s]);
      }
    }
  }
}

TEST(LosslessJpegEncoderTest, PredictorWithSmallestSummedEstimateIsChosenTiesToLower) {
  // Small planes with few distinct values tie often; the SOS byte must follow the rule
  // computed here from the analyses themselves.
  std::mt19937 rng(11);
  int ties = 0;
  for (int round = 0; round < 300; ++round) {
    const uint32_t width = 2 * (1 + rng() % 6);
    const uint32_t height = 1 + rng() % 6;
    Tile tile = makeTile(width, height, 8, Pattern::Random, static_cast<uint32_t>(rng()));
    const uint32_t range = 1 + rng() % 8;
    for (auto& v : tile.samples) v = static_cast<uint16_t>(100 + v % range);
    if (round % 3 == 0) {  // a ramp per row: predictor 4 sees through it
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
          tile.samples[y * width + x] = static_cast<uint16_t>(x * 9 + y);
    }
    EncoderRig rig;
    rig.load(tile);
    const uint32_t columns = width / 2;
    uint64_t sums[3] = {};
    const int predictors[3] = {1, 4, 5};
    for (int k = 0; k < 3; ++k) {
      for (int p = 0; p < 2; ++p) {
        std::vector<uint16_t> d(columns * height);
        std::vector<uint8_t> c(columns * height);
        sums[k] += analyseComponent(rig.scratch.samples[p], columns, height, predictors[k], 128,
                                    d.data(), c.data())
                       .estimate;
      }
    }
    int expected = 1;
    if (sums[1] < sums[0]) expected = 4;
    if (sums[2] < std::min(sums[0], sums[1])) expected = 5;
    if (sums[0] == sums[1] || sums[1] == sums[2] || sums[0] == sums[2]) ++ties;
    const std::vector<uint8_t> stream = rig.encode(8);
    SCOPED_TRACE(round);
    EXPECT_EQ(stream[parseLayout(stream).sos + 9], expected);
    Tile decoded;
    ASSERT_EQ(decodeTile(stream, decoded), DecodeStatus::Ok);
    EXPECT_EQ(decoded.samples, tile.samples);
  }
  EXPECT_GT(ties, 20);
}

TEST(LosslessJpegEncoderTest, RampChoosesPredictorFour) {
  // Every row the same ramp, so each plane steps by 10 per entry: predictor 4 predicts all
  // but the edges exactly, predictor 1 leaves 10 everywhere and predictor 5 leaves 5.
  Tile tile{32, 8, std::vector<uint16_t>(256)};
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 32; ++x) tile.samples[y * 32 + x] = static_cast<uint16_t>(x * 5 + 40);
  EncoderRig rig;
  rig.load(tile);
  const std::vector<uint8_t> stream = rig.encode(8);
  EXPECT_EQ(stream[parseLayout(stream).sos + 9], 4);
}

// ---------------------------------------------------------------------------------------------
// Bounded writing

TEST(LosslessJpegEncoderTest, NeverWritesPastCapacityAndFailsCleanlyWhenShort) {
  struct Case {
    const char* what;
    uint32_t width, height, bits;
    Pattern pattern;
  };
  const Case cases[] = {
      {"16-bit noise, many stuffed bytes", 24, 6, 16, Pattern::Random},
      {"12-bit smooth", 64, 5, 12, Pattern::SmoothNoise},
      {"8-bit constant", 10, 3, 8, Pattern::Constant},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EncoderRig rig;
    rig.load(makeTile(c.width, c.height, c.bits, c.pattern, 5));
    const std::vector<uint8_t> reference = rig.encode(c.bits);
    ASSERT_FALSE(reference.empty());
    for (std::size_t position : {std::size_t{0}, std::size_t{3}}) {
      const std::size_t needed = position + reference.size();
      for (std::size_t capacity = 0; capacity <= needed; ++capacity) {
        // Exactly `capacity` bytes on the heap, so AddressSanitizer sees any write beyond...
        std::unique_ptr<uint8_t[]> exact(new uint8_t[capacity == 0 ? 1 : capacity]);
        const std::size_t length =
            encodeTile(rig.scratch, c.bits, rig.layout, exact.get(), capacity, position);
        // ...and a larger buffer with a guard pattern for builds without it.
        std::vector<uint8_t> guarded(needed + 64, 0xA5);
        const std::size_t again =
            encodeTile(rig.scratch, c.bits, rig.layout, guarded.data(), capacity, position);
        ASSERT_EQ(length, again);
        for (std::size_t i = capacity; i < guarded.size(); ++i) {
          ASSERT_EQ(guarded[i], 0xA5) << "byte " << i << " written with capacity " << capacity;
        }
        if (capacity < needed) {
          ASSERT_EQ(length, 0u) << "capacity " << capacity;
        } else {
          ASSERT_EQ(length, reference.size());
          EXPECT_EQ(0, std::memcmp(exact.get() + position, reference.data(), length));
        }
      }
    }
  }
}

TEST(LosslessJpegEncoderTest, RejectsTilesItCannotDescribe) {
  EncoderRig rig;
  rig.load(makeTile(4, 2, 8, Pattern::Gradient, 1));
  std::vector<uint8_t> out(4096);
  EXPECT_EQ(encodeTile(rig.scratch, 8, rig.layout, out.data(), out.size(), out.size() + 1), 0u)
      << "position beyond capacity";
  EXPECT_EQ(encodeTile(rig.scratch, 1, rig.layout, out.data(), out.size(), 0), 0u);
  EXPECT_EQ(encodeTile(rig.scratch, 17, rig.layout, out.data(), out.size(), 0), 0u);
  TileLayout larger = rig.layout;
  larger.tileLength = 100;  // more entries than the scratch holds
  EXPECT_EQ(encodeTile(rig.scratch, 8, larger, out.data(), out.size(), 0), 0u);
  TileLayout empty = rig.layout;
  empty.tileWidth = 1;  // no columns per plane
  EXPECT_EQ(encodeTile(rig.scratch, 8, empty, out.data(), out.size(), 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Round trips

// Checks the stream's framing: even length, pad byte only after an odd stream, every 0xFF in
// the scan followed by 0x00.
void expectFraming(const std::vector<uint8_t>& stream) {
  ASSERT_GE(stream.size(), 76u);
  EXPECT_EQ(stream.size() % 2, 0u);
  const std::size_t n = stream.size();
  const bool padded = stream[n - 1] == 0x00 && stream[n - 3] == 0xFF && stream[n - 2] == 0xD9;
  const bool plain = stream[n - 2] == 0xFF && stream[n - 1] == 0xD9;
  ASSERT_TRUE(padded || plain);
  const std::size_t eoi = padded ? n - 3 : n - 2;
  const auto layout = parseLayout(stream);
  for (std::size_t i = layout.scan; i < eoi; ++i) {
    if (stream[i] == 0xFF) {
      ASSERT_LT(i + 1, eoi);
      ASSERT_EQ(stream[i + 1], 0x00) << "unstuffed 0xFF at " << i;
      ++i;
    }
  }
}

struct RoundTripCase {
  uint32_t width;
  uint32_t height;
};

class LosslessJpegRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(LosslessJpegRoundTrip, EveryPatternAndDepthDecodesToTheSameSamples) {
  const RoundTripCase size = GetParam();
  EncoderRig rig;  // one scratch reused across tiles, as a worker does
  for (uint32_t bits : {8u, 12u, 14u, 16u}) {
    for (Pattern pattern : {Pattern::Random, Pattern::Gradient, Pattern::SmoothNoise,
                            Pattern::Constant, Pattern::Extremes}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, pattern " << static_cast<int>(pattern));
      const Tile tile = makeTile(size.width, size.height, bits, pattern, bits * 31 + size.width);
      rig.load(tile);
      const std::vector<uint8_t> stream = rig.encode(bits);
      ASSERT_FALSE(stream.empty());
      expectFraming(stream);
      Tile decoded;
      LosslessImage image;
      ASSERT_EQ(decodeTile(stream, decoded, &image), DecodeStatus::Ok);
      EXPECT_EQ(image.precision, bits);
      EXPECT_EQ(decoded.width, tile.width);
      EXPECT_EQ(decoded.height, tile.height);
      ASSERT_EQ(decoded.samples, tile.samples);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LosslessJpegRoundTrip,
    ::testing::Values(RoundTripCase{2, 1}, RoundTripCase{2, 9}, RoundTripCase{4, 1},
                      RoundTripCase{2, 64}, RoundTripCase{62, 1}, RoundTripCase{6, 7},
                      RoundTripCase{16, 16}, RoundTripCase{240, 17}, RoundTripCase{256, 270}),
    [](const ::testing::TestParamInfo<RoundTripCase>& param) {
      return std::to_string(param.param.width) + "x" + std::to_string(param.param.height);
    });

TEST(LosslessJpegEncoderTest, HalfRangeSwingsUseCategorySixteenThroughout) {
  // 16-bit planes alternating 0 and 32768: every difference is 32768, category 16.
  Tile tile{16, 4, std::vector<uint16_t>(64)};
  for (uint32_t i = 0; i < 64; ++i) tile.samples[i] = (i / 2 + i / 16) % 2 ? 32768 : 0;
  EncoderRig rig;
  rig.load(tile);
  const std::vector<uint8_t> stream = rig.encode(16);
  Tile decoded;
  ASSERT_EQ(decodeTile(stream, decoded), DecodeStatus::Ok);
  EXPECT_EQ(decoded.samples, tile.samples);
}

}  // namespace
}  // namespace tamzel
