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
// The longest path FileNameKey takes, in characters, and the key size that
// holds the key of any such path.
#define FILE_NAME_KEY_CHARS 2048
#define FILE_NAME_KEY_SIZE (3 * FILE_NAME_KEY_CHARS + 1)

// TRUE for the first byte of a two-byte character of the ANSI code page
// (Japanese, Chinese, Korean systems); its second byte may be any byte from
// 0x40 up, "\\" and "|" among them. Always FALSE on Linux.
BOOL IsAnsiLeadByte(unsigned char c);

// On Windows a file or folder also has a short (8.3) name, "DOWNLO~1.HTM",
// which names the same file: the long form of the existing `path` into
// `out` (`size` bytes), TRUE when it differs from `path`. Always FALSE on
// Linux, where a name is only itself.
BOOL LongPathOf(const char *path, char *out, size_t size);

// Starts a search as FindFirstFileA does, for a caller that needs of what it
// finds only the names and whether each is a folder, a file or a device
// (FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DEVICE); FindNextFileA goes on
// with it and FindClose ends it. On Linux that is what the folder itself
// says, without looking each entry up: sizes and times are zero until
// OpenFoundFile fills them in, and a name removed since the folder was read
// may still be handed out. On Windows it is FindFirstFileA.
HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData);

#endif // QVORK_PLATFORM_FILE_NAMES_H
