// Removal of the unpacked package: a directory tree emptied depth first,
// every entry reached through the held directory above it.
#pragma once

#include <stddef.h>

// One level's child path: the parent path, a backslash and the entry name.
inline constexpr size_t kChildPathSize = 256;
// Room for any name a directory enumeration yields (MAX_PATH on Windows).
inline constexpr size_t kEntryNameSize = 260;

// Deletes everything below the absolute directory path; the directory
// itself stays. 0: the walk went through and the current directory is the
// path. -1: the root is missing, a link, or could not be enumerated or
// entered, or the walk stopped early. Each directory is held open while the
// walk is in or below it, and its entries are looked up in what is held,
// never by a path, so a directory swapped for a link or turned into a
// junction meanwhile never takes the walk outside the tree; links are
// removed, never followed; entries whose names or paths the walk cannot
// address safely stay, with a line on stdout.
int RemoveTree(const char* path);

// Whether another process holds anything of the tree at the absolute path
// that it would keep from being deleted: the root, or any file, link or
// directory below that RemoveTree would reach (Os.h, InUse). Walked the
// same way, through held directories; false also when there is no tree.
bool TreeInUse(const char* path);

// Empties and removes "c:\ZUV_tmp", leaving "c:\" the current directory.
// Whatever cannot be removed stays; nothing is reported to the user.
void CleanUpTempDir();
