// Verification of a folder tree against the checksum lists in it. Runs on the job thread; the
// results are the counters of the job's JobState (TheJobState) and the messages appended to its
// IssueLog (TheJobState->Issues). Problems opening lists or files become Retry/Skip/Abort
// prompts through askUser.
#pragma once

namespace tamzel {

// Verifies `folder` (ending in "/"). With `mirrorFolder` (ending in "/", or nullptr) only the
// subfolders whose names also exist under the mirror folder are entered (verification pass of
// a processing job: the mirror is the input folder). With `skipList` the folder's own list is
// not looked at and the folder counts as having one. Subfolders are visited when
// TheJobState->Recurse is set. Returns false when the verification must stop (Abort set, or the
// user chose Abort Job in a prompt), true otherwise.
bool verifyFolder(const char* folder, const char* mirrorFolder, bool skipList);

// Releases the list buffer and the read buffer the verification keeps between folders. The job
// thread calls it after each verification.
void releaseVerificationBuffers();

}  // namespace tamzel
