// Names as the file system compares them. On Windows two names that differ
// only in the case of their letters are one name; on Linux every byte counts.
#ifndef QVORK_PLATFORM_FILE_NAMES_H
#define QVORK_PLATFORM_FILE_NAMES_H

#include <stddef.h>

#include "platform/win32.h"

// Writes into `key` (`size` bytes) the form of `path` under which the file
// system takes two paths as one: equal keys, the same file. FALSE when the
// key does not fit.
BOOL FileNameKey(const char *path, char *key, size_t size);

// Starts a search as FindFirstFileA does, for a caller that needs only the
// names of what it finds; FindNextFileA goes on with it and FindClose ends it.
// On Linux only cFileName is filled (every other field is zero) and no entry
// is looked up, so a name removed since the folder was read may still be
// handed out. On Windows it is FindFirstFileA.
HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData);

#endif // QVORK_PLATFORM_FILE_NAMES_H
