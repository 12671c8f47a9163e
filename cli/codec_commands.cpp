// The commands that work on one DNG file with the codec directly: recompress and inspect.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "dng/dng.h"
#include "platform/platform.h"

namespace tamzel::cli {

namespace {

const Command& commandNamed(const char* name) {
  for (const Command& c : commands()) {
    if (std::string(c.name) == name) return c;
  }
  return commands().front();
}

// The output buffer of one recompression, page-aligned as the engine's pool buffers are.
struct OutputBuffer {
  uint8_t* data = nullptr;
  explicit OutputBuffer(std::size_t size)
      : data(static_cast<uint8_t*>(platform::allocPageAligned(size))) {}
  ~OutputBuffer() { platform::freePageAligned(data); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
};

std::string gridText(const TileLayout& l) {
  return std::to_string(l.tilesAcross) + " x " + std::to_string(l.tilesDown) + " tiles of " +
         std::to_string(l.tileWidth) + " x " + std::to_string(l.tileLength);
}

}  // namespace

int runRecompress(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, {"--premiere"}, 2, parsed, error)) return usageError("recompress: " + error);
  if (parsed.helpAsked) {
    printCommandHelp(commandNamed("recompress"));
    return kExitOk;
  }
  const std::string& in = parsed.positionals[0];
  const std::string& out = parsed.positionals[1];
  const bool premiere = parsed.has("--premiere");

  FileBytes input = readWholeFile(in);
  if (!input.ok) return fail(kExitFile, input.error);
  // Decided before anything is written: writing the output would change what `in` names.
  const bool inPlace = sameFile(in, out);

  const std::size_t capacity = recompressCapacity(input.bytes.size());
  OutputBuffer output(capacity);
  if (output.data == nullptr) {
    return fail(kExitFile, "cannot recompress " + in + ": not enough memory for " +
                               std::to_string(capacity) + " bytes");
  }
  RecompressWorkspace workspace;
  RecompressResult result = recompressDng(input.bytes.data(), input.bytes.size(), premiere,
                                          workspace, output.data, capacity);
  workspace.scratch.release();

  if (result.verdict == DngVerdict::Recompressible) {
    std::string written = writeWholeFile(out, output.data, result.length);
    if (!written.empty()) return fail(kExitFile, written);
    const double percent = input.bytes.empty() ? 0.0
                                               : 100.0 * static_cast<double>(result.length) /
                                                     static_cast<double>(input.bytes.size());
    std::printf("%s: recompressed %zu -> %zu bytes (%.1f%%), %s\n", in.c_str(), input.bytes.size(),
                result.length, percent, gridText(result.layout).c_str());
    return kExitOk;
  }

  // Not recompressible: the output is the input byte for byte. When both are the same file
  // it already is, so nothing is written.
  if (!inPlace) {
    std::string written = writeWholeFile(out, input.bytes.data(), input.bytes.size());
    if (!written.empty()) return fail(kExitFile, written);
  }
  std::printf("%s: passed through unchanged: %s\n", in.c_str(),
              describeVerdict(result.verdict, result.info).c_str());
  return kExitOk;
}

namespace {

void printIfds(const DngStructure& structure, const RawImageInfo& info, bool rawKnown) {
  const uint32_t count = structure.ifdCount < kMaxIfds ? structure.ifdCount : kMaxIfds;
  std::printf("IFDs: %" PRIu32 "\n", count);
  for (uint32_t i = 0; i < count; ++i) {
    const IfdInfo& ifd = structure.ifds[i];
    std::string role;
    if (ifd.topLevel) role += ", top level";
    if (ifd.mainImage) role += ", main image";
    if (rawKnown && i == info.rawIfd) role += ", raw image";
    std::printf(
        "  IFD %" PRIu32 " at offset %" PRIu32 ": NewSubfileType %" PRIu32 ", %u entries%s\n", i,
        ifd.offset, ifd.newSubfileType, static_cast<unsigned>(ifd.entryCount), role.c_str());
  }
}

void printRawImage(const RawImageInfo& info) {
  std::printf("Raw image: IFD %" PRIu32 " (%s)\n", info.rawIfd,
              info.rawIsIfd0 ? "IFD0, CinemaDNG arrangement" : "a SubIFD behind IFD0");
  std::printf("  width %" PRIu32 ", height %" PRIu32 ", %u bits per sample\n", info.width,
              info.height, static_cast<unsigned>(info.bitsPerSample));
  std::printf("  compression %u, photometric interpretation %u, samples per pixel %u\n",
              static_cast<unsigned>(info.compression), static_cast<unsigned>(info.photometric),
              static_cast<unsigned>(info.samplesPerPixel));
  std::printf("  first strip at offset %" PRIu32 ", %" PRIu32 " strip bytes\n",
              info.firstStripOffset, info.stripBytes);
}

std::string verdictText(DngVerdict verdict, const RawImageInfo& info) {
  return verdict == DngVerdict::Recompressible
             ? "recompressible"
             : "not recompressible: " + describeVerdict(verdict, info);
}

}  // namespace

int runInspect(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, {}, 1, parsed, error)) return usageError("inspect: " + error);
  if (parsed.helpAsked) {
    printCommandHelp(commandNamed("inspect"));
    return kExitOk;
  }
  const std::string& path = parsed.positionals[0];
  FileBytes input = readWholeFile(path);
  if (!input.ok) return fail(kExitFile, input.error);
  const std::vector<uint8_t>& bytes = input.bytes;

  std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
  ByteView view(bytes.data(), bytes.size());
  uint8_t b0 = 0, b1 = 0;
  const bool haveMark = view.readU8(0, b0) && view.readU8(1, b1) && b0 == b1;
  if (haveMark && b0 == 'I') {
    std::printf("Byte order: little-endian (II)\n");
  } else if (haveMark && b0 == 'M') {
    std::printf("Byte order: big-endian (MM)\n");
  } else {
    std::printf("Byte order: none (no TIFF byte-order mark)\n");
  }

  // Value-initialised, so that whatever the reader leaves unset reads as zero.
  DngStructure structure{};
  RawImageInfo info{};
  const DngVerdict verdict = readDngStructure(bytes.data(), bytes.size(), structure, info);

  if (verdict != DngVerdict::Recompressible) {
    // A rejected file shows what the reader had found when it stopped, which may be only part
    // of the tree and of the raw image's description.
    if (structure.ifdCount > 0) {
      std::printf("Found before the reader stopped (unchecked, may be incomplete):\n");
      printIfds(structure, info, false);
      if (info.width != 0 || info.height != 0 || info.compression != 0) printRawImage(info);
    }
    std::printf("Verdict: %s\n", verdictText(verdict, info).c_str());
    return kExitOk;
  }

  printIfds(structure, info, true);
  printRawImage(info);
  const TileLayout normal = computeTileLayout(info.width, info.height, false);
  const TileLayout premiere = computeTileLayout(info.width, info.height, true);
  const DngVerdict normalVerdict = checkTileLayout(info, normal);
  const DngVerdict premiereVerdict = checkTileLayout(info, premiere);
  std::printf("Tile grid: %s\n", gridText(normal).c_str());
  std::printf("Tile grid with --premiere: %s\n", gridText(premiere).c_str());
  std::printf("Verdict: %s\n", verdictText(normalVerdict, info).c_str());
  if (premiereVerdict != normalVerdict) {
    std::printf("Verdict with --premiere: %s\n", verdictText(premiereVerdict, info).c_str());
  }
  return kExitOk;
}

}  // namespace tamzel::cli
