// Writes the bundled demo frames under samples/: a short CinemaDNG sequence and one DNG with a
// preview, all made by the fixture writer, so they can be remade at any time
// (scripts/make-samples). With --fuzz-seeds it writes the small seed files of the
// recompression fuzzer instead.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "support/dng_writer.h"

using tamzel::testing::FixtureOptions;
using tamzel::testing::SamplePattern;

namespace {

bool makeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "tamzel_make_samples: cannot create %s: %s\n", path.c_str(),
               std::strerror(errno));
  return false;
}

bool writeFrame(const std::string& path, const FixtureOptions& options, uint32_t seed) {
  auto samples = tamzel::testing::makeSamples(options.width, options.height, options.bitsPerSample,
                                              SamplePattern::Realistic, seed);
  auto bytes = tamzel::testing::writeFixtureDng(options, samples);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "tamzel_make_samples: cannot write %s\n", path.c_str());
    return false;
  }
  std::printf("%s: %zu bytes, %ux%u, %u-bit %s-endian%s\n", path.c_str(), bytes.size(),
              options.width, options.height, static_cast<unsigned>(options.bitsPerSample),
              options.bigEndian ? "big" : "little",
              options.rawInSubIfd ? ", raw image in a SubIFD behind a preview" : ", CinemaDNG");
  return true;
}

// Small valid DNGs of every bit depth in both arrangements for fuzz/seeds/recompress_fuzzer.
int writeFuzzSeeds(const std::string& folder) {
  if (!makeFolder(folder)) return 1;
  for (uint16_t bits : {8, 12, 14, 16}) {
    FixtureOptions cinema;
    cinema.width = 64;
    cinema.height = 24;
    cinema.bitsPerSample = bits;
    if (!writeFrame(folder + "/cinema_" + std::to_string(bits) + "bit_ii.dng", cinema, bits)) {
      return 1;
    }
    FixtureOptions sub;
    sub.width = 488;  // two tile columns of 244
    sub.height = 8;
    sub.bitsPerSample = bits;
    sub.bigEndian = true;
    sub.rawInSubIfd = true;
    sub.rowsPerStrip = 3;
    sub.stripByteCountsShort = true;
    sub.withGps = true;
    sub.withInterop = true;
    if (!writeFrame(folder + "/subifd_" + std::to_string(bits) + "bit_mm.dng", sub, bits)) {
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--fuzz-seeds") return writeFuzzSeeds(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: tamzel_make_samples OUTPUT_FOLDER\n"
                 "       tamzel_make_samples --fuzz-seeds OUTPUT_FOLDER\n");
    return 64;
  }
  const std::string root = argv[1];
  if (!makeFolder(root)) return 1;

  // A001_C001: four frames of a 720p CinemaDNG clip, 12-bit little-endian, raw image in IFD0.
  const std::string clip = root + "/A001_C001";
  if (!makeFolder(clip)) return 1;
  FixtureOptions cinema;
  cinema.width = 1280;
  cinema.height = 720;
  cinema.bitsPerSample = 12;
  cinema.make = "Tamzel Demo";
  cinema.model = "Cinema Camera";
  for (uint32_t frame = 0; frame < 4; ++frame) {
    char name[64];
    std::snprintf(name, sizeof name, "/A001_C001_%06u.dng", frame);
    if (!writeFrame(clip + name, cinema, 100 + frame)) return 1;
  }
  {
    std::ofstream notes(clip + "/notes.txt", std::ios::trunc);
    notes << "A001_C001: four demo frames, 1280x720, 12-bit, CinemaDNG (raw image in IFD0).\n"
             "Made by tamzel_make_samples; not a real camera's output.\n";
    if (!notes) return 1;
  }

  // B002_C003: one 16-bit big-endian still with an RGB preview in IFD0 and the raw image in a
  // SubIFD, carrying GPS and interoperability data.
  const std::string still = root + "/B002_C003";
  if (!makeFolder(still)) return 1;
  FixtureOptions dng;
  dng.width = 960;
  dng.height = 540;
  dng.bitsPerSample = 16;
  dng.bigEndian = true;
  dng.rawInSubIfd = true;
  dng.withGps = true;
  dng.withInterop = true;
  dng.make = "Tamzel Demo";
  dng.model = "Still Camera";
  if (!writeFrame(still + "/B002_C003_000000.dng", dng, 7)) return 1;
  return 0;
}
