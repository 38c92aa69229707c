// Win32 paths on Linux: the plug-in builds paths with "\" separators (the
// cache folder ends in "\icache\", copies join names with "\"); the layer
// takes each "\" as "/". Nothing else of the path is changed.
#ifndef QVORK_PLATFORM_LINUX_NATIVE_PATH_H
#define QVORK_PLATFORM_LINUX_NATIVE_PATH_H

#include <stddef.h>

#include "platform/win32.h"

#define NATIVE_PATH_SIZE 4096

// Copies `path` into `native` (room for `size` bytes) with "\" turned into
// "/". FALSE, with `native` emptied, when the path does not fit.
BOOL ToNativePath(const char *path, char *native, size_t size);

// As ToNativePath, for a file or folder that should exist: Win32 file
// systems find names whatever their case, so when the path does not exist
// as spelled, each component missing as spelled is matched against its
// folder ignoring case (the first match in directory order, as Wine does).
// Components that match nothing are kept as given. Only existing things are
// looked up so; new files are created with the exact name given.
BOOL ToExistingNativePath(const char *path, char *native, size_t size);

#endif
