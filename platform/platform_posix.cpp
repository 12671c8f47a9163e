#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tamzel::platform {

std::size_t pageSize() {
  static const std::size_t size = [] {
    long v = sysconf(_SC_PAGESIZE);
    return v > 0 ? static_cast<std::size_t>(v) : std::size_t{4096};
  }();
  return size;
}

void* allocPageAligned(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  void* p = nullptr;
  if (posix_memalign(&p, pageSize(), bytes) != 0) return nullptr;
  return p;
}

void freePageAligned(void* p) {
  std::free(p);
}

void noCacheOpen(int fd) {
  if (fd < 0) return;
#if defined(__APPLE__)
  fcntl(fd, F_NOCACHE, 1);
#elif defined(POSIX_FADV_DONTNEED)
  // Drop whatever of this file is cached already, so a read really comes from the disk.
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
#endif
}

bool noCacheDone(int fd) {
  if (fd < 0) return true;
#if !defined(__APPLE__) && defined(POSIX_FADV_DONTNEED)
  // Pages still dirty are not dropped by the hint, so get them to storage first. Files that
  // cannot be synced at all (devices, some pseudo file systems) are not a write failure.
  if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) return false;
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
#endif
  return true;
}

bool cpuHasSse42() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid_count(1, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & (1u << 20)) != 0;
#else
  return false;
#endif
}

std::string userDataDir(const char* appName) {
  const char* home = std::getenv("HOME");
  std::string dir = home && *home ? home : ".";
  if (dir.back() != '/') dir += '/';
#if defined(__APPLE__)
  dir += "Library/Application Support/";
  dir += appName;
#else
  dir += '.';
  dir += appName;
#endif
  dir += '/';
  return dir;
}

}  // namespace tamzel::platform
