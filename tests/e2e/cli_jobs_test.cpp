// tamzel-cli's job commands end to end: compress a small tree with checksum lists and a
// verification pass, check the lists against the files on disk, verify again after a byte was
// changed, errors answered by --on-error, the refusals and usage errors, the default error log
// location, and an output frame decoded by dcraw.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "integrity/crc32c.h"
#include "support/decoders.h"
#include "support/dng_writer.h"
#include "support/e2e_helpers.h"

namespace tamzel::testing {
namespace {

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void mkdirs(const std::string& path) {
  std::string partial;
  for (char c : path + "/") {
    if (c == '/' && !partial.empty()) ::mkdir(partial.c_str(), 0777);
    partial += c;
  }
}

bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// name -> checksum of a checksum.tz text (lines "XXXXXXXX\tname\n")
std::map<std::string, uint32_t> parseList(const std::string& text) {
  std::map<std::string, uint32_t> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_GT(line.size(), 9u);
    EXPECT_EQ(line[8], '\t') << line;
    entries[line.substr(9)] = static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
  }
  return entries;
}

// An input tree of three recompressible frames and a text file in two folders, and an empty
// output folder.
class CliJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    in = realPath(root.path()) + "/in";
    out = realPath(root.path()) + "/out";
    log = realPath(root.path()) + "/errors.log";
    mkdirs(in + "/A001");
    mkdirs(in + "/B002/sub");
    mkdirs(out);
    frame.width = 720;
    frame.height = 64;
    frame.bitsPerSample = 12;
    const char* frames[] = {"A001/A001_0001.dng", "A001/A001_0002.dng", "B002/sub/B002_0001.DNG"};
    uint32_t seed = 3;
    for (const char* f : frames) {
      samples[f] = makeSamples(frame.width, frame.height, 12, SamplePattern::Realistic, seed++);
      writeFile(in + "/" + f, writeFixtureDng(frame, samples[f]));
    }
    std::ofstream(in + "/A001/notes.txt") << "slate 1, take 2\n";
  }

  ProcessResult compress(std::vector<std::string> extra) {
    std::vector<std::string> args = {"compress", in, out, "--log", log};
    args.insert(args.end(), extra.begin(), extra.end());
    return runCli(args);
  }
  ProcessResult verify(const std::string& folder) {
    return runCli({"verify", folder, "--log", log});
  }

  TempDir root;
  std::string in, out, log;
  FixtureOptions frame;
  std::map<std::string, std::vector<uint16_t>> samples;
};

TEST_F(CliJobs, CompressWithChecksumsAndVerifyThenDetectCorruption) {
  ProcessResult r = compress({"--checksums", "--verify"});
  ASSERT_TRUE(r.started);
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "Processing finished in ")) << r.out;
  EXPECT_TRUE(contains(r.out, "DNG files compressed: 3\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Checksum verification finished in ")) << r.out;
  EXPECT_TRUE(contains(r.out, "Checksum entries processed: 4\nFiles OK: 4\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\nDone!\n")) << r.out;

  // Every output folder that received files has a list naming exactly its files, with the
  // CRC-32C of the bytes on disk; the top folder and B002 (only a subfolder) have none.
  const std::map<std::string, std::vector<std::string>> folders = {
      {"A001", {"A001_0001.dng", "A001_0002.dng", "notes.txt"}},
      {"B002/sub", {"B002_0001.DNG"}},
  };
  for (const auto& [folder, names] : folders) {
    SCOPED_TRACE(folder);
    std::map<std::string, uint32_t> list = parseList(readAll(out + "/" + folder + "/checksum.tz"));
    ASSERT_EQ(list.size(), names.size());
    for (const std::string& name : names) {
      ASSERT_EQ(list.count(name), 1u) << name;
      std::vector<uint8_t> bytes = readFile(out + "/" + folder + "/" + name);
      EXPECT_EQ(list[name], Crc32c(0, bytes.data(), bytes.size())) << name;
    }
  }
  struct stat st;
  EXPECT_NE(::stat((out + "/checksum.tz").c_str(), &st), 0);
  EXPECT_NE(::stat((out + "/B002/checksum.tz").c_str(), &st), 0);
  EXPECT_EQ(readAll(out + "/A001/notes.txt"), "slate 1, take 2\n");

  r = verify(out);
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "Folders with checksum lists verified: 2\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "No checksum errors encountered.")) << r.out;
  EXPECT_EQ(readAll(log), "");  // a clean verification leaves an empty error log

  // One byte changed in one frame.
  const std::string victim = out + "/A001/A001_0002.dng";
  std::vector<uint8_t> bytes = readFile(victim);
  bytes[bytes.size() / 2] ^= 0x01;
  writeFile(victim, bytes);
  r = verify(out);
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(contains(r.out, "Checksum errors encountered: 1\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "\nChecksum error: " + victim)) << r.out;
  EXPECT_EQ(readAll(log), "\nChecksum error: " + victim);

  // A listed file removed: missing (M3), still exit 1.
  std::remove((out + "/A001/notes.txt").c_str());
  r = verify(out + "/A001/");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(contains(readAll(log), "\nMissing file: " + out +
                                         "/A001/notes.txt listed in "
                                         "checksum list " +
                                         out + "/A001/checksum.tz"))
      << readAll(log);
}

TEST_F(CliJobs, RecompressedFrameDecodesToTheInputSamples) {
  if (!haveProgram("dcraw")) GTEST_SKIP() << "dcraw not installed";
  ProcessResult r = compress({"--no-copy"});
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  const std::string name = "A001/A001_0001.dng";
  std::vector<uint8_t> output = readFile(out + "/" + name);
  std::vector<uint8_t> input = readFile(in + "/" + name);
  EXPECT_LT(output.size(), input.size());
  RawSamples fromOutput = decodeWithDcraw(out + "/" + name);
  RawSamples fromInput = decodeWithDcraw(in + "/" + name);
  ASSERT_TRUE(fromOutput.ok) << fromOutput.error;
  ASSERT_TRUE(fromInput.ok) << fromInput.error;
  EXPECT_EQ(fromOutput.width, frame.width);
  EXPECT_EQ(fromOutput.height, frame.height);
  EXPECT_TRUE(fromOutput.samples == fromInput.samples);
  EXPECT_TRUE(fromOutput.samples == samples[name]);
  EXPECT_NE(::access((out + "/A001/notes.txt").c_str(), F_OK), 0);  // --no-copy
}

// A regular file where an output folder must go: the CreateFolder prompt is answered by
// --on-error; skipping leaves that subtree out and the job ends with exit 2, aborting too.
TEST_F(CliJobs, UnwritableOutputFolderAnsweredByOnError) {
  std::ofstream(out + "/A001") << "in the way";
  struct Case {
    std::vector<std::string> options;
    const char* decision;
    const char* ending;
  } cases[] = {
      {{"--on-error=skip"}, "-> Skip Folder", "\nDone!\n"},
      {{"--on-error", "retry-then-skip"}, "-> Skip Folder", "\nDone!\n"},
      {{}, "-> Abort Job", "\nJob was aborted!\n"},  // not a terminal: abort by default
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision);
    std::vector<std::string> options = {"--checksums", "--verify"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    ProcessResult r = compress(options);
    EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "Error creating folder\nCannot create folder:\n" + out + "/A001"))
        << r.err;
    EXPECT_TRUE(contains(r.err, c.decision)) << r.err;
    EXPECT_TRUE(contains(r.out, c.ending)) << r.out;
  }
  // The other folder was processed when the first one was skipped.
  struct stat st;
  EXPECT_EQ(::stat((out + "/B002/sub/B002_0001.DNG").c_str(), &st), 0);
}

TEST_F(CliJobs, RefusalsAndUsageErrorsExitWith64) {
  mkdirs(in + "/A001/inner");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"compress"}, "missing argument"},
      {{"compress", in}, "missing argument"},
      {{"compress", in, out, "extra"}, "unexpected argument 'extra'"},
      {{"compress", in, out, "--fast"}, "unknown option '--fast'"},
      {{"compress", in, out, "--on-error=sometimes"}, "--on-error: unknown value 'sometimes'"},
      {{"compress", in, out, "--on-error"}, "--on-error needs a value"},
      {{"compress", in, out, "--log"}, "--log needs a file name"},
      {{"compress", in, out, "--verify"}, "--verify needs --checksums"},
      {{"compress", in + "/nope", out},
       "Folder not found!\n\nCannot find the selected input folder:\n"},
      {{"compress", in, out + "/nope"},
       "Folder not found!\n\nCannot find the selected output folder:\n"},
      {{"compress", in, in + "/"}, "Your existing files policy is set to Skip."},
      {{"compress", in, in, "--overwrite"}, "Proceeding will overwrite the original files"},
      {{"compress", in, out, "--in-place"}, "--in-place"},
      {{"compress", in, in + "/A001/inner"}, "The output folder is a subfolder of the input"},
      {{"verify"}, "missing argument"},
      {{"verify", out, out}, "unexpected argument"},
      {{"verify", out, "--checksums"}, "unknown option '--checksums'"},
      {{"verify", out + "/nope"}, "Cannot find the selected folder:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ProcessResult r = runCli(c.args);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitStatus, 64) << r.err;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // A sibling whose name only extends the input folder's name is not inside it.
  mkdirs(in + "-compressed");
  ProcessResult r = runCli({"compress", in, in + "-compressed", "--quiet"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
}

// In place: same folder, --overwrite and --in-place; DNG frames are replaced by their
// recompressed versions and listed, the text file is neither copied nor listed.
TEST_F(CliJobs, InPlaceReplacesFrames) {
  std::vector<uint8_t> before = readFile(in + "/A001/A001_0001.dng");
  ProcessResult r = runCli(
      {"compress", in, in, "--overwrite", "--in-place", "--checksums", "--verify", "--log", log});
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_LT(readFile(in + "/A001/A001_0001.dng").size(), before.size());
  std::map<std::string, uint32_t> list = parseList(readAll(in + "/A001/checksum.tz"));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list.count("notes.txt"), 0u);
}

// Without --log the error log goes to the user data folder, created when missing.
TEST_F(CliJobs, DefaultErrorLogInUserDataFolder) {
  ASSERT_EQ(compress({"--checksums", "--quiet"}).exitStatus, 0);
  std::string home = realPath(root.path()) + "/home";
  mkdirs(home);
  ProcessResult r = runProcess({"env", "HOME=" + home, cliPath(), "verify", out, "--quiet"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");  // --quiet and all well: nothing printed
  struct stat st;
  EXPECT_EQ(::stat((home + "/.Tamzel/TamzelError.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

// Ctrl-C while the job waits for the user's answer at the terminal: the job is aborted cleanly
// (the engine threads stop, the job thread ends, the summary says so) and the exit code is 2.
TEST_F(CliJobs, InterruptAbortsTheJobCleanly) {
  std::ofstream(out + "/A001") << "in the way";
  int input[2], errors[2];
  ASSERT_EQ(::pipe(input), 0);
  ASSERT_EQ(::pipe(errors), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  posix_spawn_file_actions_addopen(&actions, 1, (root.path() + "/stdout.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string cli = cliPath();
  std::vector<std::string> args = {cli,          "compress", in,      out, "--checksums",
                                   "--on-error", "ask",      "--log", log};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(errors[1]);

  // Wait (at most 30 s) until the question is on the terminal; stdin stays open, unanswered.
  std::string err;
  for (int waited = 0; !contains(err, "[A]bort Job? ") && waited < 300; ++waited) {
    struct pollfd p = {errors[0], POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      char buffer[4096];
      ssize_t n = ::read(errors[0], buffer, sizeof buffer);
      if (n <= 0) break;
      err.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ASSERT_TRUE(contains(err, "Error creating folder")) << err;
  EXPECT_TRUE(contains(err, "\n[R]etry, [S]kip Folder, [A]bort Job? ")) << err;
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(input[1]);
  ::close(errors[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(contains(readAll(root.path() + "/stdout.txt"), "\nJob was aborted!\n"));
}

}  // namespace
}  // namespace tamzel::testing
