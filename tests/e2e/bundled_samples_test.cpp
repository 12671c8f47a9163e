// The demo frames shipped in samples/ (made by tamzel_make_samples) are recompressed by
// tamzel-cli, and dcraw, LibRaw and exiftool read the same raw samples and metadata from the
// results as from the originals.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

std::vector<std::string> bundledFrames() {
  std::vector<std::string> frames;
  const std::string root = std::string(TAMZEL_SOURCE_DIR) + "/samples";
  for (const char* clip : {"A001_C001", "B002_C003"}) {
    const std::string folder = root + "/" + clip;
    if (DIR* d = opendir(folder.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".dng") {
          frames.push_back(folder + "/" + name);
        }
      }
      closedir(d);
    }
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

TEST(BundledSamples, AreTheFourFrameClipAndTheStill) {
  EXPECT_EQ(bundledFrames().size(), 5u)
      << "samples/ should hold four A001_C001 frames and one B002_C003 frame";
}

class BundledFrame : public ::testing::TestWithParam<std::string> {};

TEST_P(BundledFrame, RecompressesLosslessly) {
  const std::string& frame = GetParam();
  TempDir dir;
  const std::string out = dir.file("out.dng");
  ProcessResult cli = runCli({"recompress", frame, out});
  ASSERT_EQ(cli.exitStatus, 0) << cli.err;
  ASSERT_NE(cli.out.find(": recompressed "), std::string::npos) << cli.out;

  // No sample array to compare with here: what dcraw reads from the original is the reference.
  const RawSamples reference = decodeWithDcraw(frame);
  ASSERT_TRUE(reference.ok) << reference.error;
  expectSameRawSamples(frame, out, reference.samples, reference.width, reference.height);
  const bool cinema = frame.find("A001_C001") != std::string::npos;
  expectSameMetadata(frame, out, cinema ? "IFD0" : "SubIFD");
}

INSTANTIATE_TEST_SUITE_P(Samples, BundledFrame, ::testing::ValuesIn(bundledFrames()),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                           std::string name = p.param.substr(p.param.rfind('/') + 1);
                           name = name.substr(0, name.size() - 4);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace tamzel::testing
