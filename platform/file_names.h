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

#endif // QVORK_PLATFORM_FILE_NAMES_H
