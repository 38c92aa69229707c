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

// Starts a search as FindFirstFileA does, for a caller that needs of what it
// finds only the names and whether each is a folder, a file or a device
// (FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DEVICE); FindNextFileA goes on
// with it and FindClose ends it. On Linux that is what the folder itself
// says, without looking each entry up: sizes and times are zero until
// OpenFoundFile fills them in, and a name removed since the folder was read
// may still be handed out. On Windows it is FindFirstFileA.
HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData);

#endif // QVORK_PLATFORM_FILE_NAMES_H
