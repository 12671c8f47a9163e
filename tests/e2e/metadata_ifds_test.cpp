// DNGs carrying GPS and interoperability IFDs, with the pointers in IFD0 or in the raw IFD:
// the recompressed file must still be readable by dcraw without complaint (a GPS pointer left
// pointing into the input's layout makes dcraw read past the end of the file) and exiftool must
// read the same GPS, interoperability and Exif values from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

struct IfdCase {
  const char* name;
  bool bigEndian;
  bool rawInSubIfd;
  bool gpsInRawIfd;
  bool exifInRawIfd;
};

void PrintTo(const IfdCase& c, std::ostream* os) {
  *os << c.name;
}

const IfdCase kCases[] = {
    {"CinemaDngLittleEndian", false, false, false, false},
    {"CinemaDngBigEndian", true, false, false, false},
    {"SubIfdPointersInIfd0", false, true, false, false},
    {"SubIfdPointersInRawIfdBigEndian", true, true, true, true},
};

class GpsAndInterop : public ::testing::TestWithParam<IfdCase> {};

TEST_P(GpsAndInterop, ValuesSurviveAndDcrawReadsTheFileCleanly) {
  const IfdCase& c = GetParam();
  FixtureOptions options;
  options.width = 256;
  options.height = 64;
  options.bitsPerSample = 12;
  options.bigEndian = c.bigEndian;
  options.rawInSubIfd = c.rawInSubIfd;
  options.withGps = true;
  options.withInterop = true;
  options.gpsInRawIfd = c.gpsInRawIfd;
  options.exifInRawIfd = c.exifInRawIfd;
  const auto samples = makeSamples(options.width, options.height, 12, SamplePattern::Realistic, 9);
  TempDir dir;
  const std::string inPath = dir.file("gps.dng");
  const std::string outPath = dir.file("gps-out.dng");
  writeFile(inPath, writeFixtureDng(options, samples));

  ProcessResult cli = runCli({"recompress", inPath, outPath});
  ASSERT_EQ(cli.exitStatus, 0) << cli.out << cli.err;
  ASSERT_NE(cli.out.find(": recompressed "), std::string::npos) << cli.out;

  // decodeWithDcraw fails on anything dcraw writes to stderr ("Unexpected end of file").
  expectSameRawSamples(inPath, outPath, samples, options.width, options.height);
  expectSameMetadata(inPath, outPath, c.rawInSubIfd ? "SubIFD" : "IFD0");

  auto tags = readExifTags({inPath, outPath});
  ASSERT_EQ(tags.size(), 2u);
  const auto gps = tagsWithPrefix(tags[1], "GPS:");
  EXPECT_EQ(gps.size(), 7u);  // all seven GPS values of the fixture
  EXPECT_EQ(gps.count("GPS:GPSLatitude"), 1u);
  EXPECT_EQ(tagsWithPrefix(tags[1], "InteropIFD:").size(), 2u);
  EXPECT_EQ(tags[1].count("ExifIFD:LensModel"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Pointers, GpsAndInterop, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<IfdCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace tamzel::testing
