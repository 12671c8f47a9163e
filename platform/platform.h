// Thin layer over the operating system: everything that differs between macOS and Linux lives
// behind these functions, so the rest of the program stays portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tamzel::platform {

// Page-aligned allocation for large file buffers. Returns nullptr when the memory cannot be had.
void* allocPageAligned(std::size_t bytes);
void freePageAligned(void* p);
std::size_t pageSize();

// Tells the OS not to keep this file's data in its cache. Call once right after opening a file
// that the program will read once (verification) or has written (output files).
void noCacheOpen(int fd);
// Called after the data of an open output file have been written and flushed: on Linux this
// syncs the range and drops it from the page cache; on macOS F_NOCACHE set at open suffices.
void noCacheDone(int fd);
inline void noCacheOpen(std::FILE* f) { noCacheOpen(fileno(f)); }
inline void noCacheDone(std::FILE* f) { noCacheDone(fileno(f)); }

// CPU features, probed once.
bool cpuHasSse42();

// The per-user folder the application keeps its settings and error log in, without the
// toolkit ("~/Library/Application Support/Tamzel" on macOS, "~/.Tamzel" on Linux). Ends in "/".
std::string userDataDir(const char* appName);

}  // namespace tamzel::platform
