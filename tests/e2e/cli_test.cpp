// The tamzel-cli binary as a user meets it: usage errors, help and version, files that cannot
// be read or written, replacing a file in place, and what inspect prints.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

std::vector<std::string> folderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// A small recompressible frame on disk.
struct Frame {
  TempDir dir;
  FixtureOptions options;
  std::vector<uint16_t> samples;
  std::vector<uint8_t> bytes;
  std::string path;

  Frame() {
    options.width = 720;  // three tile columns
    options.height = 64;
    options.bitsPerSample = 12;
    samples = makeSamples(options.width, options.height, 12, SamplePattern::Realistic, 2);
    bytes = writeFixtureDng(options, samples);
    path = dir.file("frame.dng");
    writeFile(path, bytes);
  }
};

// --- Usage ----------------------------------------------------------------------------------

TEST(CliUsage, BadCommandLinesExitWith64AndSayWhy) {
  struct Case {
    std::vector<std::string> args;
    const char* message;  // expected in stderr
  };
  const Case cases[] = {
      {{}, "usage: tamzel-cli"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"recompress"}, "missing argument"},
      {{"recompress", "a.dng"}, "missing argument"},
      {{"recompress", "a.dng", "b.dng", "c.dng"}, "unexpected argument 'c.dng'"},
      {{"recompress", "a.dng", "b.dng", "--fast"}, "unknown option '--fast'"},
      {{"inspect"}, "missing argument"},
      {{"inspect", "a.dng", "--premiere"}, "unknown option '--premiere'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(no arguments)") : c.args[0]);
    ProcessResult r = runCli(c.args);
    ASSERT_TRUE(r.started) << r.err;
    EXPECT_EQ(r.exitStatus, 64);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(CliUsage, HelpListsEveryCommandAndTheExitCodes) {
  for (const char* flag : {"--help", "-h", "help"}) {
    ProcessResult r = runCli({flag});
    EXPECT_EQ(r.exitStatus, 0) << flag;
    for (const char* text : {"recompress IN.dng OUT.dng [--premiere]", "inspect FILE.dng",
                             "Exit codes:", "64", "--version"}) {
      EXPECT_NE(r.out.find(text), std::string::npos) << flag << " lacks " << text;
    }
  }
  ProcessResult command = runCli({"recompress", "--help"});
  EXPECT_EQ(command.exitStatus, 0);
  EXPECT_NE(command.out.find("usage: tamzel-cli recompress IN.dng OUT.dng [--premiere]"),
            std::string::npos)
      << command.out;
  EXPECT_NE(command.out.find("--premiere"), std::string::npos);
}

TEST(CliUsage, VersionIsTheProjectVersion) {
  ProcessResult r = runCli({"--version"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "tamzel-cli " TAMZEL_VERSION "\n");
}

// --- Files that cannot be read or written ------------------------------------------------------

TEST(CliFiles, UnreadableInputExitsWith1AndWritesNothing) {
  TempDir dir;
  const std::string out = dir.file("out.dng");
  struct Case {
    std::string input;
    const char* reason;
  };
  const Case cases[] = {
      {dir.file("missing.dng"), "No such file or directory"},
      {dir.path(), "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    for (const char* command : {"recompress", "inspect"}) {
      std::vector<std::string> args = {command, c.input};
      if (std::string(command) == "recompress") args.push_back(out);
      ProcessResult r = runCli(args);
      EXPECT_EQ(r.exitStatus, 1) << command;
      EXPECT_NE(r.err.find(c.input), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
      EXPECT_FALSE(exists(out));
    }
  }
}

TEST(CliFiles, UnwritableOutputExitsWith1) {
  Frame frame;
  struct Case {
    std::string output;
    const char* reason;
  };
  const Case cases[] = {
      {frame.dir.file("no-such-folder/out.dng"), "No such file or directory"},
      {frame.dir.path(), "Is a directory"},
      {"/dev/full", "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    ProcessResult r = runCli({"recompress", frame.path, c.output});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find(c.output), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "no success line after a failed write";
  }
  // A file that is passed through unchanged meets the same checks on its copy.
  TempDir other;
  writeFile(other.file("garbage.dng"), std::vector<uint8_t>(1000, 0x5A));
  ProcessResult r = runCli({"recompress", other.file("garbage.dng"), "/dev/full"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  // Nothing but the input is left in the folder: no temporary files.
  EXPECT_EQ(folderEntries(frame.dir.path()), std::vector<std::string>{"frame.dng"});
}

TEST(CliFiles, AWriteThatFailsHalfwayLeavesTheOldOutputIntact) {
  Frame frame;
  const std::string out = frame.dir.file("out.dng");
  const std::vector<uint8_t> old(100, 7);
  writeFile(out, old);
  // The shell limits the size of files the program may write to 8 KiB and ignores SIGXFSZ, so
  // the write past the limit fails with EFBIG instead of killing the program.
  ProcessResult r = runProcess({"sh", "-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\" \"$@\"",
                                cliPath(), "recompress", frame.path, out});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot write " + out + ": File too large"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(out), old) << "a failed write must not touch the existing output";
  EXPECT_EQ(folderEntries(frame.dir.path()), (std::vector<std::string>{"frame.dng", "out.dng"}))
      << "the temporary file must be removed";
}

TEST(CliFiles, ExistingOutputIsReplacedWholeWithoutLeftovers) {
  Frame frame;
  const std::string out = frame.dir.file("out.dng");
  writeFile(out, std::vector<uint8_t>(5000000, 1));  // longer than the new file
  chmod(out.c_str(), 0640);
  ProcessResult r = runCli({"recompress", frame.path, out});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(readFile(out), recompressBytes(frame.bytes, false).bytes);
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
  EXPECT_EQ(folderEntries(frame.dir.path()), (std::vector<std::string>{"frame.dng", "out.dng"}));
}

TEST(CliFiles, RecompressingAFileOntoItselfReplacesItOnceThenLeavesItAlone) {
  Frame frame;
  // The same file under another spelling of its path.
  const std::string samePath = frame.dir.path() + "/./frame.dng";
  ProcessResult first = runCli({"recompress", frame.path, samePath});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  ASSERT_NE(first.out.find(": recompressed "), std::string::npos) << first.out;
  const std::vector<uint8_t> once = readFile(frame.path);
  EXPECT_EQ(once, recompressBytes(frame.bytes, false).bytes);
  expectSameRawSamples(frame.path, frame.path, frame.samples, frame.options.width,
                       frame.options.height, {true, true});

  struct stat before {};
  ASSERT_EQ(stat(frame.path.c_str(), &before), 0);
  ProcessResult second = runCli({"recompress", frame.path, frame.path});
  ASSERT_EQ(second.exitStatus, 0) << second.err;
  EXPECT_NE(second.out.find(": passed through unchanged: "), std::string::npos) << second.out;
  struct stat after {};
  ASSERT_EQ(stat(frame.path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "a file passed through in place is not rewritten";
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(readFile(frame.path), once);
  EXPECT_EQ(folderEntries(frame.dir.path()), std::vector<std::string>{"frame.dng"});
}

// --- inspect ----------------------------------------------------------------------------------

TEST(CliInspect, DescribesTreeRawImageGridsAndVerdict) {
  FixtureOptions options;
  options.width = 1280;
  options.height = 720;
  options.bitsPerSample = 12;
  options.bigEndian = true;
  options.rawInSubIfd = true;
  options.previewSubIfds = 1;
  TempDir dir;
  FixtureLayout layout;
  const auto samples = makeSamples(options.width, options.height, 12, SamplePattern::Gradient);
  writeFile(dir.file("x.dng"), writeFixtureDng(options, samples, layout));
  ProcessResult r = runCli({"inspect", dir.file("x.dng")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string lines[] = {
      "Byte order: big-endian (MM)",
      "IFDs: 3",
      "IFD 0 at offset 8: NewSubfileType 1",
      "IFD 1 at offset " + std::to_string(layout.rawIfdOffset) + ": NewSubfileType 0",
      "main image, raw image",
      "Raw image: IFD 1 (a SubIFD behind IFD0)",
      "width 1280, height 720, 12 bits per sample",
      "compression 1, photometric interpretation 32803, samples per pixel 1",
      "first strip at offset " + std::to_string(layout.firstStripOffset) + ", " +
          std::to_string(layout.stripBytes) + " strip bytes",
      "Tile grid: 5 x 3 tiles of 256 x 240",
      "Tile grid with --premiere: 5 x 1 tiles of 256 x 720",
      "Verdict: recompressible",
  };
  for (const std::string& line : lines) {
    EXPECT_NE(r.out.find(line), std::string::npos) << "missing '" << line << "' in\n" << r.out;
  }
}

TEST(CliInspect, ExplainsATileGridTheImageDoesNotSuit) {
  // 1000 columns of 14-bit samples: four tile columns of 250, which is not a whole number of
  // four-sample groups.
  FixtureOptions options;
  options.width = 1000;
  options.height = 40;
  options.bitsPerSample = 14;
  TempDir dir;
  const auto input = writeFixtureDng(options, makeSamples(1000, 40, 14, SamplePattern::Gradient));
  writeFile(dir.file("x.dng"), input);
  ProcessResult r = runCli({"inspect", dir.file("x.dng")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Recompressed lib = recompressBytes(input, false);
  ASSERT_NE(lib.result.verdict, DngVerdict::Recompressible);
  EXPECT_NE(r.out.find("Tile grid: 4 x 1 tiles of 250 x 40"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Verdict: not recompressible: " +
                       describeVerdict(lib.result.verdict, lib.result.info)),
            std::string::npos)
      << r.out;
}

TEST(CliInspect, GarbageGetsAVerdictNotACrash) {
  TempDir dir;
  std::vector<std::vector<uint8_t>> files = {
      {},
      {'I', 'I'},
      {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F},  // IFD0 far outside the file
      {'M', 'M', 0, 42, 0, 0, 0, 8, 0xFF, 0xFF},  // 65535 entries that are not there
      std::vector<uint8_t>(4096, 0xA5),
  };
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    writeFile(dir.file("g.dng"), files[i]);
    ProcessResult r = runCli({"inspect", dir.file("g.dng")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Verdict: not recompressible: "), std::string::npos) << r.out;
    ProcessResult copy = runCli({"recompress", dir.file("g.dng"), dir.file("copy.dng")});
    EXPECT_EQ(copy.exitStatus, 0) << copy.err;
    EXPECT_EQ(readFile(dir.file("copy.dng")), files[i]);
  }
}

}  // namespace
}  // namespace tamzel::testing
