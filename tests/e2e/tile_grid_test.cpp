// Frame sizes that give different tile grids, with and without the Premiere CC layout: many
// columns and rows, a last tile row with fewer valid rows, one column with two rows, a single
// tile, and the smallest height the independent decoders read. The raw samples must come back
// bit for bit through dcraw, LibRaw and the project's own decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

struct GridCase {
  const char* name;
  uint32_t width;
  uint32_t height;
  uint16_t bits;
  bool bigEndian;
  bool rawInSubIfd;
  bool premiere;
  TileLayout expected;  // across, down, tile width, tile length, count
  bool libRawReads;
};

void PrintTo(const GridCase& c, std::ostream* os) {
  *os << c.name;
}

const GridCase kCases[] = {
    // LibRaw 0.20.2 misreads tiled lossless-JPEG DNGs with exactly two tile columns (dcraw
    // reads them), so this case relies on dcraw and the own decoder.
    {"TwoColumns640x360", 640, 360, 16, false, false, false, {2, 1, 320, 360, 2}, false},
    {"Hd720p12Bit", 1280, 720, 12, false, false, false, {5, 3, 256, 240, 15}, true},
    {"Hd720p12BitPremiere", 1280, 720, 12, false, false, true, {5, 1, 256, 720, 5}, true},
    {"Hd1080p16BitBigEndianSubIfd", 1920, 1080, 16, true, true, false, {8, 4, 240, 270, 32}, true},
    {"PartialLastTileRow14Bit", 1200, 487, 14, true, false, false, {5, 2, 240, 244, 10}, true},
    {"PartialLastTileRow14BitPremiere",
     1200,
     487,
     14,
     true,
     false,
     true,
     {5, 1, 240, 487, 5},
     true},
    {"OneColumnTwoRows8Bit", 2018, 100, 8, false, true, false, {1, 2, 2018, 50, 2}, true},
    {"SingleTile8BitPremiere", 2018, 100, 8, false, true, true, {1, 1, 2018, 100, 1}, true},
    {"SmallestHeightForDecoders", 256, 22, 16, true, false, false, {1, 2, 256, 11, 2}, true},
};

class TileGrids : public ::testing::TestWithParam<GridCase> {};

TEST_P(TileGrids, SamplesSurviveEveryGrid) {
  const GridCase& c = GetParam();
  FixtureOptions options;
  options.width = c.width;
  options.height = c.height;
  options.bitsPerSample = c.bits;
  options.bigEndian = c.bigEndian;
  options.rawInSubIfd = c.rawInSubIfd;
  const auto samples = makeSamples(c.width, c.height, c.bits, SamplePattern::Realistic, 5);
  const auto input = writeFixtureDng(options, samples);
  TempDir dir;
  const std::string inPath = dir.file("in.dng");
  const std::string outPath = dir.file("out.dng");
  writeFile(inPath, input);

  std::vector<std::string> args = {"recompress", inPath, outPath};
  if (c.premiere) args.push_back("--premiere");
  ProcessResult cli = runCli(args);
  ASSERT_EQ(cli.exitStatus, 0) << cli.out << cli.err;
  const TileLayout& e = c.expected;
  EXPECT_NE(cli.out.find(std::to_string(e.tilesAcross) + " x " + std::to_string(e.tilesDown) +
                         " tiles of " + std::to_string(e.tileWidth) + " x " +
                         std::to_string(e.tileLength)),
            std::string::npos)
      << cli.out;

  Recompressed lib = recompressBytes(input, c.premiere);
  ASSERT_EQ(lib.result.verdict, DngVerdict::Recompressible);
  EXPECT_EQ(lib.result.layout.tilesAcross, e.tilesAcross);
  EXPECT_EQ(lib.result.layout.tilesDown, e.tilesDown);
  EXPECT_EQ(lib.result.layout.tileWidth, e.tileWidth);
  EXPECT_EQ(lib.result.layout.tileLength, e.tileLength);
  EXPECT_EQ(lib.result.layout.tileCount, e.tileCount);
  ASSERT_EQ(readFile(outPath), lib.bytes);

  DecoderSet decoders;
  decoders.libRaw = c.libRawReads;
  expectSameRawSamples(inPath, outPath, samples, c.width, c.height, decoders);
  expectSingleTiledIfd(outPath, c.bigEndian);
  // The output is smaller than the input for a realistic frame.
  EXPECT_LT(lib.bytes.size(), input.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TileGrids, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<GridCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace tamzel::testing
