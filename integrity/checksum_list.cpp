// Checksum lists: collection of the entries of one output folder, and the writing of its
// "checksum.tz" by whichever thread completes the folder.

#include "integrity/checksum_list.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

namespace tamzel {

namespace {

// The registry of lists created and not yet finished, so that the job thread can release the
// lists of folders an abort left unfinished. Its spin flag is held for an insert, a removal or
// the hand-over of the whole set, never together with a list's lock.
struct ListRegistry {
  std::atomic<uint8_t> spin{0};
  std::unordered_set<ChecksumList*> lists;

  void acquire() {
    uint8_t expected = 0;
    while (!spin.compare_exchange_weak(expected, 1, std::memory_order_acquire)) expected = 0;
  }
  void release() { spin.store(0, std::memory_order_release); }
};

ListRegistry OpenChecksumLists;

void registerList(ChecksumList* list) {
  OpenChecksumLists.acquire();
  OpenChecksumLists.lists.insert(list);
  OpenChecksumLists.release();
}

void unregisterList(ChecksumList* list) {
  OpenChecksumLists.acquire();
  OpenChecksumLists.lists.erase(list);
  OpenChecksumLists.release();
}

void releaseList(ChecksumList* list) {
  if (list->file) std::fclose(list->file);
  std::free(list->text);
  delete list;
}

// Opens the list file; asks the user while that fails. Returns 0 or the giving-up answer.
int openListFile(ChecksumList* list, const char* mode) {
  for (;;) {
    list->file = std::fopen(list->path, mode);
    if (list->file) {
      // Unbuffered: each piece goes to the file with one write, so a short write is seen at
      // once and a retry knows exactly what is in the file.
      std::setvbuf(list->file, nullptr, _IONBF, 0);
      return 0;
    }
    PromptAnswer answer = askUser(list->path, PromptKind::OpenWrite);
    if (answer == PromptAnswer::Abort || answer == PromptAnswer::Skip) {
      return static_cast<int>(answer);
    }
  }
}

// Writes the buffered piece at the file's current offset, asking the user after a short write.
// Returns 0, or the giving-up answer after closing the file.
int writePiece(ChecksumList* list) {
  long start = std::ftell(list->file);
  if (start < 0) start = 0;
  list->pieceOffset = start;
  for (;;) {
    std::size_t written = list->length ? std::fwrite(list->text, 1, list->length, list->file) : 0;
    if (written == list->length) return 0;
    for (;;) {
      PromptAnswer answer = askUser(list->path, PromptKind::Write);
      if (answer == PromptAnswer::Abort || answer == PromptAnswer::Skip) {
        std::fclose(list->file);
        list->file = nullptr;
        return static_cast<int>(answer);
      }
      if (answer != PromptAnswer::Retry) continue;
      std::clearerr(list->file);
      if (std::fseek(list->file, start, SEEK_SET) == 0) break;
    }
  }
}

// Closes the list file after its last piece. A failing close is a write failure: Retry opens
// the file again and writes the last piece again where it began.
int closeListFile(ChecksumList* list) {
  for (;;) {
    int rc = std::fclose(list->file);
    list->file = nullptr;
    if (rc == 0) return 0;
    PromptAnswer answer = askUser(list->path, PromptKind::Write);
    while (answer != PromptAnswer::Retry && answer != PromptAnswer::Abort &&
           answer != PromptAnswer::Skip) {
      answer = askUser(list->path, PromptKind::Write);
    }
    if (answer != PromptAnswer::Retry) return static_cast<int>(answer);
    int failed = openListFile(list, list->pieceOffset == 0 ? "w+" : "r+");
    if (failed) return failed;
    if (std::fseek(list->file, list->pieceOffset, SEEK_SET) != 0) continue;  // close, ask again
    failed = writePiece(list);
    if (failed) return failed;
  }
}

// Final write of a complete list (no other thread can reach it any more), then release.
void finishList(ChecksumList* list) {
  if (list->appended.load() != 0 && flushList(list) == 0) closeListFile(list);
  unregisterList(list);
  releaseList(list);
}

}  // namespace

std::size_t formatChecksumLine(char* out, const char* name, std::size_t nameLength, uint32_t crc) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i < 8; ++i) out[i] = kHex[(crc >> (28 - 4 * i)) & 0xF];
  out[8] = '\t';
  std::memcpy(out + 9, name, nameLength);
  out[9 + nameLength] = '\n';
  return nameLength + 10;
}

ChecksumList* createChecksumList(const char* outputFolder) {
  std::size_t folderLength = std::strlen(outputFolder);
  if (folderLength + sizeof(kChecksumListName) > kChecksumListPathSize) return nullptr;
  auto* list = new (std::nothrow) ChecksumList;
  if (!list) return nullptr;
  std::memcpy(list->path, outputFolder, folderLength);
  std::memcpy(list->path + folderLength, kChecksumListName, sizeof(kChecksumListName));
  registerList(list);
  list->enabled.store(true);
  return list;
}

void announceEntry(ChecksumList* list) {
  if (list) list->expected.fetch_add(1);
}

void withdrawEntry(ChecksumList* list) {
  if (!list) return;
  std::unique_lock<std::mutex> guard(list->lock);
  if (list->expected.load() != 0) list->expected.fetch_sub(1);
  bool complete =
      list->closed.load() && list->enabled.load() && list->expected.load() == list->appended.load();
  guard.unlock();
  if (complete) finishList(list);
}

void appendEntry(ChecksumList* list, const char* name, uint32_t crc) {
  if (!list || !list->enabled.load()) return;
  std::size_t nameLength = std::strlen(name);
  uint64_t lineLength = nameLength + 10;
  std::unique_lock<std::mutex> guard(list->lock);
  // Tested again under the lock: another thread may have given up on the list while this one
  // waited for it.
  if (!list->enabled.load()) return;
  if (!list->text) {
    list->text = static_cast<char*>(std::malloc(list->capacity));
    if (!list->text) {
      list->enabled.store(false);
      return;
    }
  }
  if (lineLength > list->capacity) {
    list->enabled.store(false);
    return;
  }
  if (list->length + lineLength > list->capacity) {
    if (flushList(list) != 0) {
      list->enabled.store(false);
      return;
    }
    list->length = 0;
  }
  list->length +=
      static_cast<uint32_t>(formatChecksumLine(list->text + list->length, name, nameLength, crc));
  list->appended.fetch_add(1);
  if (!list->closed.load()) return;
  bool complete = list->expected.load() == list->appended.load();
  guard.unlock();
  if (complete) finishList(list);
}

int flushList(ChecksumList* list) {
  if (!list->file) {
    int failed = openListFile(list, "w+");
    if (failed) return failed;
  }
  return writePiece(list);
}

bool closeList(ChecksumList* list) {
  if (!list) return false;
  bool hadEntries = list->expected.load() != 0;
  std::unique_lock<std::mutex> guard(list->lock);
  list->closed.store(true);
  bool complete = list->enabled.load() && list->expected.load() == list->appended.load();
  guard.unlock();
  // A disabled list stays registered until the job end discards it.
  if (complete) finishList(list);
  return hadEntries;
}

void discardOpenChecksumLists() {
  std::unordered_set<ChecksumList*> lists;
  OpenChecksumLists.acquire();
  lists.swap(OpenChecksumLists.lists);
  OpenChecksumLists.release();
  for (ChecksumList* list : lists) releaseList(list);
}

std::size_t openChecksumListCount() {
  OpenChecksumLists.acquire();
  std::size_t count = OpenChecksumLists.lists.size();
  OpenChecksumLists.release();
  return count;
}

}  // namespace tamzel
