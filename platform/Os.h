// The narrow seam between the installer's logic and the operating system.
//
// Everything the logic needs from the file system, process launch, device
// open, sleep and standard output goes through one
// table of operations, PLATFORM_OS_OPERATIONS below. Backends: Win32 (the
// product), POSIX (native tools, tests and fuzzing) and the recording,
// fault-injecting double in testing/. Paths are always Windows paths
// ("c:\ZUV_tmp", "drivers\x.sys"); a backend maps them as its platform
// needs. No OS type ever crosses this header.
#pragma once

#include <stdint.h>

#if defined(__GNUC__)
#define PLATFORM_PRINTF(format_index, args_index) \
  __attribute__((format(printf, format_index, args_index)))
#else
#define PLATFORM_PRINTF(format_index, args_index)
#endif

namespace platform {

struct FileTag;
using File = FileTag*;  // nullptr: not opened
struct DirTag;
using Dir = DirTag*;    // nullptr: not opened

enum class SeekFrom { kStart, kCurrent, kEnd };

struct Attributes {
  bool directory;
  bool link;       // symbolic link, junction or any other reparse point
  bool readOnly;
};

// Who a held directory answers to (QueryDirectory). The owner is compared
// as the bytes the system spells it in: a SID on Windows, a uid natively.
inline constexpr uint32_t kOwnerSize = 68;  // the longest SID
enum class OwnerKind { kOther, kAdministrators, kSystem };
struct DirectoryInfo {
  // The directory as an object: equal triples, the same directory, whatever
  // it is called now. The creation time (0 where the system keeps none)
  // tells a new directory from one removed before it whose id the file
  // system gave out again.
  uint64_t volume;
  uint64_t id;
  uint64_t created;
  unsigned char owner[kOwnerSize];
  uint32_t ownerSize;
  OwnerKind ownerKind;  // the Administrators group (root, natively), SYSTEM
  // Whether anyone besides SYSTEM, the Administrators and the owner may
  // change it: add, rename or delete entries, or change its attributes,
  // its owner or its ACL, now or through what it passes on to what is
  // made inside. Natively: group or others may write it.
  bool othersMayChange;
};

// Every operation of the seam, once, in groups, each with its contract
// beside it: X(name, result, parameters, the parameters' names as the call
// passes them on, what a failure leaves in its out-parameters). The
// interface, the test doubles' log (Op, OpName) and pass-through
// (testing/ForwardingOs.h), the stand-in (Os.cpp) and every backend's
// declarations come from these lists, so a new operation is one line here
// and its bodies in each real backend.
//
// One result for every operation that can fail: 0 when it did what it
// says, else a positive errno value (<errno.h>) that says why: the
// system's error as the backend maps it, or the backend's own for a check
// it makes itself (ENOTDIR for a directory that turned out to be a link,
// EBUSY for a lock it could not have). Its answer comes in its
// out-parameters, which a failure leaves as the last column says (a file
// or directory nullptr, a count 0, a text ""), so that a caller may close
// or test them either way. The stand-in gives ENOSYS, an injected fault
// of the doubles EIO. Operations that cannot fail return nothing.

// Files, always binary, held until Close (which takes nullptr too).
// OpenRead opens an existing file for reading; OpenWrite creates or
// truncates one for writing. OpenScratch makes a new file at path (EEXIST
// when anything is there), to be written and then read from its start,
// that nobody else may open while it is, and that goes when it is closed,
// or when the process ends. Read reads up to size bytes into buffer: *got
// bytes, fewer than size only at the end of the file or when a later
// piece failed after some were read (the error is then not reported:
// the caller meets it again on its next Read), 0 at the end; an error
// only when nothing could be read. Write writes all size bytes, or fails
// (ENOSPC where the system accepted fewer without saying why); what was
// written stays. Seek moves to offset from the start, the current
// position or the end: *position is then the new absolute position (the
// caller may pass nullptr); EINVAL, not moved, for a target before the
// start. DigestCopy copies the whole of source, a file opened for reading,
// from its first byte whatever was read before, into copy, opened for
// writing, and puts the SHA-256 of the bytes it copied into digest (32
// bytes); it fails when source cannot be read or copy not written whole,
// and leaves source's position anywhere: seek before reading on.
#define PLATFORM_OS_FILE_OPERATIONS(X)                                                           \
  X(OpenRead, int, (const char* path, File* file), (path, file), Clear(file))                    \
  X(OpenWrite, int, (const char* path, File* file), (path, file), Clear(file))                   \
  X(OpenScratch, int, (const char* path, File* file), (path, file), Clear(file))                 \
  X(Read, int, (File file, void* buffer, int32_t size, int32_t* got), (file, buffer, size, got), \
    Clear(got))                                                                                  \
  X(Write, int, (File file, const void* data, int32_t size), (file, data, size), void())         \
  X(Seek, int, (File file, int64_t offset, SeekFrom from, int64_t* position),                    \
    (file, offset, from, position), Clear(position))                                             \
  X(Close, void, (File file), (file), void())                                                    \
  X(DigestCopy, int, (File source, File copy, unsigned char* digest), (source, copy, digest),    \
    void())

// Directories by their paths. MakeDirectory makes one level (EEXIST when
// the name is taken); MakePrivateDirectory makes one that only the
// administrators and the system may change (not even the user's own
// unelevated programs), so nobody else can plant or swap files in it, and
// makes none where it cannot give it that protection. CurrentDirectory
// puts the current directory's path into buffer: ERANGE, buffer "", when
// it needs more than size bytes. RemoveEmptyDirectory removes an empty one
// only (a link to a directory: the link). GetAttributes describes the name
// itself: a link is reported, never followed.
#define PLATFORM_OS_PATH_OPERATIONS(X)                                                           \
  X(MakeDirectory, int, (const char* path), (path), void())                                      \
  X(MakePrivateDirectory, int, (const char* path), (path), void())                               \
  X(ChangeDirectory, int, (const char* path), (path), void())                                    \
  X(CurrentDirectory, int, (char* buffer, uint32_t size), (buffer, size), ClearText(buffer, size)) \
  X(RemoveEmptyDirectory, int, (const char* path), (path), void())                               \
  X(GetAttributes, int, (const char* path, Attributes* attributes), (path, attributes), void())

// Held directories. OpenDirectory holds one directory open: the directory
// itself, never a link's or a junction's target (ENOTDIR when the last
// component of path is not a plain directory at the moment it is opened);
// a relative path is taken from the current directory as the object it
// is, not by its name. While it is held nobody can rename, remove or
// replace it (Windows). NextEntry yields its names, "." and ".." included,
// one a call, and "" at the end; an error means the listing failed, and a
// listing that cannot go on has not ended. A name that does not fit size
// bytes is skipped, never cut, and one that has no exact spelling in the
// system's code page is yielded as "?", which names nothing.
// RewindDirectory starts the listing again from its first name.
// QueryDirectory tells what the held directory is and who may change it
// (DirectoryInfo), read through the hold itself.
//
// The ...At operations act on the entry name of the held directory dir:
// looked up in that very directory object, whatever has since been put at
// its path, and never through a link (EntryName.h: a plain name, one
// level, else ENOENT; GetAttributesAt also takes "." and "..").
// OpenSubdirectory holds a plain sub-directory as OpenDirectory does;
// GetAttributesAt describes the entry as GetAttributes does; RemoveFileAt
// deletes a file or a link to one (a read-only file stays: EACCES);
// RemoveEmptyDirectoryAt removes an empty directory or a link to one.
//
// What a backend learnt about an entry of a held directory (Win32: the
// record its listing yielded; POSIX: what GetAttributesAt found) may answer
// the calls about that same entry that follow, until the directory's next
// NextEntry; opening the entry as a sub-directory, or deleting it, ends it
// too once the backend has reached for the entry, whether that succeeds or
// not (after a sub-directory's walk, which takes its time, the entry is
// asked about afresh). A call refused before that (a name that is not
// plain, an open that failed) may leave it: it still describes the same
// entry. That is the one rule of both backends: NextEntry, OpenSubdirectory
// and the deletions forget it, every other operation leaves it as it is.
#define PLATFORM_OS_HELD_DIRECTORY_OPERATIONS(X)                                                 \
  X(OpenDirectory, int, (const char* path, Dir* dir), (path, dir), Clear(dir))                   \
  X(NextEntry, int, (Dir dir, char* name, uint32_t size), (dir, name, size), ClearText(name, size)) \
  X(RewindDirectory, int, (Dir dir), (dir), void())                                              \
  X(QueryDirectory, int, (Dir dir, DirectoryInfo* info), (dir, info), void())                    \
  X(CloseDirectory, void, (Dir dir), (dir), void()) /* takes nullptr too */                      \
  X(OpenSubdirectory, int, (Dir parent, const char* name, Dir* dir), (parent, name, dir),        \
    Clear(dir))                                                                                  \
  X(GetAttributesAt, int, (Dir dir, const char* name, Attributes* attributes),                   \
    (dir, name, attributes), void())                                                             \
  X(RemoveFileAt, int, (Dir dir, const char* name), (dir, name), void())                         \
  X(RemoveEmptyDirectoryAt, int, (Dir dir, const char* name), (dir, name), void())

// The claim and the processes. InUse answers in *held whether another
// process holds path so that it cannot be deleted now (a program running
// from it, a file opened without delete sharing, a directory that is
// another process's current one): false when nobody does, also when path
// does not exist; an error when the probe cannot tell (it was refused,
// say for a read-only file, which a running program's may be). InUseAt is
// InUse for the entry name of a held directory.
// LockInstall takes the machine-wide claim on "c:\ZUV_tmp", which an
// installer holds only while it changes the tree there: 0 when this
// process holds it (already, or from now on), EBUSY when another process
// held it for the whole of kLockWait, which any such change takes far less
// than, another error when no claim can be had at all. UnlockInstall gives
// it up; a process that ends gives it up.
// Launch starts a program with a normal window and does not wait for it;
// the command line is the path alone. OpenDevice opens a device by name
// with no access rights and no sharing and closes it at once: 0 when it
// could be opened.
#define PLATFORM_OS_PROCESS_OPERATIONS(X)                                                        \
  X(InUse, int, (const char* path, bool* held), (path, held), Clear(held))                       \
  X(InUseAt, int, (Dir dir, const char* name, bool* held), (dir, name, held), Clear(held))       \
  X(LockInstall, int, (), (), void())                                                            \
  X(UnlockInstall, void, (), (), void())                                                         \
  X(Launch, int, (const char* commandLine), (commandLine), void())                               \
  X(OpenDevice, int, (const char* name), (name), void())

// The rest. Sleep waits that long. Print writes finished text to standard
// output (the diagnostics, formatted by PrintDiagnostic below); the message
// box for the user is the toolkit's (Toolkit.h).
#define PLATFORM_OS_OTHER_OPERATIONS(X)                                                          \
  X(Sleep, void, (uint32_t milliseconds), (milliseconds), void())                                \
  X(Print, void, (const char* text), (text), void())

#define PLATFORM_OS_OPERATIONS(X)                                                     \
  PLATFORM_OS_FILE_OPERATIONS(X) PLATFORM_OS_PATH_OPERATIONS(X)                       \
  PLATFORM_OS_HELD_DIRECTORY_OPERATIONS(X) PLATFORM_OS_PROCESS_OPERATIONS(X)          \
  PLATFORM_OS_OTHER_OPERATIONS(X)

// The last column's helpers: what a failure leaves in an answer (a
// position may be nullptr, and a text needs room for its zero).
template <typename Answer>
inline void Clear(Answer* answer) {
  if (answer != nullptr) *answer = Answer();
}
inline void ClearText(char* text, uint32_t size) {
  if (size > 0) text[0] = '\0';
}

// Windows' longest path, MAX_PATH, zero included: what a current directory
// or a listed name never needs more than.
inline constexpr uint32_t kMaxPath = 260;

// How long LockInstall waits for another installer to give up the claim.
inline constexpr uint32_t kLockWait = 60000;

// Operation identities, for the test double's log and fault injection.
enum class Op {
#define PLATFORM_OS_OP_ID(name, result, parameters, arguments, cleared) k##name,
  PLATFORM_OS_OPERATIONS(PLATFORM_OS_OP_ID)
#undef PLATFORM_OS_OP_ID
  kCount
};
const char* OpName(Op op);

class Os {
 public:
#define PLATFORM_OS_VIRTUAL(name, result, parameters, arguments, cleared) virtual result name parameters = 0;
  PLATFORM_OS_OPERATIONS(PLATFORM_OS_VIRTUAL)
#undef PLATFORM_OS_VIRTUAL

 protected:
  ~Os() = default;
};

// Inside a backend's class: the declarations of every operation.
#define PLATFORM_OS_OVERRIDE(name, result, parameters, arguments, cleared) result name parameters override;
#define PLATFORM_OS_OVERRIDES PLATFORM_OS_OPERATIONS(PLATFORM_OS_OVERRIDE)

// The process-wide backend. The host program installs one before any logic
// runs; tests swap in their doubles. SetOs returns the previous one.
Os& GetOs();
Os* SetOs(Os* os);

// printf-style front end for Os::Print: %s, %d, %u, %x, %c and %%, through
// FormatText into a buffer of kDiagnosticSize bytes (longer text is cut).
inline constexpr uint32_t kDiagnosticSize = 1025;
void PrintDiagnostic(const char* format, ...) PLATFORM_PRINTF(1, 2);

}  // namespace platform
