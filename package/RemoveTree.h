// Removal of a directory tree, every entry reached through the held
// directory above it, and the search for anything of it that another
// process holds.
//
// A tree is emptied with the installer's rights only as far as whoever
// could have put it there could have emptied it anyway: its root only when
// nobody besides SYSTEM, the Administrators and its owner may change it,
// and below it only the directories that belong to the root's owner (or,
// in a tree of the Administrators, to SYSTEM). Anything else stays, with
// its contents: a user who may rename a directory but not empty it must
// not be able to have an administrator empty it for them.
#pragma once

#include <stddef.h>

#include "platform/Os.h"

// One level's child path: the parent path, a backslash and the entry name.
inline constexpr size_t kChildPathSize = 256;
// Room for any name a directory enumeration yields.
inline constexpr size_t kEntryNameSize = platform::kMaxPath;

// What a search of a tree found: nothing held; something another process
// holds; or something it could not examine, which must count as held, as
// nothing of it may then be deleted.
enum class TreeUse { kFree, kBusy, kUnknown };

// Deletes everything below the absolute directory path that the rule above
// lets it; the directory itself stays. 0: the walk went through and the
// current directory is the path. -1: the root is missing, a link, one it
// may not empty, or could not be enumerated or entered, or the walk stopped
// early. Each directory is held open while the walk is in or below it, and
// its entries are looked up in what is held, never by a path, so a
// directory swapped for a link or turned into a junction meanwhile never
// takes the walk outside the tree; links are removed, never followed;
// entries whose names or paths the walk cannot address safely stay, with a
// line on stdout.
int RemoveTree(const char* path);

// RemoveTree below a root the caller holds (known as path, for the
// diagnostics), without entering it: the current directory is left alone.
int EmptyTree(platform::Dir root, const char* path);

// Whether another process holds anything below the held root (known as
// path) that it would keep from being deleted (Os.h, InUse): every file,
// link and directory RemoveTree would reach, walked the same way. Fails
// closed: an entry whose attributes, listing or in-use probe fails, or that
// the walk cannot address, makes the answer kUnknown unless something is
// found busy. The root itself the caller asks about by its path, before it
// holds it: its own hold would count.
TreeUse FindTreeUse(platform::Dir root, const char* path);
