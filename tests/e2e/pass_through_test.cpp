// Files that must come out byte for byte as they went in: DNGs from other writers that are
// not recompressible, fixtures the reader rejects, files recompressed before, and data whose
// recompressed form would not fit the room the engine gives the output.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

// Runs `tamzel-cli recompress` and checks that it copied the file unchanged and said why.
void expectCliPassesThrough(const std::string& inPath, const std::vector<uint8_t>& input,
                            const std::string& reason) {
  TempDir dir;
  const std::string outPath = dir.file("out.dng");
  ProcessResult cli = runCli({"recompress", inPath, outPath});
  ASSERT_EQ(cli.exitStatus, 0) << cli.out << cli.err;
  EXPECT_EQ(cli.out, inPath + ": passed through unchanged: " + reason + "\n");
  EXPECT_EQ(readFile(outPath), input) << "the copy differs from the input";
}

// --- DNG files from other writers ------------------------------------------------------------

class SharedSamples : public ::testing::TestWithParam<const char*> {};

TEST_P(SharedSamples, PassedThroughByteForByteAndInspectable) {
  const std::string path = std::string(TAMZEL_SHARED_SAMPLES_DIR) + "/" + GetParam();
  const std::vector<uint8_t> input = readFile(path);
  ASSERT_FALSE(input.empty()) << path;

  Recompressed lib = recompressBytes(input, false);
  EXPECT_NE(lib.result.verdict, DngVerdict::Recompressible);
  Recompressed premiere = recompressBytes(input, true);
  EXPECT_NE(premiere.result.verdict, DngVerdict::Recompressible);

  expectCliPassesThrough(path, input, describeVerdict(lib.result.verdict, lib.result.info));

  ProcessResult inspect = runCli({"inspect", path});
  EXPECT_EQ(inspect.exitStatus, 0) << inspect.err;
  EXPECT_NE(inspect.out.find("Verdict: not recompressible: " +
                             describeVerdict(lib.result.verdict, lib.result.info)),
            std::string::npos)
      << inspect.out;
}

INSTANTIATE_TEST_SUITE_P(OtherWriters, SharedSamples,
                         ::testing::Values("adobe-converter-canon350d-truncated.dng",
                                           "linear-raw-tiled-jpeg.dng",
                                           "malformed-overflow-poc.dng"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           std::string name;
                           for (const char* c = p.param; *c && *c != '.'; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

// --- Fixtures the reader rejects -------------------------------------------------------------

struct RejectedCase {
  const char* name;
  FixtureOptions options;
};

std::vector<RejectedCase> rejectedCases() {
  std::vector<RejectedCase> cases;
  FixtureOptions tenBit;
  tenBit.width = 64;
  tenBit.height = 32;
  tenBit.bitsPerSample = 10;
  cases.push_back({"TenBit", tenBit});
  FixtureOptions gap;
  gap.width = 64;
  gap.height = 32;
  gap.rowsPerStrip = 8;
  gap.stripGap = 1;
  cases.push_back({"GapBetweenStrips", gap});
  FixtureOptions mask;
  mask.rawInSubIfd = true;
  ExtraTag maskType;
  maskType.tag = 254;
  maskType.type = 4;
  maskType.values = {4};  // a transparency mask in IFD0
  mask.ifd0Tags.push_back(maskType);
  cases.push_back({"TransparencyMask", mask});
  return cases;
}

TEST(RejectedFixtures, CopiedUnchangedWithTheReason) {
  for (const RejectedCase& c : rejectedCases()) {
    SCOPED_TRACE(c.name);
    const auto samples = makeSamples(c.options.width, c.options.height, c.options.bitsPerSample,
                                     SamplePattern::Gradient);
    const auto input = writeFixtureDng(c.options, samples);
    Recompressed lib = recompressBytes(input, false);
    EXPECT_NE(lib.result.verdict, DngVerdict::Recompressible);
    TempDir dir;
    writeFile(dir.file("in.dng"), input);
    expectCliPassesThrough(dir.file("in.dng"), input,
                           describeVerdict(lib.result.verdict, lib.result.info));
  }
}

// --- A file recompressed before ---------------------------------------------------------------

TEST(RecompressedBefore, SecondRunPassesTheFileThrough) {
  FixtureOptions options;
  options.width = 640;
  options.height = 96;
  options.bitsPerSample = 14;
  const auto samples = makeSamples(options.width, options.height, 14, SamplePattern::Realistic, 4);
  TempDir dir;
  writeFile(dir.file("first.dng"), writeFixtureDng(options, samples));
  ProcessResult first = runCli({"recompress", dir.file("first.dng"), dir.file("second.dng")});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  ASSERT_NE(first.out.find(": recompressed "), std::string::npos) << first.out;
  const std::vector<uint8_t> once = readFile(dir.file("second.dng"));
  Recompressed again = recompressBytes(once, false);
  EXPECT_EQ(again.result.verdict, DngVerdict::AlreadyTiled);
  expectCliPassesThrough(dir.file("second.dng"), once,
                         describeVerdict(again.result.verdict, again.result.info));
}

// --- Output that does not fit the room ---------------------------------------------------------

// Noise-like 16-bit data built against the encoder: each row of a component is a random walk
// whose steps are +16383 or -16384 (chosen at random per column), and each row takes the
// opposite step of the row above. Every predictor then sees differences of 13 to 15 bits whose
// additional bits are nearly all ones, so about every second byte of the entropy-coded data is
// 0xFF and needs a stuffed 0x00: the tiles come out about half as large again as the raw data.
std::vector<uint16_t> coderHostileSamples(uint32_t width, uint32_t height) {
  std::mt19937 rng(7);
  std::vector<uint16_t> s(std::size_t{width} * height);
  std::vector<int> steps(width / 2);
  for (int& step : steps) step = (rng() & 1) ? -16384 : 16383;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t c = 0; c < 2; ++c) {
      uint16_t v = static_cast<uint16_t>(rng());
      for (uint32_t i = 0; i < width / 2; ++i) {
        if (i > 0) v = static_cast<uint16_t>(v + steps[i]);
        s[std::size_t{y} * width + 2 * i + c] = v;
      }
    }
    for (int& step : steps) step = step == 16383 ? -16384 : 16383;
  }
  return s;
}

TEST(OutputTooLarge, FallsBackToPassingTheFileThrough) {
  FixtureOptions options;
  options.width = 1024;
  options.height = 1536;  // 3 MiB of samples: the tiles would need about 1.5 MiB more than that
  options.bitsPerSample = 16;
  const auto input = writeFixtureDng(options, coderHostileSamples(options.width, options.height));

  Recompressed lib = recompressBytes(input, false);
  ASSERT_EQ(lib.result.verdict, DngVerdict::OutputTooLarge);
  Recompressed premiere = recompressBytes(input, true);
  EXPECT_EQ(premiere.result.verdict, DngVerdict::OutputTooLarge);

  TempDir dir;
  writeFile(dir.file("hostile.dng"), input);
  expectCliPassesThrough(dir.file("hostile.dng"), input,
                         describeVerdict(DngVerdict::OutputTooLarge, lib.result.info));
}

TEST(OutputTooLarge, UniformNoiseStillFitsAndStaysLossless) {
  // Uniform 16-bit noise codes to barely more than its raw size (about 16 bits per sample
  // plus the stuffed bytes), well inside the room: it is recompressed, not passed through.
  FixtureOptions options;
  options.width = 720;
  options.height = 240;
  options.bitsPerSample = 16;
  options.bigEndian = true;
  const auto samples = makeSamples(options.width, options.height, 16, SamplePattern::Noise, 3);
  TempDir dir;
  writeFile(dir.file("noise.dng"), writeFixtureDng(options, samples));
  ProcessResult cli = runCli({"recompress", dir.file("noise.dng"), dir.file("out.dng")});
  ASSERT_EQ(cli.exitStatus, 0) << cli.err;
  ASSERT_NE(cli.out.find(": recompressed "), std::string::npos) << cli.out;
  expectSameRawSamples(dir.file("noise.dng"), dir.file("out.dng"), samples, options.width,
                       options.height);
}

}  // namespace
}  // namespace tamzel::testing
