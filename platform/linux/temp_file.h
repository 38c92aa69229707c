// The temporary files of GetTempFileNameA, kept open for the caller that
// writes one at once (see CreateTempStream in platform/stream.h).
#ifndef QVORK_PLATFORM_LINUX_TEMP_FILE_H
#define QVORK_PLATFORM_LINUX_TEMP_FILE_H

#include "platform/win32.h"

// Creates a new, empty file in `folder` named as GetTempFileNameA with
// `unique` 0 names it, writes that name (native form, MAX_PATH bytes) into
// `tempFileName` and its number into `*number` (when not NULL), and returns
// it open for writing. -1, with the last error set, when no name could be
// made there.
int CreateTempFileDescriptor(const char *folder, const char *prefix, char *tempFileName, UINT *number);

#endif // QVORK_PLATFORM_LINUX_TEMP_FILE_H
