// Feeds arbitrary bytes as a folder's "checksum.tz" to the verification. The folder holds two
// regular files, a FIFO and a subfolder, so listed names may hit each kind; whatever the list
// says, the verification must end (no hang on the FIFO), stay inside its buffers, and account
// for every entry it parsed exactly once.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/job_state.h"
#include "integrity/verify.h"

namespace {

std::string Folder;

void removeFolder() {
  for (const char* name : {"a", "b.dng", "pipe", "checksum.tz"}) {
    ::unlink((Folder + name).c_str());
  }
  ::rmdir((Folder + "sub").c_str());
  ::rmdir(Folder.c_str());
}

std::string makeFolder() {
  char pattern[] = "/tmp/tamzel-listfuzz.XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) std::abort();
  std::string folder = std::string(made) + "/";
  for (const char* name : {"a", "b.dng"}) {
    std::FILE* f = std::fopen((folder + name).c_str(), "wb");
    if (!f) std::abort();
    std::fputs("abc", f);
    std::fclose(f);
  }
  ::mkfifo((folder + "pipe").c_str(), 0666);
  ::mkdir((folder + "sub").c_str(), 0777);
  Folder = folder;
  std::atexit(removeFolder);
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tamzel;
  static const std::string folder = makeFolder();
  static JobState state;
  static IssueLog issues;
  std::FILE* list = std::fopen((folder + "checksum.tz").c_str(), "wb");
  if (!list) std::abort();
  if (size && std::fwrite(data, 1, size, list) != size) std::abort();
  std::fclose(list);

  // No prompt queue: every prompt is answered Abort at once.
  state.PromptQueue = nullptr;
  state.Issues = &issues;
  state.Recurse = 0;
  state.Abort.store(false);
  for (auto* c :
       {&state.FoldersProcessed, &state.FoldersWithoutLists, &state.FilesProcessed, &state.FilesOk,
        &state.ChecksumErrors, &state.FilesMissing, &state.FilesSkipped, &state.CorruptedLists}) {
    c->store(0);
  }
  resetIssueLog(issues);
  TheJobState = &state;

  bool finished = verifyFolder(folder.c_str(), nullptr, false);
  uint32_t accounted = state.FilesOk.load() + state.ChecksumErrors.load() +
                       state.FilesMissing.load() + state.FilesSkipped.load();
  uint32_t processed = state.FilesProcessed.load();
  // An entry stopped by an Abort answer is parsed but not accounted for.
  bool stoppedInEntry = !finished && processed == accounted + 1;
  if (accounted != processed && !stoppedInEntry) std::abort();
  if (state.CorruptedLists.load() > 1 || state.FoldersProcessed.load() != 1) std::abort();
  return 0;
}
