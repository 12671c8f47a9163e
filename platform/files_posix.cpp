// File system helpers shared by the folder walk, the counting pass and the writer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace tamzel::platform {

namespace {

EntryKind kindFromLink(const char* path) {
  struct stat target;
  if (stat(path, &target) != 0) return EntryKind::Broken;
  return S_ISREG(target.st_mode) ? EntryKind::File : EntryKind::Special;
}

}  // namespace

EntryKind classifyEntry(const char* path, unsigned char direntType) {
  switch (direntType) {
    case DT_DIR:
      return EntryKind::Folder;
    case DT_REG:
      return EntryKind::File;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
      return EntryKind::Special;
    case DT_LNK:
      return kindFromLink(path);
    default:
      break;
  }
  struct stat own;
  if (lstat(path, &own) != 0) return EntryKind::Broken;
  if (S_ISDIR(own.st_mode)) return EntryKind::Folder;
  if (S_ISREG(own.st_mode)) return EntryKind::File;
  if (S_ISLNK(own.st_mode)) return kindFromLink(path);
  return EntryKind::Special;
}

bool pathExists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool queryFile(const char* path, uint64_t& size, bool& regular) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  regular = S_ISREG(st.st_mode);
  size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

std::FILE* openInputFile(const char* path) {
  // O_NONBLOCK so that a FIFO that took a file's place cannot hang the open; cleared again for
  // the regular file it must turn out to be.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0)
    error = errno;
  else if (!S_ISREG(st.st_mode))
    error = EINVAL;
  if (error != 0) {
    close(fd);
    errno = error;
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

std::FILE* openOutputFile(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  noCacheOpen(fd);
  return file;
}

bool finishOutputFile(std::FILE* file) {
  int error = 0;
  if (std::fflush(file) != 0) error = errno;
  if (error == 0 && std::ferror(file)) error = EIO;
  if (error == 0 && !noCacheDone(fileno(file))) error = errno;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error != 0) {
    errno = error;
    return false;
  }
  return true;
}

void copyPermissions(const char* from, std::FILE* to) {
  struct stat st;
  if (stat(from, &st) == 0) fchmod(fileno(to), st.st_mode & 07777);
}

bool replaceFile(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

void removeFile(const char* path) {
  unlink(path);
}

bool makeFolder(const char* path) {
  if (mkdir(path, 0777) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;  // a file (or a link to one) is in the way
  return false;
}

bool sameFileSystemObject(const char* a, const char* b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool joinPath(char* out, std::size_t capacity, const char* a, const char* b, const char* c) {
  std::size_t la = std::strlen(a);
  std::size_t lb = b != nullptr ? std::strlen(b) : 0;
  std::size_t lc = c != nullptr ? std::strlen(c) : 0;
  if (capacity == 0) return false;
  if (la + lb + lc >= capacity) {
    out[0] = '\0';
    return false;
  }
  // The pieces may not overlap `out` except `a` being `out` itself.
  if (a != out) std::memmove(out, a, la);
  if (lb != 0) std::memcpy(out + la, b, lb);
  if (lc != 0) std::memcpy(out + la + lb, c, lc);
  out[la + lb + lc] = '\0';
  return true;
}

}  // namespace tamzel::platform
