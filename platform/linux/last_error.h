// Win32 error codes from errno values, for the layer's own files. Each layer
// function that fails on a system call reports through SetLastErrorFromErrno
// so the plug-in sees the code Windows would give for the same situation.
#ifndef QVORK_PLATFORM_LINUX_LAST_ERROR_H
#define QVORK_PLATFORM_LINUX_LAST_ERROR_H

#include "platform/win32.h"

// The Win32 code for `error` (an errno value) raised on `nativePath` (may be
// NULL). ENOENT is ERROR_PATH_NOT_FOUND when the path's folder is missing
// too, ERROR_FILE_NOT_FOUND when only the last component is.
DWORD Win32ErrorFromErrno(int error, const char *nativePath);

// SetLastError(Win32ErrorFromErrno(error, nativePath)).
void SetLastErrorFromErrno(int error, const char *nativePath);

#endif
