// Verification of a folder tree against its checksum lists.

#include "integrity/verify.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/job_state.h"
#include "integrity/checksum_list.h"
#include "integrity/crc32c.h"
#include "platform/platform.h"

namespace tamzel {

namespace {

constexpr std::size_t kMinListBuffer = 2000000;
constexpr uint64_t kMaxListSize = 300000000;
constexpr std::size_t kReadBufferSize = 1048576;
constexpr std::size_t kMinListBytes = 12;

// Working storage of the job thread, kept from one folder to the next.
char* ListBuffer = nullptr;
std::size_t ListBufferSize = 0;
unsigned char* ReadBuffer = nullptr;

void logIssue(const std::string& message) {
  if (TheJobState && TheJobState->Issues) appendIssue(*TheJobState->Issues, message.c_str());
}

// Checkpoint at the top of every loop: waits while paused; false when the job is to stop.
bool checkpoint(JobState& state) {
  while (state.Pause.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return !state.Abort.load();
}

// out = a + b + c into a path buffer; false (out untouched) when it would not fit.
bool joinPath(char (&out)[kPathBufferSize], const char* a, const char* b, const char* c = "") {
  std::size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  if (la + lb + lc + 1 > kPathBufferSize) return false;
  std::memcpy(out, a, la);
  std::memcpy(out + la, b, lb);
  std::memcpy(out + la + lb, c, lc + 1);
  return true;
}

enum class Presence { Missing, Present, Unknown };

// Existence as the file system reports it; `info` is filled when the object exists.
Presence lookUp(const char* path, struct stat& info) {
  if (::stat(path, &info) == 0) return Presence::Present;
  if (errno == ENOENT || errno == ENOTDIR) return Presence::Missing;
  return Presence::Unknown;
}

bool exists(const char* path) {
  struct stat info;
  return lookUp(path, info) != Presence::Missing;
}

// Opens `path` for reading only if it is a regular file, without ever blocking on a FIFO or a
// device that took its place. Returns the descriptor, or -1 with errno set (EISDIR for a folder,
// ENXIO for any other special file).
int openRegularFile(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int code = errno;
    ::close(fd);
    errno = code;
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    int code = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    errno = code;
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// Reads up to `size` bytes; stops at the end of the file or at a read error, which clears
// `ok` and leaves errno set.
std::size_t readUpTo(int fd, void* buffer, std::size_t size, bool& ok) {
  std::size_t done = 0;
  ok = true;
  while (done < size) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// The checksum of a whole open file; false (errno set) when a read fails part way.
bool checksumFile(int fd, uint32_t& crc) {
  crc = 0;
  for (;;) {
    bool ok = true;
    const std::size_t n = readUpTo(fd, ReadBuffer, kReadBufferSize, ok);
    if (!ok) return false;
    if (n == 0) return true;
    crc = Crc32c(crc, ReadBuffer, n);
    if (n < kReadBufferSize) return true;
  }
}

bool ensureListBuffer(std::size_t needed) {
  if (ListBuffer && ListBufferSize >= needed) return true;
  std::size_t size = needed < kMinListBuffer ? kMinListBuffer : needed;
  char* fresh = static_cast<char*>(std::malloc(size));
  if (!fresh) return false;
  std::free(ListBuffer);
  ListBuffer = fresh;
  ListBufferSize = size;
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A name that would make the path leave the folder, or name the folder itself.
bool isUnsafeName(const char* name) {
  return name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
         std::strchr(name, '/') != nullptr;
}

enum class EntryResult { Next, Stop };

// Checks one listed file against its listed value.
EntryResult checkEntry(JobState& state, const char* folder, const char* name, uint32_t listed,
                       const char* listPath) {
  state.FilesProcessed.fetch_add(1);
  char filePath[kPathBufferSize];
  if (!joinPath(filePath, folder, name)) {
    state.FilesSkipped.fetch_add(1);
    logIssue(std::string("\nPath too long to check: ") + folder + name +
             " listed in checksum list " + listPath);
    return EntryResult::Next;
  }
  struct stat info;
  if (lookUp(filePath, info) == Presence::Missing) {
    state.FilesMissing.fetch_add(1);
    logIssue(std::string("\nMissing file: ") + filePath + " listed in checksum list " + listPath);
    return EntryResult::Next;
  }
  // A file that cannot be opened as a regular file, or whose reading fails part way, is put to
  // the user; Retry starts the file again.
  uint32_t crc = 0;
  for (;;) {
    int fd = openRegularFile(filePath);
    if (fd >= 0) {
      platform::noCacheOpen(fd);
      const bool read = checksumFile(fd, crc);
      const int code = errno;
      ::close(fd);
      if (read) break;
      errno = code;
    }
    PromptAnswer answer = askUser(filePath, PromptKind::OpenRead);
    if (answer == PromptAnswer::Skip) {
      logIssue(std::string("\nError reading file ") + filePath + " User skipped file.");
      state.FilesSkipped.fetch_add(1);
      return EntryResult::Next;
    }
    if (answer == PromptAnswer::Abort) {
      logIssue(std::string("\nError reading file ") + filePath + " Verification aborted by user.");
      return EntryResult::Stop;
    }
  }
  if (crc == listed) {
    state.FilesOk.fetch_add(1);
  } else {
    logIssue(std::string("\nChecksum error: ") + filePath);
    state.ChecksumErrors.fetch_add(1);
  }
  return EntryResult::Next;
}

enum class ListResult { Checked, NoList, Stop };

// Step A: the folder's own list.
ListResult checkList(JobState& state, const char* folder) {
  char listPath[kPathBufferSize];
  if (!joinPath(listPath, folder, kChecksumListName)) {
    logIssue(std::string("\nPath too long to check: ") + folder + kChecksumListName);
    return ListResult::Checked;
  }
  struct stat info;
  Presence presence = lookUp(listPath, info);
  if (presence == Presence::Missing) {
    state.FoldersWithoutLists.fetch_add(1);
    return ListResult::NoList;
  }
  state.FoldersProcessed.fetch_add(1);
  while (presence != Presence::Present) {
    PromptAnswer answer = askUser(listPath, PromptKind::QueryFile);
    if (answer == PromptAnswer::Abort) return ListResult::Stop;
    if (answer == PromptAnswer::Skip) return ListResult::Checked;
    presence = lookUp(listPath, info);
  }
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kMaxListSize) {
    return ListResult::Checked;
  }
  // A list that cannot be opened, or whose reading fails part way, is put to the user: a list
  // read only in part would leave its later entries unchecked without a word.
  std::size_t length = 0;
  for (;;) {
    int fd = openRegularFile(listPath);
    if (fd >= 0) {
      // The size asked again from the open file: the list may have changed since the query.
      if (::fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) > kMaxListSize) {
        ::close(fd);
        return ListResult::Checked;
      }
      const std::size_t size = static_cast<std::size_t>(info.st_size);
      if (!ensureListBuffer(size + 1)) {
        ::close(fd);
        logIssue(std::string("\nError opening checksum list ") + listPath + " Out of memory.");
        return ListResult::Checked;
      }
      bool read = true;
      length = readUpTo(fd, ListBuffer, size, read);
      const int code = errno;
      ::close(fd);
      if (read) break;
      errno = code;
    }
    PromptAnswer answer = askUser(listPath, PromptKind::OpenRead);
    if (answer == PromptAnswer::Skip) {
      logIssue(std::string("\nError opening checksum list ") + listPath + " User skipped folder.");
      return ListResult::Checked;
    }
    if (answer == PromptAnswer::Abort) {
      logIssue(std::string("\nError opening checksum list ") + listPath +
               " Verification aborted by user.");
      return ListResult::Stop;
    }
  }
  if (length < kMinListBytes) return ListResult::Checked;
  ListBuffer[length] = '\0';

  // The text is parsed in place; the end of the text is its NUL.
  char* p = ListBuffer;
  if (*p == '\xEF') ++p;
  if (*p == '\xBB') ++p;
  if (*p == '\xBF') ++p;
  while (*p != '\0') {
    if (!checkpoint(state)) return ListResult::Stop;
    uint32_t listed = 0;
    bool malformed = false;
    for (int i = 0; i < 8 && !malformed; ++i) {
      int digit = hexValue(p[i]);  // a NUL ends the loop here, never read past it
      if (digit < 0) malformed = true;
      listed = (listed << 4) | static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    char* name = nullptr;
    if (!malformed) {
      p += 8;
      while (*p == '\t') ++p;
      if (*p == '\n' || *p == '\0') malformed = true;
    }
    if (!malformed) {
      name = p;
      while (*p != '\0' && *p != '\r' && *p != '\n') ++p;
      if (*p != '\0') {
        *p++ = '\0';
        while (*p == '\r' || *p == '\n') ++p;
      }
      malformed = isUnsafeName(name);
    }
    if (malformed) {
      state.CorruptedLists.fetch_add(1);
      logIssue(std::string("\nCorruption detected in checksum list ") + listPath +
               " Skipping remaining entries.");
      return ListResult::Checked;
    }
    if (checkEntry(state, folder, name, listed, listPath) == EntryResult::Stop) {
      return ListResult::Stop;
    }
  }
  return ListResult::Checked;
}

bool isFolderEntry(const char* folder, const struct dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  char path[kPathBufferSize];
  if (!joinPath(path, folder, entry->d_name)) return false;
  struct stat info;
  return ::lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool verifyFolder(const char* folder, const char* mirrorFolder, bool skipList) {
  JobState& state = *TheJobState;
  if (std::strlen(folder) >= kPathBufferSize) {
    logIssue(std::string("\nPath too long to check: ") + folder);
    return true;
  }
  if (!ReadBuffer) {
    ReadBuffer = static_cast<unsigned char*>(platform::allocPageAligned(kReadBufferSize));
    if (!ReadBuffer) {
      logIssue(std::string("\nOut of memory, verification stopped at ") + folder);
      return false;
    }
  }

  // A. The folder's own list.
  bool hasList = true;
  if (!skipList) {
    ListResult result = checkList(state, folder);
    if (result == ListResult::Stop) return false;
    hasList = result != ListResult::NoList;
  }

  // B. Subfolders.
  if (!state.Recurse) return true;
  DIR* dir = ::opendir(folder);
  if (!dir) return true;
  bool holdsFiles = false;
  while (struct dirent* entry = ::readdir(dir)) {
    if (!checkpoint(state)) {
      ::closedir(dir);
      return false;
    }
    const char* name = entry->d_name;
    if (!isFolderEntry(folder, entry)) {
      holdsFiles = true;
      continue;
    }
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    char child[kPathBufferSize];
    if (!joinPath(child, folder, name, "/")) {
      logIssue(std::string("\nPath too long, folder not verified: ") + folder + name + "/");
      continue;
    }
    char childMirror[kPathBufferSize];
    if (mirrorFolder) {
      if (!joinPath(childMirror, mirrorFolder, name)) continue;  // cannot exist there
      if (!exists(childMirror)) continue;
      if (!joinPath(childMirror, mirrorFolder, name, "/")) continue;
    }
    if (!verifyFolder(child, mirrorFolder ? childMirror : nullptr, false)) {
      ::closedir(dir);
      return false;
    }
  }
  ::closedir(dir);
  if (!hasList && !holdsFiles) state.FoldersWithoutLists.fetch_sub(1);
  return true;
}

void releaseVerificationBuffers() {
  std::free(ListBuffer);
  ListBuffer = nullptr;
  ListBufferSize = 0;
  platform::freePageAligned(ReadBuffer);
  ReadBuffer = nullptr;
}

}  // namespace tamzel
