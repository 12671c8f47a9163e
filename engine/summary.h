// The texts a front end shows for a job: the live progress text, the processing summary, the
// final summary, and the title and message of an error prompt. Plain functions of JobState and
// the standard library only, so the desktop window and the command line print the very same
// texts. Coloured pieces are returned as segments; a front end applies the colours its own way
// (or ignores them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/job_state.h"

namespace tamzel {

enum class TextColour : uint8_t {
  Default,  // the control's current default style
  Red,      // RGB (255, 0, 0): error counts, "Job was aborted!"
  Blue,     // RGB (0, 0, 255): "Done!", the paused notice
};

struct TextSegment {
  std::string text;
  TextColour colour = TextColour::Default;
};

using StyledText = std::vector<TextSegment>;

// All segments joined, colours dropped.
std::string plainText(const StyledText& text);

// "%02dh : %02dm : %0.2fs" for an elapsed time in seconds (no line end).
std::string formatElapsed(double seconds);

// Seconds between two steady-clock readings in nanoseconds.
double elapsedSeconds(int64_t fromNs, int64_t toNs);

// The processing summary ("Processing finished in ..." up to the optional speed line), built
// from the counters, StartTime, EndTime, Abort and WasPaused. Makes no toolkit call.
std::string buildProcessingSummary(const JobState& state);

// The phase-end steps a front end installs as OnPhaseEnd: EndTime := now; the processing
// summary is built and stored (setSummary); the thirteen counters from FoldersProcessed to
// CorruptedLists := 0; StartTime := now. Runs on the job thread.
void performPhaseEnd(JobState& state);

// The progress text of a running job at steady-clock time `nowNs`: the processing summary and
// "Now verifying output..." during a verification pass, the elapsed time, the counting or the
// files/progress lines; when Pause is set, the blue paused notice at the end.
StyledText buildProgressText(const JobState& state, int64_t nowNs);

// The text shown at the end of a job, after the job thread has been joined. Builds the
// processing summary first when the job processed without a verification pass (hence the
// non-const state). `errorLogPath` is named when more than 20 issues were logged.
StyledText buildFinalSummary(JobState& state, const char* errorLogPath);

// "\nError log:" and the first 20 issues (plus the note naming the error log file when there
// are more); empty when the log holds no issue.
std::string formatIssues(const IssueLog& log, const char* errorLogPath);

// Dialog texts of an error prompt.
const char* promptTitle(PromptKind kind);
const char* promptSkipLabel(PromptKind kind);  // "Skip Folder" or "Skip File"
std::string promptMessage(PromptKind kind, const char* path, const char* systemText,
                          int32_t errorCode);
inline std::string promptMessage(const ErrorPrompt& prompt) {
  return promptMessage(prompt.kind, prompt.path, prompt.message, prompt.errorCode);
}

}  // namespace tamzel
