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
// Returns false (errno set) when the data could not be brought to storage, which means the
// file is not safely written; callers that ignore the result lose nothing else.
bool noCacheDone(int fd);
inline void noCacheOpen(std::FILE* f) {
  noCacheOpen(fileno(f));
}
inline bool noCacheDone(std::FILE* f) {
  return noCacheDone(fileno(f));
}

// ---------------------------------------------------------------------------------------------
// File system helpers for the folder walk and the writer

// What a directory entry is, decided from the entry type the directory listing gives and, only
// when that is not enough, from lstat/stat. A symbolic link to a folder is Special: folders are
// only ever entered through real directory entries, so a link can never make a walk loop.
enum class EntryKind : uint8_t {
  Folder,   // a real folder (never a link)
  File,     // a regular file, possibly reached through a link
  Special,  // FIFO, socket, device, link to a folder: never opened
  Broken,   // its status cannot be read (dangling link, link loop, ...); errno says why
};
// `direntType` is the dirent d_type value (DT_UNKNOWN when the file system gives none).
EntryKind classifyEntry(const char* path, unsigned char direntType);

// True when something (of any kind, a dangling link included) exists at `path`.
bool pathExists(const char* path);

// Size of the file at `path` (links followed). False with errno set when it cannot be read;
// `regular` tells whether it is a regular file.
bool queryFile(const char* path, uint64_t& size, bool& regular);

// Opens an input file for binary reading without ever blocking on a FIFO or device: returns
// nullptr with errno set on failure, and nullptr with errno = EINVAL when the path is not a
// regular file.
std::FILE* openInputFile(const char* path);

// Creates (or truncates) an output file opened "w+b", without blocking on a FIFO in the way
// (refused with errno = EINVAL). Sets the no-cache hint. nullptr with errno set on failure.
std::FILE* openOutputFile(const char* path);

// Flushes, brings to storage (noCacheDone) and closes an output file. The file is closed in
// every case; returns false with errno of the first failure.
bool finishOutputFile(std::FILE* file);

// Gives the open file `to` the permission bits of the file at `from` (nothing if it has none).
void copyPermissions(const char* from, std::FILE* to);
// Moves `from` over `to` in one step (rename). False with errno set on failure.
bool replaceFile(const char* from, const char* to);
// Removes a file; failures are ignored.
void removeFile(const char* path);

// mkdir with 0777; an existing folder is success, anything else in the way fails (ENOTDIR).
bool makeFolder(const char* path);

// True when both paths name the same file system object (device and inode).
bool sameFileSystemObject(const char* a, const char* b);

// Joins up to three pieces into `out` (capacity bytes, NUL included). Returns false, leaving
// `out` an empty string, when the result would not fit.
bool joinPath(char* out, std::size_t capacity, const char* a, const char* b,
              const char* c = nullptr);

// CPU features, probed once.
bool cpuHasSse42();

// The per-user folder the application keeps its settings and error log in, without the
// toolkit ("~/Library/Application Support/Tamzel" on macOS, "~/.Tamzel" on Linux). Ends in "/".
std::string userDataDir(const char* appName);

}  // namespace tamzel::platform
