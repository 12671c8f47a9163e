// tamzel-cli: the command-line front end. This file holds the command table and the dispatch;
// each command lives in a *_commands.cpp file of its own group. Adding a command means writing
// its run function, declaring it below and adding one line to the table.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace tamzel::cli {

// Defined in codec_commands.cpp.
int runRecompress(const std::vector<std::string>& args);
int runInspect(const std::vector<std::string>& args);
// Defined in job_commands.cpp.
int runCompress(const std::vector<std::string>& args);
int runVerify(const std::vector<std::string>& args);

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"recompress", "recompress IN.dng OUT.dng [--premiere]",
       "recompress one DNG file losslessly, or copy it unchanged when it cannot be",
       "  Writes OUT.dng as a tiled lossless-JPEG DNG holding the same raw samples, or as a\n"
       "  byte-identical copy of IN.dng when the file cannot be recompressed, and prints which\n"
       "  and why. OUT.dng is complete or untouched: it is written under a temporary name and\n"
       "  renamed. OUT.dng may be IN.dng itself: a recompressed file replaces it, a file that\n"
       "  cannot be recompressed is left alone.\n"
       "  --premiere  one tile row spanning the image height, the layout Premiere CC expects\n",
       runRecompress},
      {"inspect", "inspect FILE.dng",
       "print a DNG file's IFD tree, raw image, tile grid and whether it is recompressible",
       nullptr, runInspect},
      {"compress",
       "compress INPUT OUTPUT [--no-recurse] [--no-copy] [--overwrite] [--premiere] "
       "[--checksums] [--verify] [--in-place] [--on-error=MODE] [--log FILE] [--quiet]",
       "recompress a folder tree of DNG frames into a mirrored output folder",
       "  Mirrors INPUT into the existing folder OUTPUT: DNG frames are recompressed, other\n"
       "  files copied, exactly as the desktop application's Start Job does.\n"
       "  --no-recurse    only the files of INPUT itself, no subfolders\n"
       "  --no-copy       do not copy files that are not DNG images\n"
       "  --overwrite     replace existing output files (default: skip them)\n"
       "  --premiere      one tile row, the layout Premiere CC expects\n"
       "  --checksums     write a checksum list (checksum.tz) into every output folder\n"
       "  --verify        verify the output against the new lists afterwards (needs --checksums)\n"
       "  --in-place      confirms that INPUT and OUTPUT are the same folder: the originals are\n"
       "                  overwritten by the recompressed files (needs --overwrite)\n"
       "  --on-error=MODE what to do when a file cannot be read or written: ask (the default on\n"
       "                  a terminal), retry-then-skip, skip, or abort (the default otherwise)\n"
       "  --log FILE      where the verification's error log goes (default: TamzelError.log in\n"
       "                  the user data folder)\n"
       "  --quiet         no progress; the summary only when something went wrong\n"
       "  Ctrl-C aborts the job cleanly; a second Ctrl-C quits at once.\n"
       "  Exit codes: 0 all went well, 1 the verification found problems, 2 the job was aborted\n"
       "  or files were skipped after errors, 64 usage error or refused folders.\n",
       runCompress},
      {"verify", "verify FOLDER [--no-recurse] [--on-error=MODE] [--log FILE] [--quiet]",
       "check a folder tree against the checksum lists in it",
       "  Checks every file named in every checksum.tz of FOLDER (and its subfolders unless\n"
       "  --no-recurse) and writes the problems found to the error log.\n"
       "  Exit codes: 0 no problems, 1 checksum errors, missing files or corrupted lists,\n"
       "  2 aborted or files skipped after errors, 64 usage error.\n",
       runVerify},
  };
  return table;
}

namespace {

void printUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: tamzel-cli COMMAND [ARGUMENTS]\n"
               "       tamzel-cli COMMAND --help\n"
               "       tamzel-cli --help | --version\n"
               "\n"
               "Recompresses uncompressed CinemaDNG/DNG raw frames losslessly into tiled\n"
               "lossless-JPEG DNG files.\n"
               "\n"
               "Commands:\n");
  for (const Command& c : commands()) {
    std::fprintf(to, "  %s\n      %s\n", c.synopsis, c.summary);
  }
  std::fprintf(to,
               "\n"
               "Exit codes:\n"
               "  0   success (a file recompressed or passed through unchanged)\n"
               "  1   an input or output file could not be read or written\n"
               "  64  usage error: unknown command or option, missing or extra arguments\n"
               "compress and verify: 1 the verification found problems, 2 the job was aborted\n"
               "or files were skipped after errors (see 'tamzel-cli compress --help').\n");
}

}  // namespace

int usageError(const std::string& message) {
  std::fprintf(stderr, "tamzel-cli: %s\nTry 'tamzel-cli --help' for more information.\n",
               message.c_str());
  return kExitUsage;
}

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "tamzel-cli: %s\n", message.c_str());
  return code;
}

void printCommandHelp(const Command& command) {
  std::printf("usage: tamzel-cli %s\n  %s\n", command.synopsis, command.summary);
  if (command.details != nullptr) std::printf("%s", command.details);
}

bool ParsedArgs::has(const std::string& flag) const {
  for (const std::string& f : flags) {
    if (f == flag) return true;
  }
  return false;
}

bool parseArgs(const std::vector<std::string>& args, const std::vector<std::string>& knownFlags,
               std::size_t positionalCount, ParsedArgs& parsed, std::string& error) {
  bool optionsEnded = false;
  for (const std::string& a : args) {
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (a == "-h" || a == "--help")) {
      parsed.helpAsked = true;
      return true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      bool known = false;
      for (const std::string& k : knownFlags) known = known || k == a;
      if (!known) {
        error = "unknown option '" + a + "'";
        return false;
      }
      if (!parsed.has(a)) parsed.flags.push_back(a);
    } else {
      parsed.positionals.push_back(a);
    }
  }
  if (parsed.positionals.size() < positionalCount) {
    error = "missing argument";
    return false;
  }
  if (parsed.positionals.size() > positionalCount) {
    error = "unexpected argument '" + parsed.positionals[positionalCount] + "'";
    return false;
  }
  return true;
}

}  // namespace tamzel::cli

int main(int argc, char** argv) {
  using namespace tamzel::cli;
  if (argc < 2) {
    printUsage(stderr);
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    printUsage(stdout);
    return kExitOk;
  }
  if (first == "--version" || first == "-V") {
    std::printf("tamzel-cli " TAMZEL_VERSION "\n");
    return kExitOk;
  }
  for (const Command& c : commands()) {
    if (first == c.name) {
      std::vector<std::string> args(argv + 2, argv + argc);
      int code = c.run(args);
      // Anything still buffered for stdout must reach it, or the run did not succeed.
      if (std::fflush(stdout) != 0 && code == kExitOk) return kExitFile;
      return code;
    }
  }
  if (first.size() > 1 && first[0] == '-') return usageError("unknown option '" + first + "'");
  return usageError("unknown command '" + first + "'");
}
