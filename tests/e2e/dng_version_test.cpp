// DNG readers decode a lossless JPEG difference of category 16 according to the file's
// DNGVersion: from 1.1 on it is 32768 with no further bits; before 1.1 it is followed by 16
// extra bits. A 16-bit frame that needs such a difference can therefore only be recompressed
// when the file declares 1.1 or later; older files are passed through unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

// Even columns alternate between 0 and 32768 along each row, so every predictor sees a
// difference of exactly 32768 in the even plane; odd columns hold a gentle ramp.
std::vector<uint16_t> jumpingSamples(uint32_t width, uint32_t height) {
  std::vector<uint16_t> s(static_cast<std::size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const bool even = x % 2 == 0;
      s[std::size_t{y} * width + x] =
          even ? static_cast<uint16_t>(((x / 2) % 2) * 32768u) : static_cast<uint16_t>(x * 5 + y);
    }
  }
  return s;
}

struct VersionCase {
  const char* name;
  uint8_t major, minor;
  uint16_t bits;
  bool jumps;
  bool recompressed;
};

class DngVersionCategory16 : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DngVersionCategory16, RecompressedOnlyWhenEveryReaderAgrees) {
  const VersionCase& c = GetParam();
  FixtureOptions options;
  options.width = 64;
  options.height = 32;  // dcraw and LibRaw refuse raw images under 22 rows
  options.bitsPerSample = c.bits;
  ExtraTag version;
  version.tag = 50706;
  version.type = 1;
  version.values = {c.major, c.minor, 0, 0};
  options.rawIfdTags.push_back(version);  // the raw image is IFD0 here
  const std::vector<uint16_t> samples =
      c.jumps ? jumpingSamples(options.width, options.height)
              : makeSamples(options.width, options.height, c.bits, SamplePattern::Realistic, 7);
  const std::vector<uint8_t> input = writeFixtureDng(options, samples);

  Recompressed lib = recompressBytes(input, false);
  TempDir dir;
  const std::string inPath = dir.file("in.dng");
  const std::string outPath = dir.file("out.dng");
  writeFile(inPath, input);
  ProcessResult cli = runCli({"recompress", inPath, outPath});
  ASSERT_EQ(cli.exitStatus, 0) << cli.out << cli.err;

  if (!c.recompressed) {
    EXPECT_EQ(lib.result.verdict, DngVerdict::LegacyDifference16);
    EXPECT_NE(cli.out.find("passed through unchanged"), std::string::npos) << cli.out;
    EXPECT_EQ(readFile(outPath), input);
    return;
  }
  ASSERT_EQ(lib.result.verdict, DngVerdict::Recompressible)
      << describeVerdict(lib.result.verdict, lib.result.info);
  EXPECT_EQ(readFile(outPath), lib.bytes);
  // dcraw and LibRaw apply the version rule themselves, so they are the judges here.
  expectSameRawSamples(inPath, outPath, samples, options.width, options.height);
}

INSTANTIATE_TEST_SUITE_P(Versions, DngVersionCategory16,
                         ::testing::Values(VersionCase{"V10Jumps16", 1, 0, 16, true, false},
                                           VersionCase{"V11Jumps16", 1, 1, 16, true, true},
                                           VersionCase{"V14Jumps16", 1, 4, 16, true, true},
                                           VersionCase{"V10Smooth16", 1, 0, 16, false, true},
                                           VersionCase{"V10Smooth12", 1, 0, 12, false, true}),
                         [](const ::testing::TestParamInfo<VersionCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace tamzel::testing
