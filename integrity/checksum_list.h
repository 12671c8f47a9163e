// The per-folder checksum list "checksum.tz": one line per file the job produced for an output
// folder, "XXXXXXXX<TAB>name<LF>" with the CRC-32C in upper-case hex. The text is collected in
// memory while the folder is processed and written once the folder is complete, that is when
// the walker has left the folder and every entry it announced has arrived (or was withdrawn).
//
// Threads: the job thread creates a list, announces, withdraws and appends entries for the
// files it copies, and closes the list when it leaves the folder; worker threads append the
// entries of the files they recompressed. Whichever thread completes the list writes the file
// and releases the object; the caller must not touch the pointer after its last call that
// could complete it (appendEntry, withdrawEntry, closeList).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "engine/job_state.h"

namespace tamzel {

constexpr char kChecksumListName[] = "checksum.tz";
constexpr uint64_t kChecksumListCapacity = 4194304;  // 4 MiB text buffer per list
// Room for any folder path that fits a 1024-byte path buffer followed by "checksum.tz".
constexpr std::size_t kChecksumListPathSize = kPathBufferSize + sizeof(kChecksumListName);

struct ChecksumList {
  std::FILE* file = nullptr;              // the list file once the first write opened it
  std::atomic<uint32_t> expected{0};      // entries announced by the walker
  std::atomic<uint32_t> appended{0};      // entries appended so far
  std::atomic<bool> closed{false};        // the walker has left the folder
  char path[kChecksumListPathSize] = {};  // output folder + "checksum.tz"
  char* text = nullptr;                   // text not yet written, `capacity` bytes
  uint32_t length = 0;                    // bytes of text in the buffer
  std::mutex lock;                        // guards text, length, file and the writes
  std::atomic<bool> enabled{false};       // entries still accepted
  uint64_t capacity = kChecksumListCapacity;
  long pieceOffset = 0;  // file offset at which the last piece written began
};

// Creates the list for `outputFolder` (ending in "/"), registers it in the job's registry of
// open lists and enables it. Returns nullptr when the folder path would not fit a path buffer
// (the folder then gets no list) or memory is short.
ChecksumList* createChecksumList(const char* outputFolder);

// The walker announces an entry before the file can reach appendEntry: before a DNG file is
// queued for the workers, or right after a copy succeeded. Job thread only.
void announceEntry(ChecksumList* list);

// Takes back an announced entry that will never arrive (the file turned out unreadable and the
// user skipped it). If the walker has already closed the list and every other entry is in, the
// list is completed here. Job thread only.
void withdrawEntry(ChecksumList* list);

// Adds the line for one file. Any thread. Names with "/" are not checked here: names come from
// directory entries. An entry for a list that has been disabled is dropped.
void appendEntry(ChecksumList* list, const char* name, uint32_t crc);

// Writes the buffered text to the list file, opening it first if needed. Returns 0 on success,
// or the user's answer (2 = Abort, 4 = Skip) when an OpenWrite or Write prompt gave up; the
// file is then closed. Callers hold `lock`, except in the final write.
int flushList(ChecksumList* list);

// The walker has left the folder. Returns true when the folder had at least one announced
// entry (for the top-level folder the job driver remembers this as TopListHasEntries). When
// all entries are in, the list is written (if it has any) and released here.
bool closeList(ChecksumList* list);

// Job end, after every engine thread has been joined: releases every list still registered
// (folders left unfinished by an abort, disabled lists), writing nothing.
void discardOpenChecksumLists();

// Number of lists currently registered (for tests and the job driver's sanity checks).
std::size_t openChecksumListCount();

// Formats one list line into `out` (at least name length + 10 bytes); returns its length.
std::size_t formatChecksumLine(char* out, const char* name, std::size_t nameLength, uint32_t crc);

}  // namespace tamzel
