// The system calls of the POSIX backend. The backend makes every one of
// them through one table of function pointers, gPosixCalls, so that a test
// can replace one entry at a time (to fail the call, or to see its
// arguments) and put it back: the backend's own failure paths then run as
// they would on a system that fails. A new call is one more line of
// PLATFORM_POSIX_CALLS; the backend calls it as gPosixCalls.name(...).
#pragma once

#include <dirent.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace platform {

// X(name, result, parameters, the parameters' names as passed on, what it
// returns when it fails): errno says why, except for posix_spawn, which
// returns the error number itself (the value given here stands for any).
#define PLATFORM_POSIX_CALLS(X)                                                                  \
  X(open, int, (const char* path, int flags, mode_t mode), (path, flags, mode), -1)            \
  X(openat, int, (int at, const char* path, int flags, mode_t mode), (at, path, flags, mode), -1) \
  X(close, int, (int fd), (fd), -1)                                                           \
  X(read, ssize_t, (int fd, void* buffer, size_t size), (fd, buffer, size), -1)               \
  X(write, ssize_t, (int fd, const void* data, size_t size), (fd, data, size), -1)            \
  X(lseek, off_t, (int fd, off_t offset, int whence), (fd, offset, whence), -1)               \
  X(fstat, int, (int fd, struct stat* status), (fd, status), -1)                              \
  X(fstatat, int, (int at, const char* path, struct stat* status, int flags),                 \
    (at, path, status, flags), -1)                                                           \
  X(statx, int, (int at, const char* path, int flags, unsigned mask, struct statx* status),   \
    (at, path, flags, mask, status), -1)                                                      \
  X(ftruncate, int, (int fd, off_t size), (fd, size), -1)                                     \
  X(getdents64, ssize_t, (int fd, void* buffer, size_t size), (fd, buffer, size), -1)         \
  X(mkdir, int, (const char* path, mode_t mode), (path, mode), -1)                            \
  X(chmod, int, (const char* path, mode_t mode), (path, mode), -1)                            \
  X(rmdir, int, (const char* path), (path), -1)                                               \
  X(unlinkat, int, (int at, const char* path, int flags), (at, path, flags), -1)             \
  X(chdir, int, (const char* path), (path), -1)                                               \
  X(fchdir, int, (int fd), (fd), -1)                                                          \
  X(getcwd, char*, (char* buffer, size_t size), (buffer, size), nullptr)                      \
  X(posix_spawn, int,                                                                         \
    (pid_t * child, const char* path, const posix_spawn_file_actions_t* actions,              \
     const posix_spawnattr_t* attributes, char* const* argv, char* const* environment),       \
    (child, path, actions, attributes, argv, environment), EIO)                               \
  X(nanosleep, int, (const struct timespec* delay, struct timespec* left), (delay, left), -1) \
  X(malloc, void*, (size_t size), (size), nullptr)                                            \
  X(fputs, int, (const char* text, FILE* stream), (text, stream), EOF)                        \
  X(fflush, int, (FILE * stream), (stream), EOF)

struct PosixCalls {
#define PLATFORM_POSIX_CALL_ENTRY(name, result, parameters, arguments, failure) \
  result(*name) parameters;
  PLATFORM_POSIX_CALLS(PLATFORM_POSIX_CALL_ENTRY)
#undef PLATFORM_POSIX_CALL_ENTRY
};

// The process's table, the system's own calls until a test replaces one.
extern PosixCalls gPosixCalls;

}  // namespace platform
