// Helpers of the end-to-end tests: recompressing through the library and through the
// tamzel-cli binary, and the checks that a recompressed file holds the same raw samples and
// metadata as its input when read by decoders nobody on this project wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dng/dng.h"
#include "support/decoders.h"

namespace tamzel::testing {

// recompressDng with the room the engine gives it (recompressCapacity).
struct Recompressed {
  RecompressResult result;
  std::vector<uint8_t> bytes;  // the output file when recompressed, else empty
};
Recompressed recompressBytes(const std::vector<uint8_t>& input, bool premiere);

// The tamzel-cli binary next to the test executables, and a run of it.
std::string cliPath();
ProcessResult runCli(const std::vector<std::string>& args);

// Which independent decoders are expected to read a recompressed file.
struct DecoderSet {
  bool dcraw = true;
  bool libRaw = true;  // LibRaw 0.20.2 misreads tiled DNGs with exactly two tile columns
};

// Checks (with gtest assertions) that dcraw, LibRaw and the project's own tile decoder all read
// `expected` from the output file, and that dcraw and LibRaw read it from the input file too.
void expectSameRawSamples(const std::string& inputPath, const std::string& outputPath,
                          const std::vector<uint16_t>& expected, uint32_t width, uint32_t height,
                          DecoderSet decoders = {});

// Checks with exiftool that the output carries the input's camera metadata (Make, Model, DNG
// version, colour data), all Exif, GPS and interoperability values, and the raw image's
// description; and that it is one tiled IFD with Compression 7, no strips, no SubIFDs and no
// preview. `rawGroup` is the exiftool group of the raw IFD in the input ("IFD0" or "SubIFD").
void expectSameMetadata(const std::string& inputPath, const std::string& outputPath,
                        const std::string& rawGroup);

// Checks with tiffdump that the output is a single IFD in the given byte order with the four
// tile tags, Compression 7, and neither StripOffsets nor SubIFDs.
void expectSingleTiledIfd(const std::string& outputPath, bool bigEndian);

}  // namespace tamzel::testing
