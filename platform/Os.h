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

// Every operation of the seam, once: X(name, result, parameters, the
// parameters' names as the call passes them on, what it gives while no
// backend is installed, which is also what it gives when it fails). The
// interface, the test doubles' log (Op, OpName) and pass-through
// (testing/ForwardingOs.h) and every backend's declarations come from this
// list, so a new operation is one line here and its bodies in each real
// backend.
//
// Files, always binary. OpenScratch makes a new file at path (it fails when
// anything is there), to be written and then read from its start, that
// nobody else may open while it is, and that goes when it is closed, or
// when the process ends. Read returns the bytes read (0 at the end), -1 on
// error; Write returns the bytes accepted. Seek returns the new absolute
// position, or -1 (and does not move) when it fails or would go before the
// start. DigestCopy copies the whole of source, a file opened for reading,
// from its first byte whatever was read before, into copy, opened for
// writing, and puts the SHA-256 of the bytes it copied into digest (32
// bytes): 0, or -1 when source cannot be read or copy not written whole.
// It leaves source's position anywhere: seek before reading on.
//
// Directories: results are 0 on success, -1 on failure (ErrorNumber says
// why). MakeDirectory makes one level; MakePrivateDirectory makes one that
// only the administrators and the system may change (not even the user's own
// unelevated programs), so nobody else can plant or swap files in it.
// CurrentDirectory fails, leaving buffer[0] == 0, when the path needs more
// than size bytes. RemoveEmptyDirectory removes an empty one only (a link to
// a directory: the link).
//
// OpenDirectory holds one directory open: the directory itself, never a
// link's or a junction's target. It fails when the last component of path
// is not a plain directory at the moment it is opened; a relative path is
// taken from the current directory as the object it is, not by its name.
// While it is held nobody can rename, remove or replace it (Windows).
// NextEntry yields its names, "." and ".." included: 1 with a
// name, 0 at the end, -1 when the listing failed (a listing that cannot go
// on has not ended); a name that does not fit size bytes is skipped, never
// cut, and one that has no exact spelling in the system's code page is
// yielded as "?", which names nothing. RewindDirectory starts the listing
// again from its first name. QueryDirectory tells what the held directory
// is and who may change it (DirectoryInfo), read through the hold itself.
// GetAttributes describes the name itself: a link is reported, never
// followed. ErrorNumber is the C library's errno value for the last failed
// operation.
//
// The ...At operations act on the entry name of the held directory dir:
// looked up in that very directory object, whatever has since been put at
// its path, and never through a link (EntryName.h: a plain name, one
// level; GetAttributesAt also takes "." and ".."). OpenSubdirectory holds a
// plain sub-directory as OpenDirectory does; GetAttributesAt describes the
// entry as GetAttributes does; RemoveFileAt deletes a file or a link to one
// (a read-only file stays); RemoveEmptyDirectoryAt removes an empty
// directory or a link to one; InUseAt is InUse for the entry.
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
//
// InUse is 1 when another process holds path so that it cannot be deleted
// now (a program running from it, a file opened without delete sharing, a
// directory that is another process's current one), 0 when nobody does,
// also when path does not exist, and -1 when the probe cannot tell (it was
// refused, say for a read-only file, which a running program's may be).
// LockInstall takes the machine-wide claim on "c:\ZUV_tmp", which an
// installer holds only while it changes the tree there: 0 when this process
// holds it (already, or from now on), -1 when another process held it for
// the whole of kLockWait, which any such change takes far less than.
// UnlockInstall gives it up; a process that ends gives it up.
//
// Launch starts a program with a normal window and does not wait for it;
// the command line is the path alone: 0 when it started, -1 if not.
// OpenDevice opens a device by name with no access rights and no sharing
// and closes it at once: 1 when it could be opened, 0 when not.
// Print writes finished text to standard output (the diagnostics,
// formatted by PrintDiagnostic below). The message box for the user is the
// toolkit's (Toolkit.h).
#define PLATFORM_OS_OPERATIONS(X)                                                             \
  X(OpenRead, File, (const char* path), (path), nullptr)                                      \
  X(OpenWrite, File, (const char* path), (path), nullptr) /* create or truncate */            \
  X(OpenScratch, File, (const char* path), (path), nullptr)                                   \
  X(Read, int32_t, (File file, void* buffer, int32_t size), (file, buffer, size), -1)         \
  X(Write, int32_t, (File file, const void* data, int32_t size), (file, data, size), 0)       \
  X(Seek, int64_t, (File file, int64_t offset, SeekFrom from), (file, offset, from), -1)      \
  X(Close, void, (File file), (file), void())                                                 \
  X(DigestCopy, int, (File source, File copy, unsigned char* digest), (source, copy, digest), -1) \
  X(MakeDirectory, int, (const char* path), (path), -1)                                       \
  X(MakePrivateDirectory, int, (const char* path), (path), -1)                                \
  X(ChangeDirectory, int, (const char* path), (path), -1)                                     \
  X(CurrentDirectory, int, (char* buffer, uint32_t size), (buffer, size),                     \
    NoCurrentDirectory(buffer, size))                                                         \
  X(RemoveEmptyDirectory, int, (const char* path), (path), -1)                                \
  X(OpenDirectory, Dir, (const char* path), (path), nullptr)                                  \
  X(NextEntry, int, (Dir dir, char* name, uint32_t size), (dir, name, size), -1)              \
  X(RewindDirectory, int, (Dir dir), (dir), -1)                                               \
  X(QueryDirectory, int, (Dir dir, DirectoryInfo* info), (dir, info), -1)                     \
  X(CloseDirectory, void, (Dir dir), (dir), void())                                           \
  X(GetAttributes, int, (const char* path, Attributes* attributes), (path, attributes), -1)   \
  X(ErrorNumber, int, (), (), ENOSYS)                                                         \
  X(InUse, int, (const char* path), (path), -1)                                               \
  X(OpenSubdirectory, Dir, (Dir parent, const char* name), (parent, name), nullptr)           \
  X(GetAttributesAt, int, (Dir dir, const char* name, Attributes* attributes),                \
    (dir, name, attributes), -1)                                                              \
  X(RemoveFileAt, int, (Dir dir, const char* name), (dir, name), -1)                          \
  X(RemoveEmptyDirectoryAt, int, (Dir dir, const char* name), (dir, name), -1)                \
  X(InUseAt, int, (Dir dir, const char* name), (dir, name), -1)                               \
  X(LockInstall, int, (), (), -1)                                                             \
  X(UnlockInstall, void, (), (), void())                                                      \
  X(Launch, int, (const char* commandLine), (commandLine), -1)                                \
  X(OpenDevice, int, (const char* name), (name), 0)                                           \
  X(Sleep, void, (uint32_t milliseconds), (milliseconds), void())                             \
  X(Print, void, (const char* text), (text), void())

// Windows' longest path, MAX_PATH, zero included: what a current directory
// or a listed name never needs more than.
inline constexpr uint32_t kMaxPath = 260;

// How long LockInstall waits for another installer to give up the claim.
inline constexpr uint32_t kLockWait = 60000;

// What CurrentDirectory gives while no backend is installed: as a failed one.
inline int NoCurrentDirectory(char* buffer, uint32_t size) {
  if (size > 0) buffer[0] = '\0';
  return -1;
}

// Operation identities, for the test double's log and fault injection.
enum class Op {
#define PLATFORM_OS_OP_ID(name, result, parameters, arguments, none) k##name,
  PLATFORM_OS_OPERATIONS(PLATFORM_OS_OP_ID)
#undef PLATFORM_OS_OP_ID
  kCount
};
const char* OpName(Op op);

class Os {
 public:
#define PLATFORM_OS_VIRTUAL(name, result, parameters, arguments, none) virtual result name parameters = 0;
  PLATFORM_OS_OPERATIONS(PLATFORM_OS_VIRTUAL)
#undef PLATFORM_OS_VIRTUAL

 protected:
  ~Os() = default;
};

// Inside a backend's class: the declarations of every operation.
#define PLATFORM_OS_OVERRIDE(name, result, parameters, arguments, none) result name parameters override;
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
