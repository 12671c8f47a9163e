// The folder walk of a processing job (mirror the tree, copy what is not recompressed, load DNG
// files into pool records for the workers) and the counting pass that precedes every job.
#include <dirent.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/pipeline.h"
#include "integrity/crc32c.h"
#include "platform/platform.h"

namespace tamzel {

bool isDngName(const char* name) {
  std::size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* tail = name + length - 4;
  return tail[0] == '.' && (tail[1] == 'd' || tail[1] == 'D') &&
         (tail[2] == 'n' || tail[2] == 'N') && (tail[3] == 'g' || tail[3] == 'G');
}

namespace {

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool isDsStore(const char* name) {
  return strcasecmp(name, ".DS_Store") == 0;
}
bool isChecksumListName(const char* name) {
  return strcasecmp(name, kChecksumListName) == 0;
}

struct DirectoryEntry {
  std::string name;
  unsigned char type = DT_UNKNOWN;
};

// Reads the names of a folder before any of them is handled, so that files the job itself
// creates or replaces in that folder (in-place temporaries and renames) can never show up as
// entries of the walk. False when the folder cannot be opened.
bool listFolder(const char* folder, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  DIR* directory = opendir(folder);
  if (directory == nullptr) return false;
  while (dirent* entry = readdir(directory)) entries.push_back({entry->d_name, entry->d_type});
  closedir(directory);
  return true;
}

// A folder entry is one of type directory, or of unknown type that lstat calls a directory;
// links are never followed into folders.
bool isFolderEntry(const char* path, unsigned char type, bool pathFits) {
  if (type == DT_DIR) return true;
  if (type != DT_UNKNOWN || !pathFits) return false;
  return platform::classifyEntry(path, type) == platform::EntryKind::Folder;
}

// Kind of a non-folder entry; a path that does not fit is reported by the walker as a file.
platform::EntryKind fileKind(const char* path, unsigned char type, bool pathFits) {
  if (!pathFits) return platform::EntryKind::File;
  return platform::classifyEntry(path, type);
}

std::string joined(const char* a, const char* b, const char* c = "") {
  std::string text(a);
  text += b;
  text += c;
  return text;
}

enum class Step : uint8_t { Next, Stop };

// Asks about a path that does not fit the path buffers, for as long as the user says Retry.
Step askTooLong(const std::string& shown, PromptKind kind, bool countSkip, JobState& state) {
  for (;;) {
    PromptAnswer answer = askUser(shown.c_str(), kind, ENAMETOOLONG);
    if (answer == PromptAnswer::Retry) continue;
    if (answer == PromptAnswer::Abort) return Step::Stop;
    if (countSkip) state.FilesSkipped.fetch_add(1);
    return Step::Next;
  }
}

struct FolderContext {
  Pipeline& pipeline;
  JobState& state;
  const char* source;
  const char* destination;
  ChecksumList* list;
};

// Copies `input` to `output` through the 1 MiB copy buffer; lists the file when it is complete.
Step copyFile(FolderContext& folder, const char* input, const char* output, const char* name) {
  Pipeline& pipeline = folder.pipeline;
  if (pipeline.copyBuffer == nullptr) {
    pipeline.copyBuffer = static_cast<uint8_t*>(platform::allocPageAligned(kCopyBufferSize));
    if (pipeline.copyBuffer == nullptr) {
      failJob(folder.state, "Not enough memory for the 1 MB copy buffer; the job was stopped.");
      return Step::Stop;
    }
  }
  for (;;) {  // one attempt per turn; Retry starts the whole file again
    std::FILE* in = platform::openInputFile(input);
    if (in == nullptr) {
      if (errno == EINVAL) return Step::Next;  // no longer a regular file: left alone
      PromptAnswer answer = askUser(input, PromptKind::OpenRead);
      if (answer == PromptAnswer::Retry) continue;
      return answer == PromptAnswer::Abort ? Step::Stop : Step::Next;
    }
    std::FILE* out = nullptr;
    while ((out = platform::openOutputFile(output)) == nullptr) {
      PromptAnswer answer = askUser(output, PromptKind::OpenWrite);
      if (answer == PromptAnswer::Retry) continue;
      std::fclose(in);
      return answer == PromptAnswer::Abort ? Step::Stop : Step::Next;
    }
    uint32_t crc = 0;
    int readError = 0;
    int writeError = 0;
    for (;;) {
      errno = 0;
      std::size_t got = std::fread(pipeline.copyBuffer, 1, kCopyBufferSize, in);
      if (got == 0) {
        if (std::ferror(in)) readError = errno != 0 ? errno : EIO;
        break;
      }
      errno = 0;
      if (std::fwrite(pipeline.copyBuffer, 1, got, out) != got) {
        writeError = errno != 0 ? errno : EIO;
        break;
      }
      if (folder.list != nullptr) crc = Crc32c(crc, pipeline.copyBuffer, got);
    }
    if (readError == 0 && writeError == 0) {
      if (!platform::finishOutputFile(out)) writeError = errno != 0 ? errno : EIO;
    } else {
      std::fclose(out);
    }
    std::fclose(in);
    if (readError != 0) {
      // The output is shorter than the input: not a copy. Retry reads the file again.
      PromptAnswer answer = askUser(input, PromptKind::OpenRead, readError);
      if (answer == PromptAnswer::Retry) continue;
      return answer == PromptAnswer::Abort ? Step::Stop : Step::Next;
    }
    if (writeError != 0) {
      PromptAnswer answer = askUser(output, PromptKind::Write, writeError);
      if (answer == PromptAnswer::Retry) continue;
      return answer == PromptAnswer::Abort ? Step::Stop : Step::Next;
    }
    if (folder.list != nullptr) {
      announceEntry(folder.list);
      appendEntry(folder.list, name, crc);
    }
    return Step::Next;
  }
}

// Reads a DNG file of at most 200,000,000 bytes whole into a pool record and queues it. The
// file's size has been read already (`size`); a retry reads it again.
enum class LoadResult : uint8_t { Queued, Skipped, Copy, Stop };

LoadResult loadDng(FolderContext& folder, const char* input, const char* output) {
  Pipeline& pipeline = folder.pipeline;
  JobState& state = folder.state;
  bool dispatched = false;
  for (;;) {  // Retry after a short read starts the file again from its size
    uint64_t size = 0;
    bool regular = true;
    while (!platform::queryFile(input, size, regular)) {
      PromptAnswer answer = askUser(input, PromptKind::QueryFile);
      if (answer == PromptAnswer::Retry) continue;
      if (answer == PromptAnswer::Abort) return LoadResult::Stop;
      state.FilesSkipped.fetch_add(1);
      return LoadResult::Skipped;
    }
    if (!regular) return LoadResult::Skipped;  // became a FIFO/device/folder link: left alone
    if (!dispatched) {
      state.DngDispatched.fetch_add(1);
      dispatched = true;
    }
    if (size > kMaxQueuedDngSize) return LoadResult::Copy;

    std::FILE* file = nullptr;
    while ((file = platform::openInputFile(input)) == nullptr) {
      if (errno == EINVAL) return LoadResult::Skipped;
      PromptAnswer answer = askUser(input, PromptKind::OpenRead);
      if (answer == PromptAnswer::Retry) continue;
      if (answer == PromptAnswer::Abort) return LoadResult::Stop;
      state.FilesSkipped.fetch_add(1);
      return LoadResult::Skipped;
    }
    SPoolMem* record = pipeline.pool->take();
    if (record == nullptr) {
      std::fclose(file);
      failJob(state, "Internal error: the buffer pool ran empty.");
      return LoadResult::Stop;
    }
    if (!reserveRecord(record, size)) {
      std::fclose(file);
      giveBack(pipeline, record);
      failJob(state, "Not enough memory for a file buffer; the job was stopped.");
      return LoadResult::Stop;
    }
    errno = 0;
    std::size_t got = std::fread(record->data, 1, static_cast<std::size_t>(size), file);
    int readError = std::ferror(file) && errno != 0 ? errno : EIO;
    std::fclose(file);
    if (got != size) {
      // A frame that is not whole must not go on as if it were.
      giveBack(pipeline, record);
      PromptAnswer answer = askUser(input, PromptKind::OpenRead, readError);
      if (answer == PromptAnswer::Retry) continue;
      if (answer == PromptAnswer::Abort) return LoadResult::Stop;
      state.FilesSkipped.fetch_add(1);
      return LoadResult::Skipped;
    }

    const std::size_t pathAt = got + (got & 1);
    const std::size_t pathBytes = std::strlen(output) + 1;
    std::memcpy(record->data + pathAt, output, pathBytes);
    PipelineItem item;
    item.outputPath = reinterpret_cast<const char*>(record->data + pathAt);
    item.name = item.outputPath + std::strlen(folder.destination);
    item.list = folder.list;
    item.buffer = record;
    item.size = static_cast<uint32_t>(got);
    item.sequence = pipeline.nextSequence++;
    if (folder.list != nullptr) announceEntry(folder.list);  // before a worker can see it
    if (!workQueuePush(pipeline, item)) {
      giveBack(pipeline, record);
      pipeline.recordsDropped.fetch_add(1);
      return LoadResult::Stop;
    }
    return LoadResult::Queued;
  }
}

Step handleFile(FolderContext& folder, const DirectoryEntry& entry, const char* input,
                bool inputFits) {
  JobState& state = folder.state;
  const char* name = entry.name.c_str();
  const bool dng = isDngName(name);
  if (!dng && !state.CopyAll) return Step::Next;
  if (isDsStore(name)) return Step::Next;
  if (state.GenerateChecks && isChecksumListName(name)) return Step::Next;
  if (fileKind(input, entry.type, inputFits) == platform::EntryKind::Special) return Step::Next;

  char output[kPathBufferSize];
  const bool outputFits = platform::joinPath(output, sizeof output, folder.destination, name);
  if (outputFits && state.SkipExisting && !state.InPlace && platform::pathExists(output)) {
    state.FilesSkipped.fetch_add(1);
    return Step::Next;
  }
  state.FilesProcessed.fetch_add(1);
  if (!inputFits)
    return askTooLong(joined(folder.source, name),
                      dng ? PromptKind::QueryFile : PromptKind::OpenRead, dng, state);
  if (!outputFits)
    return askTooLong(joined(folder.destination, name), PromptKind::OpenWrite, false, state);

  if (dng) {
    switch (loadDng(folder, input, output)) {
      case LoadResult::Queued:
      case LoadResult::Skipped:
        return Step::Next;
      case LoadResult::Stop:
        return Step::Stop;
      case LoadResult::Copy:
        break;
    }
  }
  if (state.InPlace) return Step::Next;  // copies are never made onto the input itself
  return copyFile(folder, input, output, name);
}

Step handleSubfolder(FolderContext& folder, const char* name, bool& stop) {
  JobState& state = folder.state;
  stop = false;
  if (!state.Recurse || isDotOrDotDot(name)) return Step::Next;
  char destination[kPathBufferSize];
  char source[kPathBufferSize];
  if (!platform::joinPath(destination, sizeof destination, folder.destination, name, "/") ||
      !platform::joinPath(source, sizeof source, folder.source, name, "/")) {
    Step step =
        askTooLong(joined(folder.destination, name, "/"), PromptKind::CreateFolder, false, state);
    stop = step == Step::Stop;
    return step;
  }
  if (!state.InPlace) {
    std::size_t length = std::strlen(destination);
    destination[length - 1] = '\0';  // created without the trailing "/"
    while (!platform::makeFolder(destination)) {
      PromptAnswer answer = askUser(destination, PromptKind::CreateFolder);
      if (answer == PromptAnswer::Retry) continue;
      if (answer == PromptAnswer::Abort) {
        stop = true;
        return Step::Stop;
      }
      return Step::Next;  // Skip Folder: the subtree is left out
    }
    destination[length - 1] = '/';
  }
  if (!walkFolder(folder.pipeline, source, destination, false, nullptr)) {
    stop = true;
    return Step::Stop;
  }
  return Step::Next;
}

}  // namespace

bool walkFolder(Pipeline& pipeline, const char* source, const char* destination, bool topLevel,
                bool* topHasEntries) {
  JobState& state = *pipeline.state;
  state.FoldersProcessed.fetch_add(1);
  std::vector<DirectoryEntry> entries;
  if (!listFolder(source, entries) || entries.empty()) return true;

  FolderContext folder{pipeline, state, source, destination, nullptr};
  if (state.GenerateChecks) folder.list = createChecksumList(destination);

  char input[kPathBufferSize];
  for (const DirectoryEntry& entry : entries) {
    waitWhilePaused(state);
    if (state.Abort.load()) {
      wakeAllAfterAbort(pipeline.work->mutex, pipeline.work->notEmpty);
      return false;  // the unfinished list stays registered and is discarded at the job end
    }
    const char* name = entry.name.c_str();
    const bool inputFits = platform::joinPath(input, sizeof input, source, name);
    if (isFolderEntry(input, entry.type, inputFits)) {
      bool stop = false;
      handleSubfolder(folder, name, stop);
      if (stop) return false;
      continue;
    }
    if (handleFile(folder, entry, input, inputFits) == Step::Stop) {
      wakeAllAfterAbort(pipeline.work->mutex, pipeline.work->notEmpty);
      return false;
    }
  }

  if (folder.list != nullptr) {
    bool hadEntries = closeList(folder.list);
    if (topLevel && topHasEntries != nullptr) *topHasEntries = hadEntries;
  }
  return true;
}

bool countFolder(JobState& state, const char* folder) {
  char path[kPathBufferSize];
  bool lacksList = false;
  if (state.VerifyOnly) {
    lacksList = !platform::joinPath(path, sizeof path, folder, kChecksumListName) ||
                !platform::pathExists(path);
  }
  DIR* directory = opendir(folder);
  if (directory == nullptr) return true;
  while (dirent* entry = readdir(directory)) {
    waitWhilePaused(state);
    if (state.Abort.load()) {
      closedir(directory);
      return false;
    }
    const char* name = entry->d_name;
    const bool fits = platform::joinPath(path, sizeof path, folder, name);
    if (isFolderEntry(path, entry->d_type, fits)) {
      if (!state.Recurse || isDotOrDotDot(name)) continue;
      if (!platform::joinPath(path, sizeof path, folder, name, "/")) continue;
      if (!countFolder(state, path)) {
        closedir(directory);
        return false;
      }
      continue;
    }
    if (lacksList) continue;
    if (state.VerifyOnly) {
      state.FilesTotal.fetch_add(1);
      continue;
    }
    // A processing job counts exactly the entries the walker will take up.
    if (state.CopyAll) {
      if (isDsStore(name) || (state.GenerateChecks && isChecksumListName(name))) continue;
    } else if (!isDngName(name)) {
      continue;
    }
    if (fileKind(path, entry->d_type, fits) == platform::EntryKind::Special) continue;
    state.FilesTotal.fetch_add(1);
  }
  if (state.VerifyOnly && !lacksList && state.FilesTotal.load() > 0) state.FilesTotal.fetch_sub(1);
  closedir(directory);
  return true;
}

}  // namespace tamzel
