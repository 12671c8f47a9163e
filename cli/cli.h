// The pieces of tamzel-cli shared by its commands: the command table entry, exit codes,
// argument splitting and whole-file input and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tamzel::cli {

// Exit codes (listed by --help).
constexpr int kExitOk = 0;      // success: recompressed or passed through
constexpr int kExitFile = 1;    // an input or output file could not be read or written
constexpr int kExitUsage = 64;  // bad command line (as EX_USAGE of sysexits.h)

// One subcommand. `run` gets the arguments after the command's name and returns the exit code.
struct Command {
  const char* name;
  const char* synopsis;  // e.g. "recompress IN.dng OUT.dng [--premiere]"
  const char* summary;   // one line for the command listing
  const char* details;   // further lines for "tamzel-cli COMMAND --help", or nullptr
  int (*run)(const std::vector<std::string>& args);
};

// The commands, defined in main.cpp.
const std::vector<Command>& commands();

// Prints "tamzel-cli: MESSAGE" and the help hint to stderr and returns kExitUsage.
int usageError(const std::string& message);
// Prints "tamzel-cli: MESSAGE" to stderr and returns `code`.
int fail(int code, const std::string& message);
// The usage block of one command ("usage: tamzel-cli SYNOPSIS" and its details) to stdout.
void printCommandHelp(const Command& command);

// The arguments of one command split into positionals and the flags it knows. "--" ends the
// options. Returns false with `error` set on an unknown option or a wrong number of positionals;
// `helpAsked` is set by -h/--help (and then nothing else is checked).
struct ParsedArgs {
  std::vector<std::string> positionals;
  std::vector<std::string> flags;  // the known flags that were given
  bool helpAsked = false;
  bool has(const std::string& flag) const;
};
bool parseArgs(const std::vector<std::string>& args, const std::vector<std::string>& knownFlags,
               std::size_t positionalCount, ParsedArgs& parsed, std::string& error);

// A file read whole into memory.
struct FileBytes {
  std::vector<uint8_t> bytes;
  std::string error;  // "cannot open X: reason" etc. when reading failed
  bool ok = false;
};
FileBytes readWholeFile(const std::string& path);

// Writes `size` bytes to `path` so that the file is either complete or untouched: a regular
// file (or a new one) is written as a temporary file in the same folder and renamed over
// `path`; a device or pipe (e.g. /dev/stdout) is written directly. Every write, the flush and
// the close are checked. Returns "" on success, else the message.
std::string writeWholeFile(const std::string& path, const uint8_t* data, std::size_t size);

// True when both paths name the same existing file (same device and inode).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace tamzel::cli
