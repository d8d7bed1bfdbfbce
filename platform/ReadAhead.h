// The read-ahead of a file opened for reading, the same in every backend.
// The reader takes the archive 264 and at most 16384 bytes at a time, and a
// system call for each of those pieces costs more than the copy out of a
// block that is still in the cache; so the file is read in blocks of
// kReadAhead bytes and handed out from there.
#pragma once

#include <stdint.h>
#include <string.h>

namespace platform {

inline constexpr int32_t kReadAhead = 128 * 1024;

// The absolute position offset from base; false when it would lie before
// the start or past what 64 bits hold.
inline bool SeekTarget(int64_t base, int64_t offset, int64_t* target) {
  if (offset < -base || (offset > 0 && base > INT64_MAX - offset)) return false;
  *target = base + offset;
  return true;
}

struct ReadAhead {
  char* block = nullptr;  // nullptr: the file is not read ahead
  int32_t next = 0;       // first byte of block not yet handed out
  int32_t end = 0;        // bytes in block
  int64_t blockEnd = 0;   // file offset just after the block (= the file's own)

  // Takes a block of kReadAhead bytes from malloc (the backend's own call
  // of it), which the backend frees with the file's record; false when
  // there was none.
  bool Adopt(void* allocated) {
    block = static_cast<char*>(allocated);
    return block != nullptr;
  }

  // Where the reader is, which is not where the file's own offset is.
  int64_t Position() const { return blockEnd - (end - next); }

  // Hands out size bytes, reading the file through raw(into, want) (bytes
  // read, 0 at its end, -1 on error). A request as large as a block goes
  // straight into the caller's buffer. Returns the bytes handed out, or -1
  // when the first read fails.
  template <typename RawRead>
  int32_t Read(void* buffer, int32_t size, RawRead raw) {
    char* out = static_cast<char*>(buffer);
    int32_t total = 0;
    while (total < size) {
      if (next < end) {
        const int32_t n = size - total < end - next ? size - total : end - next;
        memcpy(out + total, block + next, static_cast<size_t>(n));
        next += n;
        total += n;
        continue;
      }
      const bool direct = block == nullptr || size - total >= kReadAhead;
      const int32_t want = direct ? size - total : kReadAhead;
      const int32_t got = raw(direct ? out + total : block, want);
      if (got < 0) return total > 0 ? total : -1;
      if (got == 0) break;
      blockEnd += got;
      next = 0;
      end = direct ? 0 : got;
      if (direct) total += got;
    }
    return total;
  }

  // Moves the reader to target when that is inside the block: true, and
  // no system call is needed. Otherwise the backend moves the file and
  // calls Restart with where it now is.
  bool MoveWithin(int64_t target) {
    if (block == nullptr || target < blockEnd - end || target > blockEnd) return false;
    next = static_cast<int32_t>(target - (blockEnd - end));
    return true;
  }
  void Restart(int64_t position) {
    next = end = 0;
    blockEnd = position;
  }
};

}  // namespace platform
