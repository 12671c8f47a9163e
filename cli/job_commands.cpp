// The job commands of tamzel-cli: "compress" runs a processing job over a folder tree and
// "verify" checks a tree against its checksum lists. Both drive the same engine as the desktop
// window: a JobState reset for the job, the job thread, and this (main) thread playing the
// window's part: it answers the engine's error prompts, shows progress and prints the same
// summary texts at the end.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "engine/engine.h"
#include "engine/job_state.h"
#include "engine/summary.h"
#include "platform/platform.h"

namespace tamzel::cli {

namespace {

constexpr int kExitProblems = 1;    // the verification found problems
constexpr int kExitIncomplete = 2;  // aborted, or files skipped after errors

enum class OnError { Ask, RetryThenSkip, Skip, Abort };

struct JobOptions {
  JobSettings settings;
  bool inPlace = false;
  bool quiet = false;
  OnError onError = OnError::Abort;
  std::string logPath;  // empty: the user data folder's TamzelError.log
  std::vector<std::string> positionals;
  bool helpAsked = false;
};

// Options common to both commands; `flags` are the plain switches the command accepts.
bool parseJobArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                  std::size_t positionalCount, JobOptions& options, std::vector<std::string>& given,
                  std::string& error) {
  options.onError = isatty(STDIN_FILENO) ? OnError::Ask : OnError::Abort;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      options.positionals.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
    } else if (a == "-h" || a == "--help") {
      options.helpAsked = true;
      return true;
    } else if (a == "--quiet" || a == "-q") {
      options.quiet = true;
    } else if (a.rfind("--on-error", 0) == 0) {
      std::string value;
      if (a == "--on-error") {
        if (i + 1 >= args.size()) {
          error = "--on-error needs a value: ask, retry-then-skip, skip or abort";
          return false;
        }
        value = args[++i];
      } else if (a[10] == '=') {
        value = a.substr(11);
      } else {
        error = "unknown option '" + a + "'";
        return false;
      }
      if (value == "ask") {
        options.onError = OnError::Ask;
      } else if (value == "retry-then-skip") {
        options.onError = OnError::RetryThenSkip;
      } else if (value == "skip") {
        options.onError = OnError::Skip;
      } else if (value == "abort") {
        options.onError = OnError::Abort;
      } else {
        error = "--on-error: unknown value '" + value + "' (ask, retry-then-skip, skip or abort)";
        return false;
      }
    } else if (a == "--log" || a.rfind("--log=", 0) == 0) {
      if (a == "--log") {
        if (i + 1 >= args.size()) {
          error = "--log needs a file name";
          return false;
        }
        options.logPath = args[++i];
      } else {
        options.logPath = a.substr(6);
      }
      if (options.logPath.empty()) {
        error = "--log needs a file name";
        return false;
      }
    } else {
      bool known = false;
      for (const std::string& f : flags) known = known || f == a;
      if (!known) {
        error = "unknown option '" + a + "'";
        return false;
      }
      given.push_back(a);
    }
  }
  if (options.positionals.size() < positionalCount) {
    error = "missing argument";
    return false;
  }
  if (options.positionals.size() > positionalCount) {
    error = "unexpected argument '" + options.positionals[positionalCount] + "'";
    return false;
  }
  return true;
}

bool has(const std::vector<std::string>& given, const char* flag) {
  for (const std::string& g : given) {
    if (g == flag) return true;
  }
  return false;
}

const Command* findCommand(const char* name) {
  for (const Command& c : commands()) {
    if (std::strcmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

int showHelp(const char* name) {
  if (const Command* c = findCommand(name)) printCommandHelp(*c);
  return kExitOk;
}

// A folder argument as the window's label would hold it: without trailing separators (the
// root stays "/").
std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

bool folderExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "Folder not found!" with the line for the folder's role (0 input, 1 output, 2 to verify).
int folderNotFound(const std::string& path, int kind) {
  static const char* const kLines[] = {"Cannot find the selected input folder:\n",
                                       "Cannot find the selected output folder:\n",
                                       "Cannot find the selected folder:\n"};
  std::fprintf(stderr,
               "Warning: Folder not found!\n\n%s%s\n\nPossible reasons: the folder might have been "
               "deleted; or if it was located on an external drive, the drive might have been "
               "disconnected.\n",
               kLines[kind], path.c_str());
  return kExitUsage;
}

// The window's same-folder test: device, inode, size and modification time all equal.
bool sameFolder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino && sa.st_size == sb.st_size &&
         sa.st_mtime == sb.st_mtime;
}

// The output folder lies below the input folder: the input path, then a separator, then more.
bool insideFolder(const std::string& input, const std::string& output) {
  if (output.size() <= input.size() || output.compare(0, input.size(), input) != 0) return false;
  char next = output[input.size()];
  return next == '/' || next == '\\' || input == "/";
}

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// The job folder text: the path with "/" appended, checked against the 1024-byte buffers.
bool jobFolder(const std::string& path, std::string& folder) {
  folder = path;
  if (folder.empty() || (folder.back() != '/' && folder.back() != '\\')) folder += '/';
  return folder.size() < kPathBufferSize;
}

// --------------------------------------------------------------------------------------------
// Ctrl-C: the first one asks the job to abort (the engine threads stop at their next
// checkpoint and the job thread still cleans up), a second one ends the process at once.

volatile sig_atomic_t InterruptCount = 0;

extern "C" void onInterrupt(int) {
  InterruptCount = InterruptCount + 1;
  if (InterruptCount >= 2) {
    static const char kBye[] = "\ntamzel-cli: interrupted\n";
    ssize_t ignored = ::write(STDERR_FILENO, kBye, sizeof kBye - 1);
    (void)ignored;
    ::_exit(130);
  }
}

// Reads one line of the user's reply from standard input. Ctrl-C may land on any of the job's
// threads, so a blocking read would not be interrupted by it: wait in short polls and look at
// the interrupt count between them. False on end of input or Ctrl-C.
bool readReplyLine(std::string& line) {
  static std::string pending;  // bytes read past the last newline
  for (;;) {
    const std::size_t newline = pending.find('\n');
    if (newline != std::string::npos) {
      line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      return true;
    }
    if (InterruptCount > 0) return false;
    struct pollfd p = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (n == 0) {  // end of input: a last line without its newline still counts
      if (pending.empty()) return false;
      line.swap(pending);
      pending.clear();
      return true;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

void installInterruptHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a pending terminal read returns, and the job aborts
  ::sigaction(SIGINT, &action, nullptr);
}

// --------------------------------------------------------------------------------------------
// The terminal: progress line, prompts, summary.

class Console {
 public:
  Console(const JobOptions& options, JobState& state)
      : options_(options),
        state_(state),
        progressIsLive_(isatty(STDERR_FILENO) != 0),
        colours_(isatty(STDOUT_FILENO) != 0),
        lastShown_(progressIsLive_ ? 0 : steadyNowNs()) {}

  void clearProgressLine() {
    if (lineShown_) {
      std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
      lineShown_ = false;
    }
  }

  // Called about ten times a second.
  void showProgress(bool force) {
    if (options_.quiet) return;
    int64_t now = steadyNowNs();
    int64_t interval = progressIsLive_ ? 200000000LL : 5000000000LL;
    if (!force && now - lastShown_ < interval) return;
    lastShown_ = now;
    std::string line = progressLine(now);
    if (progressIsLive_) {
      // One line only: a line wider than the terminal would wrap, and the next refresh could
      // no longer clear it.
      struct winsize size;
      if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
          line.size() >= size.ws_col) {
        line.resize(size.ws_col - 1u);
      }
      std::fprintf(stderr, "\r\033[K%s", line.c_str());
      lineShown_ = true;
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
  }

  PromptAnswer answer(const ErrorPrompt& prompt) {
    clearProgressLine();
    std::string message = promptMessage(prompt);
    const char* skip = promptSkipLabel(prompt.kind);
    std::fprintf(stderr, "\n%s\n%s\n", promptTitle(prompt.kind), message.c_str());
    PromptAnswer answer = PromptAnswer::Abort;
    switch (options_.onError) {
      case OnError::Ask:
        answer = askTerminal(skip);
        break;
      case OnError::Skip:
        answer = PromptAnswer::Skip;
        break;
      case OnError::Abort:
        answer = PromptAnswer::Abort;
        break;
      case OnError::RetryThenSkip: {
        std::string key =
            std::to_string(static_cast<int>(prompt.kind)) + ":" + (prompt.path ? prompt.path : "");
        int& retries = retries_[key];
        if (retries < kRetries) {
          ++retries;
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          answer = PromptAnswer::Retry;
        } else {
          answer = PromptAnswer::Skip;
        }
        break;
      }
    }
    if (options_.onError != OnError::Ask) {
      std::fprintf(stderr, "-> %s\n",
                   answer == PromptAnswer::Retry  ? "Retry"
                   : answer == PromptAnswer::Skip ? skip
                                                  : "Abort Job");
    }
    if (answer == PromptAnswer::Skip) skipped_ = true;
    std::fflush(stderr);
    return answer;
  }

  void printSummary(const StyledText& text) {
    clearProgressLine();
    for (const TextSegment& segment : text) {
      const char* on = segment.colour == TextColour::Red    ? "\033[31m"
                       : segment.colour == TextColour::Blue ? "\033[34m"
                                                            : nullptr;
      if (colours_ && on) std::fputs(on, stdout);
      std::fputs(segment.text.c_str(), stdout);
      if (colours_ && on) std::fputs("\033[0m", stdout);
    }
    std::fflush(stdout);
  }

  bool skippedAfterError() const { return skipped_; }

 private:
  static constexpr int kRetries = 2;

  PromptAnswer askTerminal(const char* skip) {
    for (;;) {
      // "[R]etry, [S]kip File, [A]bort Job? " with the dialog's button labels.
      std::fprintf(stderr, "[R]etry, [S]%s, [A]bort Job? ", skip + 1);
      std::fflush(stderr);
      std::string reply;
      if (!readReplyLine(reply)) {
        // End of input or Ctrl-C: give up the job.
        std::fputc('\n', stderr);
        return PromptAnswer::Abort;
      }
      switch (reply.empty() ? '\0' : reply[0]) {
        case 'r':
        case 'R':
          return PromptAnswer::Retry;
        case 's':
        case 'S':
          return PromptAnswer::Skip;
        case 'a':
        case 'A':
          return PromptAnswer::Abort;
        default:
          break;
      }
    }
  }

  std::string progressLine(int64_t now) {
    char buffer[256];
    double elapsed = elapsedSeconds(state_.StartTime.load(), now);
    std::string time = formatElapsed(elapsed);
    if (!state_.EnumerationDone.load()) {
      std::snprintf(buffer, sizeof buffer, "%s  Enumerating files: %u", time.c_str(),
                    state_.FilesTotal.load());
      return buffer;
    }
    bool verifying = state_.VerifyOnly || state_.hasSummary();
    uint32_t done = state_.FilesProcessed.load();
    uint32_t total = state_.FilesTotal.load();
    unsigned percent = total ? static_cast<unsigned>(100ULL * done / total) : 0;
    if (verifying) {
      std::snprintf(buffer, sizeof buffer,
                    "%s  Files verified: %u of %u (%u%%)  OK: %u  errors: %u  missing: %u",
                    time.c_str(), done, total, percent, state_.FilesOk.load(),
                    state_.ChecksumErrors.load(), state_.FilesMissing.load());
    } else {
      double seconds = elapsed > 0 ? elapsed : 1e-9;
      std::snprintf(buffer, sizeof buffer,
                    "%s  Files processed: %u of %u (%u%%)  %.1f frames/s  %.1f MB/s", time.c_str(),
                    done, total, percent, state_.DngCompressed.load() / seconds,
                    static_cast<double>(state_.BytesBefore.load()) / 1e6 / seconds);
    }
    return buffer;
  }

  const JobOptions& options_;
  JobState& state_;
  bool progressIsLive_;
  bool colours_;
  bool lineShown_ = false;
  bool skipped_ = false;
  int64_t lastShown_;
  std::map<std::string, int> retries_;
};

std::string errorLogPath(const JobOptions& options) {
  if (!options.logPath.empty()) return options.logPath;
  std::string dir = platform::userDataDir("Tamzel");
  // Create the folder (and its parents) when missing.
  for (std::size_t at = 1; at < dir.size(); ++at) {
    if (dir[at] == '/') ::mkdir(dir.substr(0, at).c_str(), 0777);
  }
  return dir + "TamzelError.log";
}

// Runs one job to its end on a job thread and returns the exit code.
int runJobToEnd(const std::string& source, const std::string* destination,
                const JobOptions& options) {
  std::string logPath = errorLogPath(options);
  if (logPath.size() >= kPathBufferSize) return usageError("--log: the path is too long");

  JobState state;
  PromptQueue* queue = nullptr;
  IssueLog* issues = nullptr;
  resetJobState(state, options.settings, destination == nullptr, queue, issues, logPath.c_str(),
                [&state] { performPhaseEnd(state); });
  state.InPlace = options.inPlace ? 1 : 0;
  TheJobState = &state;

  Console console(options, state);
  installInterruptHandler();
  state.StartTime.store(steadyNowNs());
  std::thread job =
      startJobThread(source.c_str(), destination ? destination->c_str() : nullptr, state);
  bool abortAnnounced = false;
  while (!state.Finished.load()) {
    if (InterruptCount > 0 && !abortAnnounced) {
      abortAnnounced = true;
      state.Abort.exchange(true);
      state.Pause.exchange(false);
      console.clearProgressLine();
      std::fputs("\nAborting the job... (press Ctrl-C again to quit at once)\n", stderr);
    }
    answerPrompts(state, [&console](const ErrorPrompt& p) { return console.answer(p); });
    console.showProgress(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (job.joinable()) job.join();
  console.clearProgressLine();

  StyledText summary = buildFinalSummary(state, logPath.c_str());
  bool aborted = state.Abort.load();
  bool problems = state.ChecksumErrors.load() || state.FilesMissing.load() ||
                  state.CorruptedLists.load() || (state.Issues && state.Issues->count);
  int code = aborted || console.skippedAfterError() ? kExitIncomplete
             : problems                             ? kExitProblems
                                                    : kExitOk;
  if (!options.quiet || code != kExitOk) console.printSummary(summary);
  if (state.hasFatalError()) std::fprintf(stderr, "tamzel-cli: %s\n", state.fatalError().c_str());
  if (state.Issues && state.Issues->count && !options.quiet) {
    std::printf("Error log: %s\n", logPath.c_str());
  }
  TheJobState = nullptr;
  delete queue;
  delete issues;
  return code;
}

}  // namespace

int runCompress(const std::vector<std::string>& args) {
  JobOptions options;
  std::vector<std::string> given;
  std::string error;
  if (!parseJobArgs(args,
                    {"--no-recurse", "--no-copy", "--overwrite", "--premiere", "--checksums",
                     "--verify", "--in-place"},
                    2, options, given, error)) {
    return usageError(error);
  }
  if (options.helpAsked) return showHelp("compress");
  JobSettings& s = options.settings;
  s.Recurse = has(given, "--no-recurse") ? 0 : 1;
  s.CopyAll = has(given, "--no-copy") ? 0 : 1;
  s.SkipExisting = has(given, "--overwrite") ? 0 : 1;
  s.PremiereCCCompat = has(given, "--premiere") ? 1 : 0;
  s.GenerateChecks = has(given, "--checksums") ? 1 : 0;
  s.VerificationPass = has(given, "--verify") ? 1 : 0;
  if (s.VerificationPass && !s.GenerateChecks) {
    return usageError("--verify needs --checksums (the verification pass checks the new lists)");
  }

  std::string input = withoutTrailingSeparator(options.positionals[0]);
  std::string output = withoutTrailingSeparator(options.positionals[1]);
  if (!folderExists(input)) return folderNotFound(input, 0);
  if (!folderExists(output)) return folderNotFound(output, 1);
  std::string inputReal = canonical(input), outputReal = canonical(output);
  if (sameFolder(inputReal, outputReal)) {
    if (s.SkipExisting) {
      std::fputs(
          "Warning: Input and output folders seem to be identical!\n\nYour existing files "
          "policy is set to Skip. Set it to Overwrite if you want to overwrite the original "
          "files with the compressed files.\n",
          stderr);
      return kExitUsage;
    }
    if (!has(given, "--in-place")) {
      std::fputs(
          "Warning: Input and output folders seem to be identical!\n\nProceeding will "
          "overwrite the original files with the compressed files.\n\nContinue?\n"
          "(Give --in-place to confirm.)\n",
          stderr);
      return kExitUsage;
    }
    options.inPlace = true;
  } else {
    if (has(given, "--in-place")) {
      return usageError("--in-place: the input and output folders are not the same folder");
    }
    if (insideFolder(inputReal, outputReal)) {
      std::fputs(
          "Warning: The output folder is a subfolder of the input folder!\n\nCurrently this "
          "leads to infinite program execution. Please select another location to save files.\n",
          stderr);
      return kExitUsage;
    }
  }
  std::string source, destination;
  if (!jobFolder(inputReal, source) || !jobFolder(outputReal, destination)) {
    return usageError("folder path too long");
  }
  return runJobToEnd(source, &destination, options);
}

int runVerify(const std::vector<std::string>& args) {
  JobOptions options;
  std::vector<std::string> given;
  std::string error;
  if (!parseJobArgs(args, {"--no-recurse"}, 1, options, given, error)) return usageError(error);
  if (options.helpAsked) return showHelp("verify");
  options.settings.Recurse = has(given, "--no-recurse") ? 0 : 1;
  std::string folder = withoutTrailingSeparator(options.positionals[0]);
  if (!folderExists(folder)) return folderNotFound(folder, 2);
  std::string source;
  if (!jobFolder(canonical(folder), source)) return usageError("folder path too long");
  return runJobToEnd(source, nullptr, options);
}

}  // namespace tamzel::cli
