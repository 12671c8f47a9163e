// The tile grid, the checks that a grid can carry an image, and the unpacking of packed raw
// samples into the even/odd column planes.
#include <gtest/gtest.h>

#include "dng/dng.h"
#include "support/dng_writer.h"

namespace tamzel {
namespace {

using testing::FixtureOptions;
using testing::SamplePattern;

struct Grid {
  uint32_t width, height;
  uint32_t across, down, tileWidth, tileLength;
  uint32_t premiereDown, premiereTileLength;
};

TEST(TileLayout, WorkedLayouts) {
  const Grid grids[] = {
      {1920, 1080, 8, 4, 240, 270, 1, 1080},   {2048, 1152, 8, 4, 256, 288, 1, 1152},
      {1280, 720, 5, 3, 256, 240, 1, 720},     {3840, 2160, 16, 8, 240, 270, 1, 2160},
      {4096, 2160, 16, 8, 256, 270, 1, 2160},  {5120, 2700, 16, 8, 320, 338, 1, 2700},
      {6144, 3160, 16, 12, 384, 264, 1, 3160}, {640, 360, 2, 1, 320, 360, 1, 360},
      {2018, 1000, 1, 4, 2018, 250, 1, 1000},
  };
  for (const Grid& g : grids) {
    SCOPED_TRACE(::testing::Message() << g.width << " x " << g.height);
    TileLayout l = computeTileLayout(g.width, g.height, false);
    EXPECT_EQ(l.tilesAcross, g.across);
    EXPECT_EQ(l.tilesDown, g.down);
    EXPECT_EQ(l.tileWidth, g.tileWidth);
    EXPECT_EQ(l.tileLength, g.tileLength);
    EXPECT_EQ(l.tileCount, g.across * g.down);
    TileLayout p = computeTileLayout(g.width, g.height, true);
    EXPECT_EQ(p.tilesAcross, g.across);
    EXPECT_EQ(p.tilesDown, g.premiereDown);
    EXPECT_EQ(p.tileWidth, g.tileWidth);
    EXPECT_EQ(p.tileLength, g.premiereTileLength);
    EXPECT_EQ(p.tileCount, g.across);
  }
}

TEST(TileLayout, ColumnsFollowTheWidth) {
  struct Case {
    uint32_t width, across, tileWidth;
  };
  const Case cases[] = {
      {1920, 8, 240},   // 1920 / 240
      {4096, 16, 256},  // 17 does not divide 4096
      {5000, 20, 250},  // target 240 up to 5000
      {5001, 1, 5001},  // target 300, no divisor with an even quotient
      {2018, 1, 2018},  // 2 x 1009
      {5002, 1, 5002},  // 2 x 41 x 61: only 2 divides among 16..2, and 2501 is odd
  };
  for (const Case& c : cases) {
    TileLayout l = computeTileLayout(c.width, 1080, false);
    EXPECT_EQ(l.tilesAcross, c.across) << c.width;
    EXPECT_EQ(l.tileWidth, c.tileWidth) << c.width;
    EXPECT_EQ(l.tileWidth * l.tilesAcross, c.width);
  }
}

TEST(TileLayout, RowsFollowTheHeight) {
  struct Case {
    uint32_t width, height, down;
  };
  const Case cases[] = {
      {1920, 479, 1}, {1920, 480, 2},   {1920, 3839, 12}, {1920, 3840, 16}, {2018, 479, 2},
      {2018, 480, 2}, {2018, 3839, 12}, {2018, 3840, 16}, {2018, 4, 2},     {1920, 719, 2},
      {1920, 720, 3}, {1920, 1536, 6},  {1920, 1920, 8},  {1920, 2880, 12}, {640, 100000, 16},
  };
  for (const Case& c : cases) {
    TileLayout l = computeTileLayout(c.width, c.height, false);
    EXPECT_EQ(l.tilesDown, c.down) << c.width << " x " << c.height;
    EXPECT_GE(uint64_t{l.tileLength} * l.tilesDown, c.height);
    EXPECT_LT(uint64_t{l.tileLength} * (l.tilesDown - 1), c.height);
    TileLayout p = computeTileLayout(c.width, c.height, true);
    EXPECT_EQ(p.tilesDown, 1u);
    EXPECT_EQ(p.tileLength, c.height);
  }
  // A one-column image under the Premiere switch is a single tile.
  TileLayout single = computeTileLayout(2018, 1000, true);
  EXPECT_EQ(single.tileCount, 1u);
}

TEST(TileLayout, CheckRefusesGridsThatCannotCarryTheImage) {
  struct Case {
    const char* name;
    uint32_t width, height;
    uint16_t bits;
    DngVerdict verdict;
  };
  const Case cases[] = {
      {"odd width, 16 bits", 1921, 1080, 16, DngVerdict::WidthNotSplittable},
      {"odd width, 8 bits", 63, 32, 8, DngVerdict::WidthNotSplittable},
      {"14-bit width not a multiple of 4", 1924 + 2, 1080, 14, DngVerdict::WidthNotSplittable},
      {"14-bit tile width not a multiple of 4", 1000, 1080, 14, DngVerdict::WidthNotSplittable},
      {"12-bit, same width", 1000, 1080, 12, DngVerdict::Recompressible},
      {"16-bit, width 4n+2", 1926, 1080, 16, DngVerdict::Recompressible},
      {"14-bit 4096", 4096, 2160, 14, DngVerdict::Recompressible},
      {"tile length beyond a JPEG frame", 640, 70000, 16, DngVerdict::Recompressible},
      {"tile width beyond a JPEG frame", 131074, 8, 16, DngVerdict::TooLarge},
  };
  for (const Case& c : cases) {
    RawImageInfo info;
    info.width = c.width;
    info.height = c.height;
    info.bitsPerSample = c.bits;
    EXPECT_EQ(checkTileLayout(info, computeTileLayout(c.width, c.height, false)), c.verdict)
        << c.name;
  }
  // Under the Premiere switch the whole height is one tile: beyond 65535 rows it cannot be.
  RawImageInfo tall;
  tall.width = 640;
  tall.height = 70000;
  tall.bitsPerSample = 16;
  EXPECT_EQ(checkTileLayout(tall, computeTileLayout(640, 70000, true)), DngVerdict::TooLarge);
  tall.height = 65535;
  EXPECT_EQ(checkTileLayout(tall, computeTileLayout(640, 65535, true)), DngVerdict::Recompressible);

  // The widest tile a JPEG frame can describe: 65535 samples per component line.
  RawImageInfo wide;
  wide.width = 131070;
  wide.height = 8;
  wide.bitsPerSample = 16;
  EXPECT_EQ(checkTileLayout(wide, TileLayout{1, 2, 131070, 4, 2}), DngVerdict::Recompressible);

  // Grids made by hand that do not fit the image.
  RawImageInfo info;
  info.width = 480;
  info.height = 100;
  info.bitsPerSample = 12;
  TileLayout l = computeTileLayout(480, 100, false);
  ASSERT_EQ(checkTileLayout(info, l), DngVerdict::Recompressible);
  TileLayout narrow = l;
  narrow.tileWidth -= 2;
  EXPECT_EQ(checkTileLayout(info, narrow), DngVerdict::WidthNotSplittable);
  TileLayout shortGrid = l;
  shortGrid.tileLength = 100 / shortGrid.tilesDown - 1;
  EXPECT_EQ(checkTileLayout(info, shortGrid), DngVerdict::WidthNotSplittable);
  TileLayout oddTiles{2, 1, 240, 100, 2};
  info.width = 480;
  oddTiles.tilesAcross = 4;
  oddTiles.tileWidth = 120;
  oddTiles.tileCount = 4;
  EXPECT_EQ(checkTileLayout(info, oddTiles), DngVerdict::Recompressible);
  oddTiles.tilesAcross = 3;
  oddTiles.tileWidth = 160;
  oddTiles.tileCount = 3;
  EXPECT_EQ(checkTileLayout(info, oddTiles), DngVerdict::Recompressible);
  info.width = 486;
  oddTiles.tileWidth = 162;
  EXPECT_EQ(checkTileLayout(info, oddTiles), DngVerdict::Recompressible);
  oddTiles.tilesAcross = 6;
  oddTiles.tileWidth = 81;  // odd tile width: the planes would differ
  oddTiles.tileCount = 6;
  EXPECT_EQ(checkTileLayout(info, oddTiles), DngVerdict::WidthNotSplittable);
}

// An accepted fixture kept alive with its structure.
struct Parsed {
  std::vector<uint8_t> bytes;
  DngStructure structure;
  RawImageInfo info;
};

void parse(Parsed& p, const FixtureOptions& options, const std::vector<uint16_t>& samples) {
  p.bytes = testing::writeFixtureDng(options, samples);
  ASSERT_EQ(readDngStructure(p.bytes.data(), p.bytes.size(), p.structure, p.info),
            DngVerdict::Recompressible);
}

// Unpacks every tile and compares it with the samples, including the zero rows below the image.
void expectTilesMatch(const Parsed& p, const TileLayout& l, const std::vector<uint16_t>& samples) {
  EncoderScratch scratch;
  ASSERT_TRUE(scratch.reserve(l));
  const uint32_t half = l.tileWidth / 2;
  for (uint32_t r = 0; r < l.tilesDown; ++r) {
    for (uint32_t c = 0; c < l.tilesAcross; ++c) {
      // Stale values must not survive into the zero rows.
      std::fill(scratch.samples[0], scratch.samples[0] + scratch.capacity, 0xABCD);
      std::fill(scratch.samples[1], scratch.samples[1] + scratch.capacity, 0xABCD);
      unpackTile(p.structure, p.info, l, r, c, scratch);
      for (uint32_t y = 0; y < l.tileLength; ++y) {
        const uint32_t row = r * l.tileLength + y;
        for (uint32_t x = 0; x < l.tileWidth; ++x) {
          const uint16_t got = scratch.samples[x & 1][y * half + x / 2];
          const uint16_t want = row < p.info.height
                                    ? samples[std::size_t{row} * p.info.width + c * l.tileWidth + x]
                                    : 0;
          if (got != want) {
            FAIL() << "tile " << r << "," << c << " row " << y << " column " << x << ": " << got
                   << " instead of " << want;
          }
        }
      }
    }
  }
}

TEST(UnpackTile, EveryDepthAndOrderGivesTheSamplesBack) {
  for (uint16_t bits : {8, 12, 14, 16}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, big-endian " << big);
      FixtureOptions options;
      options.width = 488;  // 2 columns of 244 (a multiple of 4)
      options.height = 37;  // 2 rows of 19: the last tile row has one zero row
      options.bitsPerSample = bits;
      options.bigEndian = big;
      options.rowsPerStrip = 5;
      auto samples =
          testing::makeSamples(options.width, options.height, bits, SamplePattern::Noise, 7);
      Parsed p;
      parse(p, options, samples);
      TileLayout l = computeTileLayout(options.width, options.height, false);
      ASSERT_EQ(l.tilesAcross, 2u);
      ASSERT_EQ(l.tilesDown, 1u);
      ASSERT_EQ(checkTileLayout(p.info, l), DngVerdict::Recompressible);
      expectTilesMatch(p, l, samples);
      // The same image cut into more tile rows than the height divides into.
      TileLayout rows = l;
      rows.tilesDown = 3;
      rows.tileLength = 13;  // 3 x 13 = 39: two zero rows
      rows.tileCount = 6;
      ASSERT_EQ(checkTileLayout(p.info, rows), DngVerdict::Recompressible);
      expectTilesMatch(p, rows, samples);
    }
  }
}

TEST(UnpackTile, PackedBytesReadTheSameInEitherByteOrder) {
  // 12 and 14 bits are packed most significant bit first whatever the byte order; patch the
  // same hand-made bytes into a little- and a big-endian file.
  struct Case {
    uint16_t bits;
    std::vector<uint8_t> group;
    std::vector<uint16_t> samples;
  };
  const Case cases[] = {
      {12, {0xAB, 0xCD, 0xEF}, {0xABC, 0xDEF}},
      {14, {0xFF, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A}, {0x3FC0, 0x0123, 0x1159, 0x389A}},
  };
  for (const Case& c : cases) {
    uint16_t firstRow[2][8];
    for (bool big : {false, true}) {
      FixtureOptions options;
      options.width = 8;
      options.height = 4;
      options.bitsPerSample = c.bits;
      options.bigEndian = big;
      options.withExif = false;
      testing::FixtureLayout layout;
      std::vector<uint8_t> bytes =
          testing::writeFixtureDng(options, std::vector<uint16_t>(32, 0), layout);
      for (uint32_t g = 0; g * c.group.size() < 8u * c.bits / 8; ++g) {
        std::copy(c.group.begin(), c.group.end(),
                  bytes.begin() + layout.firstStripOffset + g * c.group.size());
      }
      DngStructure s;
      RawImageInfo info;
      ASSERT_EQ(readDngStructure(bytes.data(), bytes.size(), s, info), DngVerdict::Recompressible);
      TileLayout l = computeTileLayout(8, 4, false);
      ASSERT_EQ(checkTileLayout(info, l), DngVerdict::Recompressible);
      EncoderScratch scratch;
      ASSERT_TRUE(scratch.reserve(l));
      unpackTile(s, info, l, 0, 0, scratch);
      for (uint32_t x = 0; x < 8; ++x) firstRow[big][x] = scratch.samples[x & 1][x / 2];
      for (uint32_t x = 0; x < 8; ++x) {
        EXPECT_EQ(firstRow[big][x], c.samples[x % c.samples.size()])
            << c.bits << " bits, big " << big << ", sample " << x;
      }
    }
  }
}

TEST(UnpackTile, SixteenBitBigEndianEqualsLittleEndian) {
  auto samples = testing::makeSamples(64, 24, 16, SamplePattern::Noise, 3);
  FixtureOptions options;
  options.width = 64;
  options.height = 24;
  Parsed le, be;
  parse(le, options, samples);
  options.bigEndian = true;
  parse(be, options, samples);
  TileLayout l = computeTileLayout(64, 24, false);
  EncoderScratch a, b;
  ASSERT_TRUE(a.reserve(l));
  ASSERT_TRUE(b.reserve(l));
  for (uint32_t r = 0; r < l.tilesDown; ++r) {
    unpackTile(le.structure, le.info, l, r, 0, a);
    unpackTile(be.structure, be.info, l, r, 0, b);
    const std::size_t n = std::size_t{l.tileWidth / 2} * l.tileLength;
    for (int plane = 0; plane < 2; ++plane) {
      EXPECT_TRUE(std::equal(a.samples[plane], a.samples[plane] + n, b.samples[plane]));
    }
  }
  expectTilesMatch(be, l, samples);
}

}  // namespace
}  // namespace tamzel
