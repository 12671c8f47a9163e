// Texts of a job for the front ends: progress, processing summary, final summary and the
// error prompt dialogs.

#include "engine/summary.h"

#include <cstdio>
#include <cstring>

namespace tamzel {

namespace {

std::string fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string num(uint64_t value) {
  return std::to_string(value);
}

void add(StyledText& out, std::string text, TextColour colour = TextColour::Default) {
  if (text.empty()) return;
  if (!out.empty() && out.back().colour == colour) {
    out.back().text += text;
  } else {
    out.push_back({std::move(text), colour});
  }
}

}  // namespace

std::string plainText(const StyledText& text) {
  std::string out;
  for (const TextSegment& segment : text) out += segment.text;
  return out;
}

std::string formatElapsed(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  auto whole = static_cast<uint32_t>(seconds);
  uint32_t hours = whole / 3600;
  uint32_t minutes = (whole / 60) % 60;
  double rest = seconds - 3600.0 * hours - 60.0 * minutes;
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%02dh : %02dm : %0.2fs", static_cast<int>(hours),
                static_cast<int>(minutes), rest);
  return buffer;
}

double elapsedSeconds(int64_t fromNs, int64_t toNs) {
  return static_cast<double>(toNs - fromNs) * 1e-9;
}

std::string buildProcessingSummary(const JobState& state) {
  double elapsed = elapsedSeconds(state.StartTime.load(), state.EndTime);
  std::string t = "Processing finished in " + formatElapsed(elapsed) + "\n";
  uint32_t filesProcessed = state.FilesProcessed.load();
  uint32_t dispatched = state.DngDispatched.load();
  uint32_t compressed = state.DngCompressed.load();
  t += "Folders processed: " + num(state.FoldersProcessed.load()) +
       "\nFiles processed: " + num(filesProcessed) + "\n";
  if (uint32_t skipped = state.FilesSkipped.load()) t += "Files skipped: " + num(skipped) + "\n";
  if (dispatched != compressed && !state.Abort.load() && dispatched > compressed) {
    t += "DNG files copied without compressing: " + num(dispatched - compressed) + "\n";
  }
  if (compressed != 0) {
    uint64_t before = state.BytesBefore.load();
    uint64_t after = state.BytesAfter.load();
    bool giga = before >= 1000000001ULL;
    double divisor = giga ? 1e9 : 1e6;
    const char* unit = giga ? " GB" : " MB";
    t += "DNG files compressed: " + num(compressed);
    t += "\n    Total size of DNG files before compression: " + fixed(before / divisor, 2) + unit;
    t += "\n    Total size of DNG files after compression: " + fixed(after / divisor, 2) + unit;
    double ratio = before ? static_cast<double>(after) / static_cast<double>(before) : 1.0;
    t += "\n    Files reduced to " + fixed(100.0 * ratio, 1) +
         "% of the original size, a compression ratio of " + fixed(1.0 / ratio, 2) + ":1\n";
    if (compressed == filesProcessed && compressed > 50 && !state.WasPaused &&
        state.ErrorPrompts.load() == 0 && elapsed > 0) {
      t += "    Processing speed: " + fixed(compressed / elapsed, 1) + " fps\n";
    }
  }
  return t;
}

void performPhaseEnd(JobState& state) {
  state.EndTime = steadyNowNs();
  state.setSummary(buildProcessingSummary(state));
  clearJobCounters(state);
  state.StartTime.store(steadyNowNs());
}

StyledText buildProgressText(const JobState& state, int64_t nowNs) {
  std::string p;
  std::string summary = state.summary();
  std::string elapsed =
      "Time elapsed: " + formatElapsed(elapsedSeconds(state.StartTime.load(), nowNs)) + "\n";
  if (!summary.empty()) {
    p = summary + "\nNow verifying output...\n" + elapsed;
  } else {
    p = elapsed;
  }
  uint32_t total = state.FilesTotal.load();
  if (!state.EnumerationDone.load()) {
    p += "Enumerating files: " + num(total);
  } else {
    bool verifying = state.VerifyOnly || !summary.empty();
    uint32_t processed = state.FilesProcessed.load();
    p += (verifying ? "Files verified: " : "Files processed: ") + num(processed) + " of " +
         num(total) + "\n";
    if (total != 0) {
      p += "Progress: " + num(100ULL * processed / total) + "%";
    }
    if (verifying) {
      p += "\nFolders processed: " + num(state.FoldersProcessed.load()) +
           "\nFiles OK: " + num(state.FilesOk.load()) +
           "\nChecksum errors encountered: " + num(state.ChecksumErrors.load());
      if (uint32_t missing = state.FilesMissing.load()) {
        p += "\nFiles missing: " + num(missing);
      }
    }
  }
  StyledText out;
  add(out, std::move(p));
  if (state.Pause.load()) {
    add(out, "\n\nProcessing is paused! Click Resume Job to continue.\n", TextColour::Blue);
  }
  return out;
}

std::string formatIssues(const IssueLog& log, const char* errorLogPath) {
  if (log.count == 0 || log.text == nullptr) return {};
  std::string out = "\nError log:";
  const char* text = log.text;
  std::size_t length = log.length;
  std::size_t end = 0;
  int newlines = 0;
  while (end < length) {
    if (text[end] == '\n' && ++newlines == 21) break;
    ++end;
  }
  out.append(text, end);
  if (end < length) {
    out += "\n\nOnly displaying the first 20 issues. Full error log saved in ";
    out += errorLogPath ? errorLogPath : "";
  }
  return out;
}

StyledText buildFinalSummary(JobState& state, const char* errorLogPath) {
  bool passRan = state.hasSummary();
  if (!state.VerifyOnly && !passRan) state.setSummary(buildProcessingSummary(state));
  std::string s = state.summary();
  StyledText out;
  if (state.VerifyOnly || passRan) {
    std::string line = "Checksum verification finished in " +
                       formatElapsed(elapsedSeconds(state.StartTime.load(), state.EndTime)) + "\n";
    s = passRan ? s + "\n" + line : line;
    s += "Folders with checksum lists verified: " + num(state.FoldersProcessed.load());
    if (uint32_t without = state.FoldersWithoutLists.load()) {
      s += "\nFolders without checksum lists: " + num(without);
    }
    s += "\nChecksum entries processed: " + num(state.FilesProcessed.load()) + "\n";
    if (uint32_t skipped = state.FilesSkipped.load()) {
      s += "Files skipped by user: " + num(skipped) + "\n";
    }
    add(out, s);
    add(out, "Files OK: " + num(state.FilesOk.load()));
    // The colour, once switched to red, stays red until the end of the error lines.
    TextColour colour = TextColour::Default;
    if (uint32_t errors = state.ChecksumErrors.load()) {
      colour = TextColour::Red;
      add(out, "\nChecksum errors encountered: " + num(errors) + "\n", colour);
    } else {
      add(out, "\nNo checksum errors encountered.\n", colour);
    }
    if (uint32_t missing = state.FilesMissing.load()) {
      colour = TextColour::Red;
      add(out, "Files missing: " + num(missing) + "\n", colour);
    }
    if (uint32_t corrupted = state.CorruptedLists.load()) {
      colour = TextColour::Red;
      add(out, "Corrupted checksum lists: " + num(corrupted) + "\n", colour);
    }
    s = state.Issues ? formatIssues(*state.Issues, errorLogPath) : std::string();
  }
  add(out, s);
  if (state.Abort.load()) {
    add(out, "\nJob was aborted!\n", TextColour::Red);
  } else {
    add(out, "\nDone!\n", TextColour::Blue);
  }
  return out;
}

const char* promptTitle(PromptKind kind) {
  switch (kind) {
    case PromptKind::OpenRead:
      return "Error opening file for reading";
    case PromptKind::OpenWrite:
      return "Error opening file for writing";
    case PromptKind::Write:
      return "Error writing file";
    case PromptKind::CreateFolder:
      return "Error creating folder";
    case PromptKind::QueryFile:
      return "Error querying file";
  }
  return "Error";
}

const char* promptSkipLabel(PromptKind kind) {
  return kind == PromptKind::CreateFolder ? "Skip Folder" : "Skip File";
}

std::string promptMessage(PromptKind kind, const char* path, const char* systemText,
                          int32_t errorCode) {
  std::string system;
  if (systemText && *systemText) system = std::string("\n\nThe system reported: ") + systemText;
  std::string where = path ? path : "";
  switch (kind) {
    case PromptKind::OpenRead:
      return "Cannot open file for reading:\n" + where + system;
    case PromptKind::OpenWrite:
      return "Cannot open file for writing:\n" + where + system +
             "\n\nThe file may be opened in another application or you may not have "
             "permissions to write this file.";
    case PromptKind::Write:
      return "Error while attempting to write file:\n" + where + system +
             (errorCode == 28 || errorCode == 12
                  ? "\n\nYou can free some drive space and Retry."
                  : "\n\nYou can attempt to resolve the problem and Retry.");
    case PromptKind::CreateFolder:
      return "Cannot create folder:\n" + where + system +
             "\n\nYou may try to resolve the problem and click Retry or you can Skip this "
             "folder. Skipping will also skip any subfolders of this folder.";
    case PromptKind::QueryFile:
      return "Cannot get file info:\n" + where + system;
  }
  return where + system;
}

}  // namespace tamzel
