// The backbone of the suite: every bit depth, both byte orders, both places of the raw image
// and three strip arrangements are recompressed through the library and through tamzel-cli,
// and the output is read back by decoders nobody on this project wrote: dcraw, LibRaw and
// exiftool must see the same raw samples and the same metadata as in the input, and tiffdump
// must see a single tiled IFD.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

enum class Strips { One, Many, ManyShortCounts };

struct MatrixCase {
  uint16_t bits;
  bool bigEndian;
  bool rawInSubIfd;
  Strips strips;
};

std::string caseName(const ::testing::TestParamInfo<MatrixCase>& info) {
  const MatrixCase& c = info.param;
  std::string name = std::to_string(c.bits) + "bit_" + (c.bigEndian ? "MM" : "II") + "_" +
                     (c.rawInSubIfd ? "SubIfd" : "Ifd0") + "_";
  switch (c.strips) {
    case Strips::One:
      return name + "OneStrip";
    case Strips::Many:
      return name + "ManyStrips";
    case Strips::ManyShortCounts:
      return name + "ManyStripsShortCounts";
  }
  return name;
}

// Keeps gtest (and ctest's test names) from printing the case as raw bytes.
void PrintTo(const MatrixCase& c, std::ostream* os) {
  *os << caseName({c, 0});
}

std::vector<MatrixCase> allCases() {
  std::vector<MatrixCase> cases;
  for (uint16_t bits : {8, 12, 14, 16}) {
    for (bool bigEndian : {false, true}) {
      for (bool sub : {false, true}) {
        for (Strips s : {Strips::One, Strips::Many, Strips::ManyShortCounts}) {
          cases.push_back({bits, bigEndian, sub, s});
        }
      }
    }
  }
  return cases;
}

class DecoderMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(DecoderMatrix, RawSamplesAndMetadataSurviveForIndependentDecoders) {
  const MatrixCase& c = GetParam();
  FixtureOptions options;
  options.bitsPerSample = c.bits;
  options.bigEndian = c.bigEndian;
  options.rawInSubIfd = c.rawInSubIfd;
  // Two grids: 256 x 65 is one tile column of two rows whose last row is one row short;
  // 720 x 96 is three tile columns of 240 in one row. Both are above the 22 rows dcraw and
  // LibRaw need and avoid the two-column grid LibRaw misreads.
  options.width = c.rawInSubIfd ? 720 : 256;
  options.height = c.rawInSubIfd ? 96 : 65;
  SamplePattern pattern = SamplePattern::Realistic;
  if (c.strips == Strips::Many) {
    options.rowsPerStrip = 7;  // the last strip is shorter than the others
    pattern = SamplePattern::Noise;
  } else if (c.strips == Strips::ManyShortCounts) {
    options.rowsPerStrip = 16;
    options.stripByteCountsShort = true;
    pattern = SamplePattern::Gradient;
  }
  const std::vector<uint16_t> samples =
      makeSamples(options.width, options.height, options.bitsPerSample, pattern, 11 + c.bits);
  const std::vector<uint8_t> input = writeFixtureDng(options, samples);

  TempDir dir;
  const std::string inPath = dir.file("in.dng");
  const std::string outPath = dir.file("out.dng");
  writeFile(inPath, input);

  // The library and the command line give the same bytes.
  Recompressed lib = recompressBytes(input, false);
  ASSERT_EQ(lib.result.verdict, DngVerdict::Recompressible)
      << describeVerdict(lib.result.verdict, lib.result.info);
  ProcessResult cli = runCli({"recompress", inPath, outPath});
  ASSERT_EQ(cli.exitStatus, 0) << cli.out << cli.err;
  const TileLayout& l = lib.result.layout;
  const std::string expectedLine = inPath + ": recompressed " + std::to_string(input.size()) +
                                   " -> " + std::to_string(lib.bytes.size()) + " bytes (";
  EXPECT_EQ(cli.out.rfind(expectedLine, 0), 0u) << cli.out;
  EXPECT_NE(cli.out.find("), " + std::to_string(l.tilesAcross) + " x " +
                         std::to_string(l.tilesDown) + " tiles of " + std::to_string(l.tileWidth) +
                         " x " + std::to_string(l.tileLength) + "\n"),
            std::string::npos)
      << cli.out;
  ASSERT_EQ(readFile(outPath), lib.bytes) << "tamzel-cli and recompressDng disagree";

  expectSameRawSamples(inPath, outPath, samples, options.width, options.height);
  expectSameMetadata(inPath, outPath, c.rawInSubIfd ? "SubIFD" : "IFD0");
  expectSingleTiledIfd(outPath, c.bigEndian);

  // A recompressed file is not recompressed again.
  DngStructure structure;
  RawImageInfo info;
  EXPECT_NE(readDngStructure(lib.bytes.data(), lib.bytes.size(), structure, info),
            DngVerdict::Recompressible);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, DecoderMatrix, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace tamzel::testing
