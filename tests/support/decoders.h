// Running the independent tools the end-to-end tests compare against (dcraw, LibRaw's
// unprocessed_raw, exiftool, tiffdump) and reading what they print. Processes are started
// without a shell, so paths with spaces or quotes need no escaping.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tamzel::testing {

// ---------------------------------------------------------------------------------------------
// Processes

struct ProcessResult {
  bool started = false;  // false when the program could not be run at all
  int exitStatus = -1;   // exit code; 128 + signal number when killed by a signal
  std::string out;       // everything written to stdout (may be binary)
  std::string err;       // everything written to stderr
};

// Runs argv[0] (looked up in PATH) with the given arguments, optionally in `workDir`, feeding
// nothing on stdin, and waits for it.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir = "");

// True when `program` can be found in PATH.
bool haveProgram(const std::string& program);

// A folder under $TMPDIR (or /tmp) that is removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// ---------------------------------------------------------------------------------------------
// Raw samples as the decoders see them

struct RawSamples {
  bool ok = false;
  std::string error;  // why decoding failed (tool's stderr, parse error)
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t maxval = 0;
  std::vector<uint16_t> samples;  // raster order
};

// Parses a binary PGM (P5, one or two bytes per sample, big-endian when two).
RawSamples parsePgm(const std::string& bytes);

// `dcraw -D -4 -c FILE`: the raw values, unscaled, as dcraw reads them.
RawSamples decodeWithDcraw(const std::string& path);

// LibRaw's `unprocessed_raw FILE` run on a copy of the file in a private temporary folder (the
// tool writes FILE.pgm next to its input).
RawSamples decodeWithLibRaw(const std::string& path);

// Decodes a tiled lossless-JPEG DNG with the project's own decoder: finds the single IFD's
// tile tags, decodes each tile and re-interleaves its two components column by column.
RawSamples decodeTiledWithOwnDecoder(const std::vector<uint8_t>& file);

// ---------------------------------------------------------------------------------------------
// Metadata

// `exiftool -j -G1 -n -a FILE...`: per file, "Group:Tag" -> value. String values are unescaped;
// numbers and arrays are kept as their JSON text. "SourceFile", the exiftool version and the
// "System:" group (file name, size, dates) are left out; exiftool's complaints about a file
// stay in as "ExifTool:Warning" / "ExifTool:Error". An empty vector on failure.
std::vector<std::map<std::string, std::string>> readExifTags(const std::vector<std::string>& paths);

// The entries whose key starts with `prefix` (e.g. "GPS:" or "ExifIFD:").
std::map<std::string, std::string> tagsWithPrefix(const std::map<std::string, std::string>& tags,
                                                  const std::string& prefix);

// `tiffdump FILE`: its whole output.
ProcessResult runTiffdump(const std::string& path);

}  // namespace tamzel::testing
