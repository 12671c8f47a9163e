#include "support/e2e_helpers.h"

#include <gtest/gtest.h>

#include <map>

#include "support/dng_writer.h"

namespace tamzel::testing {

Recompressed recompressBytes(const std::vector<uint8_t>& input, bool premiere) {
  Recompressed r;
  std::vector<uint8_t> out(recompressCapacity(input.size()));
  RecompressWorkspace workspace;
  r.result = recompressDng(input.data(), input.size(), premiere, workspace, out.data(), out.size());
  if (r.result.verdict == DngVerdict::Recompressible) {
    out.resize(r.result.length);
    r.bytes = std::move(out);
  }
  return r;
}

std::string cliPath() {
  return std::string(TAMZEL_BIN_DIR) + "/tamzel-cli";
}

ProcessResult runCli(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {cliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv);
}

namespace {

// Compares decoded samples with the expected ones without printing a million values.
void expectSamples(const RawSamples& got, const std::vector<uint16_t>& expected, uint32_t width,
                   uint32_t height, const std::string& what) {
  ASSERT_TRUE(got.ok) << what << ": " << got.error;
  ASSERT_EQ(got.width, width) << what;
  ASSERT_EQ(got.height, height) << what;
  ASSERT_EQ(got.samples.size(), expected.size()) << what;
  std::size_t mismatches = 0, first = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (got.samples[i] != expected[i]) {
      if (mismatches++ == 0) first = i;
    }
  }
  EXPECT_EQ(mismatches, 0u) << what << ": first difference at row " << first / width << ", column "
                            << first % width << ": " << got.samples[first] << " instead of "
                            << expected[first];
}

}  // namespace

void expectSameRawSamples(const std::string& inputPath, const std::string& outputPath,
                          const std::vector<uint16_t>& expected, uint32_t width, uint32_t height,
                          DecoderSet decoders) {
  if (decoders.dcraw) {
    expectSamples(decodeWithDcraw(inputPath), expected, width, height, "dcraw, input");
    expectSamples(decodeWithDcraw(outputPath), expected, width, height, "dcraw, output");
  }
  if (decoders.libRaw) {
    expectSamples(decodeWithLibRaw(inputPath), expected, width, height, "LibRaw, input");
    expectSamples(decodeWithLibRaw(outputPath), expected, width, height, "LibRaw, output");
  }
  expectSamples(decodeTiledWithOwnDecoder(readFile(outputPath)), expected, width, height,
                "own tile decoder, output");
}

void expectSameMetadata(const std::string& inputPath, const std::string& outputPath,
                        const std::string& rawGroup) {
  auto tags = readExifTags({inputPath, outputPath});
  ASSERT_EQ(tags.size(), 2u) << "exiftool failed";
  const auto& in = tags[0];
  const auto& out = tags[1];
  auto value = [](const std::map<std::string, std::string>& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? std::string("<absent>") : it->second;
  };

  // Camera-wide metadata stays in IFD0.
  for (const char* tag :
       {"Make", "Model", "DNGVersion", "DNGBackwardVersion", "UniqueCameraModel", "ColorMatrix1",
        "AsShotNeutral", "CalibrationIlluminant1", "Orientation", "Software", "ModifyDate"}) {
    const std::string key = std::string("IFD0:") + tag;
    EXPECT_NE(value(in, key), "<absent>") << key << " missing from the input";
    EXPECT_EQ(value(out, key), value(in, key)) << key;
  }
  // The raw image's own description moves from its IFD into the output's IFD0.
  for (const char* tag :
       {"SubfileType", "ImageWidth", "ImageHeight", "BitsPerSample", "PhotometricInterpretation",
        "SamplesPerPixel", "CFARepeatPatternDim", "CFAPattern2", "CFAPlaneColor", "CFALayout",
        "BlackLevel", "WhiteLevel"}) {
    EXPECT_EQ(value(out, std::string("IFD0:") + tag), value(in, rawGroup + ":" + tag)) << tag;
  }
  EXPECT_EQ(value(out, "File:ExifByteOrder"), value(in, "File:ExifByteOrder"));
  // Exif, GPS and interoperability values, all of them.
  for (const char* group : {"ExifIFD:", "GPS:", "InteropIFD:"}) {
    EXPECT_EQ(tagsWithPrefix(out, group), tagsWithPrefix(in, group)) << group;
  }
  if (!tagsWithPrefix(in, "ExifIFD:").empty()) {
    for (const char* tag : {"ExposureTime", "FNumber", "ISO", "DateTimeOriginal"}) {
      EXPECT_NE(value(out, std::string("ExifIFD:") + tag), "<absent>") << tag;
    }
  }

  EXPECT_EQ(value(out, "ExifTool:Warning"), value(in, "ExifTool:Warning"));
  EXPECT_EQ(value(out, "ExifTool:Error"), "<absent>");

  // The shape of the output: tiled lossless JPEG, no strips, no SubIFDs, no preview.
  EXPECT_EQ(value(out, "IFD0:Compression"), "7");
  for (const char* tag : {"TileWidth", "TileLength", "TileOffsets", "TileByteCounts"}) {
    EXPECT_NE(value(out, std::string("IFD0:") + tag), "<absent>") << tag;
  }
  for (const char* tag : {"StripOffsets", "StripByteCounts", "RowsPerStrip", "SubIFD",
                          "PreviewApplicationName", "PreviewColorSpace", "PreviewDateTime"}) {
    EXPECT_EQ(value(out, std::string("IFD0:") + tag), "<absent>") << tag;
  }
  for (const auto& [key, v] : out) {
    EXPECT_NE(key.rfind("SubIFD", 0), 0u) << "output has " << key;
    EXPECT_NE(key.rfind("IFD1:", 0), 0u) << "output has " << key;
  }
}

void expectSingleTiledIfd(const std::string& outputPath, bool bigEndian) {
  ProcessResult dump = runTiffdump(outputPath);
  ASSERT_TRUE(dump.started);
  ASSERT_EQ(dump.exitStatus, 0) << dump.err;
  const std::string& text = dump.out;
  EXPECT_NE(text.find(bigEndian ? "<big-endian>" : "<little-endian>"), std::string::npos) << text;
  std::size_t directories = 0;
  for (std::size_t p = text.find("Directory "); p != std::string::npos;
       p = text.find("Directory ", p + 1)) {
    ++directories;
  }
  EXPECT_EQ(directories, 1u) << text;
  EXPECT_NE(text.find("Directory 0: offset 8 (0x8) next 0 (0)"), std::string::npos) << text;
  for (const char* tag : {"TileWidth (322)", "TileLength (323)", "TileOffsets (324)",
                          "TileByteCounts (325)", "Compression (259) SHORT (3) 1<7>"}) {
    EXPECT_NE(text.find(tag), std::string::npos) << tag << " not in\n" << text;
  }
  for (const char* tag : {"StripOffsets (273)", "StripByteCounts (279)", "SubIFD (330)"}) {
    EXPECT_EQ(text.find(tag), std::string::npos) << tag << " in\n" << text;
  }
}

}  // namespace tamzel::testing
