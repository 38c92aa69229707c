// The calling thread's last error, and the errno-to-Win32 table of the layer.
// Every layer function that fails sets the code Windows would set; nothing
// here resets it on success (Win32 does not either).
#include "platform/linux/last_error.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/linux/native_path.h"
#include "platform/linux/system_calls.h"

static thread_local DWORD lastError = ERROR_SUCCESS;

DWORD GetLastError(void)
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}

// TRUE when the folder holding the last component of `nativePath` exists.
static BOOL ParentFolderExists(const char *nativePath)
{
    if (nativePath == NULL)
        return TRUE;
    char parent[NATIVE_PATH_SIZE];
    size_t length = strlen(nativePath);
    while (length > 1 && nativePath[length - 1] == '/')
        length--; // "dir/" names dir itself
    while (length > 0 && nativePath[length - 1] != '/')
        length--;
    if (length == 0)
        return TRUE; // a bare name lives in the current folder
    if (length >= sizeof parent)
        return FALSE;
    memcpy(parent, nativePath, length);
    parent[length] = '\0';
    struct stat info;
    return OS_CALL(stat)(parent, &info) == 0 && S_ISDIR(info.st_mode) ? TRUE : FALSE;
}

DWORD Win32ErrorFromErrno(int error, const char *nativePath)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ParentFolderExists(nativePath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
    case ENOTEMPTY:
        return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EFBIG: // this file only: the destination takes the others
        return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
    case ELOOP:
        return ERROR_INVALID_PARAMETER;
    case EIO:
        return ERROR_WRITE_FAULT;
    default:
        return ERROR_GEN_FAILURE;
    }
}

void SetLastErrorFromErrno(int error, const char *nativePath)
{
    SetLastError(Win32ErrorFromErrno(error, nativePath));
}
