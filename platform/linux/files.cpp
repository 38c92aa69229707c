// Files and folders: CreateDirectoryA, DeleteFileA, MoveFileExA, GetTempPathA
// and GetTempFileNameA over POSIX calls. Paths are Win32 paths ("\" taken as
// "/"). Where this differs from Windows: GetTempPathA reads TMPDIR (else
// "/tmp/") instead of TMP/TEMP, GetTempFileNameA returns the name in native
// form ("/" separators) so any Linux program can open it, and MoveFileExA
// never copies across file systems (ERROR_NOT_SAME_DEVICE, also with
// MOVEFILE_COPY_ALLOWED).
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/linux/last_error.h"
#include "platform/linux/native_path.h"
#include "platform/linux/system_calls.h"
#include "platform/linux/temp_file.h"
#include "platform/win32.h"

// Converts `path` for a call; on failure sets the last error and returns
// FALSE (a NULL or empty path is no valid path, a long one exceeds the range).
static BOOL NativePathForCall(const char *path, char *native, size_t size)
{
    if (path == NULL || path[0] == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!ToNativePath(path, native, size)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

// As NativePathForCall, for a name that already exists: in any letter case,
// as Win32 finds it.
static BOOL ExistingNativePathForCall(const char *path, char *native, size_t size)
{
    if (!NativePathForCall(path, native, size))
        return FALSE;
    ToExistingNativePath(path, native, size);
    return TRUE;
}

BOOL CreateDirectoryA(const char *path, SECURITY_ATTRIBUTES *security)
{
    (void)security;
    char native[NATIVE_PATH_SIZE];
    if (!NativePathForCall(path, native, sizeof native))
        return FALSE;
    if (OS_CALL(mkdir)(native, 0777) == 0)
        return TRUE;
    int error = errno;
    // A missing folder on the way is always a path error for Win32, even
    // when only the immediate parent is missing.
    SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(error, native));
    return FALSE;
}

DWORD GetFileAttributesA(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (!ExistingNativePathForCall(path, native, sizeof native))
        return INVALID_FILE_ATTRIBUTES;
    struct stat info;
    if (OS_CALL(lstat)(native, &info) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno, native));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(info.st_mode)) {
        struct stat target;
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (OS_CALL(stat)(native, &target) == 0 && S_ISDIR(target.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    if (S_ISDIR(info.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return S_ISREG(info.st_mode) ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_DEVICE;
}

// A file Win32 shows FILE_ATTRIBUTE_READONLY (nobody may write it), which it
// neither deletes nor replaces.
static BOOL IsReadOnlyFile(const struct stat *info)
{
    return S_ISREG(info->st_mode) && (info->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

BOOL DeleteFileA(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (!ExistingNativePathForCall(path, native, sizeof native))
        return FALSE;
    struct stat info;
    BOOL known = OS_CALL(lstat)(native, &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED); // Windows refuses folders here
        return FALSE;
    }
    if (known && IsReadOnlyFile(&info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (OS_CALL(unlink)(native) == 0)
        return TRUE;
    SetLastErrorFromErrno(errno, native);
    return FALSE;
}

// rename(2) without replacing: EEXIST when `to` exists. Falls back to a
// check before the rename where the file system has no such rename.
static int RenameNoReplace(const char *from, const char *to)
{
#ifdef RENAME_NOREPLACE
    if (OS_CALL(renameat2)(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
#endif
    struct stat info;
    if (OS_CALL(lstat)(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return OS_CALL(rename)(from, to);
}

// A failed rename(2) as MoveFileExA tells it.
static BOOL MoveFailed(int error, const char *to)
{
    if (error == EISDIR)
        SetLastError(ERROR_ACCESS_DENIED);
    else if (error == EXDEV)
        SetLastError(ERROR_NOT_SAME_DEVICE);
    else
        SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(error, to));
    return FALSE;
}

BOOL MoveFileExA(const char *existingName, const char *newName, DWORD flags)
{
    if (existingName == NULL || newName == NULL ||
        (flags & ~(DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char from[NATIVE_PATH_SIZE];
    char to[NATIVE_PATH_SIZE];
    if (!NativePathForCall(existingName, from, sizeof from) ||
        !NativePathForCall(newName, to, sizeof to))
        return FALSE;
#ifdef RENAME_NOREPLACE
    // Most moves go to a name nothing holds yet: no rule below can refuse
    // them, and one call does it. A name that is there, a source given in
    // another letter case, or a file system without this call goes the long
    // way below.
    if (OS_CALL(renameat2)(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return TRUE;
    if (errno != EEXIST && errno != ENOENT && errno != EINVAL && errno != ENOSYS)
        return MoveFailed(errno, to);
#endif
    struct stat source;
    // The name in any case, as Win32, looked for only when not there as given.
    if (OS_CALL(lstat)(from, &source) != 0 &&
        (!ToExistingNativePath(existingName, from, sizeof from) || OS_CALL(lstat)(from, &source) != 0)) {
        SetLastErrorFromErrno(errno, from);
        return FALSE;
    }
    // Win32 replaces files only: never a folder, and a folder replaces nothing.
    // A link at the new name is a file to it, and is replaced, not followed.
    // A file renamed over a folder fails by itself (EISDIR, below), so the new
    // name is looked at first only for a folder or without replacing.
    struct stat target;
    BOOL replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0 ? TRUE : FALSE;
    if ((S_ISDIR(source.st_mode) || !replace) && OS_CALL(lstat)(to, &target) == 0 &&
        strcmp(from, to) != 0) {
        SetLastError(replace ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    // Nor a read-only one, nor what Windows has no such file as: a FIFO, a
    // socket or a device node.
    if (replace && !S_ISDIR(source.st_mode) && OS_CALL(lstat)(to, &target) == 0 &&
        strcmp(from, to) != 0 &&
        (IsReadOnlyFile(&target) ||
         !(S_ISREG(target.st_mode) || S_ISLNK(target.st_mode) || S_ISDIR(target.st_mode)))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int moved = replace ? OS_CALL(rename)(from, to) : RenameNoReplace(from, to);
    return moved == 0 ? TRUE : MoveFailed(errno, to);
}

DWORD GetTempPathA(DWORD bufferLength, char *buffer)
{
    const char *folder = getenv("TMPDIR");
    if (folder == NULL || folder[0] == '\0')
        folder = "/tmp";
    size_t length = strlen(folder);
    BOOL addSlash = folder[length - 1] != '/' ? TRUE : FALSE;
    size_t needed = length + (addSlash ? 1 : 0); // without the terminator
    if (needed >= 0xFFFFFFFFu) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (buffer == NULL || needed >= bufferLength)
        return (DWORD)(needed + 1); // the size to allocate, terminator included
    memcpy(buffer, folder, length);
    if (addSlash)
        buffer[length++] = '/';
    buffer[length] = '\0';
    return (DWORD)length;
}

// The numbers GetTempFileNameA tries when it picks one itself: a walk through
// 1..0xFFFF from a start that differs between processes, shared by all calls
// of the process so a name it handed out is not handed out again.
static pthread_mutex_t tempNumberLock = PTHREAD_MUTEX_INITIALIZER;
static UINT tempNumberNext = 0;

static UINT NextTempNumber(void)
{
    pthread_mutex_lock(&tempNumberLock);
    if (tempNumberNext == 0)
        tempNumberNext = (UINT)(((unsigned long)time(NULL) ^ ((unsigned long)getpid() << 4)) & 0xFFFFu);
    UINT number = tempNumberNext;
    tempNumberNext = (tempNumberNext & 0xFFFFu) + 1;
    if (tempNumberNext > 0xFFFFu)
        tempNumberNext = 1;
    if (number == 0)
        number = 1;
    pthread_mutex_unlock(&tempNumberLock);
    return number;
}

// Writes "<folder>[/]<prefix, up to 3 chars><number in hex>.tmp" into `out`
// (MAX_PATH bytes); FALSE when it does not fit.
static BOOL FormatTempName(const char *folder, const char *prefix, UINT number, char *out)
{
    size_t folderLength = strlen(folder);
    BOOL addSlash = folderLength > 0 && folder[folderLength - 1] != '/' ? TRUE : FALSE;
    char name[3 + 8 + 4 + 1];
    int nameLength = snprintf(name, sizeof name, "%.3s%X.tmp", prefix, number);
    if (nameLength < 0)
        return FALSE;
    size_t total = folderLength + (addSlash ? 1 : 0) + (size_t)nameLength;
    if (total >= MAX_PATH)
        return FALSE;
    memmove(out, folder, folderLength); // `folder` may be `out` itself
    if (addSlash)
        out[folderLength++] = '/';
    memcpy(out + folderLength, name, (size_t)nameLength + 1);
    return TRUE;
}

// The checks every temporary name passes: `native` gets the folder in native
// form; FALSE, with the last error set, when no name can be made in it.
static BOOL TempFolder(const char *folder, const char *tempFileName, char *native)
{
    if (folder == NULL || tempFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ToNativePath(folder, native, NATIVE_PATH_SIZE) || strlen(native) >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    return TRUE;
}

int CreateTempFileDescriptor(const char *folder, const char *prefix, char *tempFileName, UINT *number)
{
    char native[NATIVE_PATH_SIZE];
    if (!TempFolder(folder, tempFileName, native))
        return -1;
    if (prefix == NULL)
        prefix = "";
    // The folder is looked at only when a name cannot be made in it (a
    // missing folder is ERROR_DIRECTORY whatever else is wrong): a header
    // view creates one temporary file each, and most calls succeed.
    char candidate[MAX_PATH];
    for (UINT attempt = 0; attempt < 0xFFFFu; attempt++) {
        UINT tried = NextTempNumber();
        BOOL formatted = FormatTempName(native, prefix, tried, candidate);
        int fd = formatted ? OS_CALL(open)(candidate, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666) : -1;
        if (fd >= 0) {
            memcpy(tempFileName, candidate, strlen(candidate) + 1);
            if (number != NULL)
                *number = tried;
            return fd;
        }
        int error = errno;
        if (formatted && error == EEXIST)
            continue;
        struct stat info;
        if (OS_CALL(stat)(native[0] != '\0' ? native : ".", &info) != 0 || !S_ISDIR(info.st_mode))
            SetLastError(ERROR_DIRECTORY);
        else if (!formatted)
            SetLastError(ERROR_BUFFER_OVERFLOW);
        else
            SetLastErrorFromErrno(error, candidate);
        return -1;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return -1;
}

UINT GetTempFileNameA(const char *folder, const char *prefix, UINT unique, char *tempFileName)
{
    unique &= 0xFFFFu; // Win32 uses the low 16 bits only
    if (unique == 0) {
        UINT number = 0;
        int fd = CreateTempFileDescriptor(folder, prefix, tempFileName, &number);
        if (fd < 0)
            return 0;
        OS_CALL(close)(fd);
        return number;
    }
    char native[NATIVE_PATH_SIZE];
    if (!TempFolder(folder, tempFileName, native))
        return 0;
    if (!FormatTempName(native, prefix != NULL ? prefix : "", unique, tempFileName)) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    return unique;
}
