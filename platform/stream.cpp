// Raw byte streams over stdio; see stream.h.
#include "platform/stream.h"

#include <errno.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <sys/stat.h>
#define OS_CALL(name) name
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/find_data.h"
#include "platform/linux/last_error.h"
#include "platform/linux/native_path.h"
#include "platform/linux/system_calls.h"
#include "platform/linux/temp_file.h"

// Opens `native` as fopen would, but only a regular file. A FIFO or a device
// in its place would block the open (a FIFO waits for its other end) or be
// read or written as if it held a file's bytes. The type is checked before
// the open, and the open itself does not block, so a swap in between cannot
// hang either: the descriptor's own type decides. `lookedAt`: the caller
// has just seen a regular file (or a link) at the name.
static FILE *OpenRegularFile(const char *native, const char *mode, BOOL lookedAt,
                             struct stat *opened)
{
    struct stat info;
    BOOL exists = !lookedAt && OS_CALL(stat)(native, &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        errno = EACCES;
        return NULL;
    }
    int access = strchr(mode, '+') != NULL ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    int flags = access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    // An empty file (the fresh temporary file a copy writes) is not
    // truncated: on ext4 a truncating open makes the close start writing
    // the file back, which costs a copy of many small files dearly. One that
    // turns out not to be empty after all is truncated below.
    BOOL truncate = mode[0] == 'w' && !(exists && info.st_size == 0);
    if (mode[0] == 'w' || mode[0] == 'a')
        flags |= O_CREAT | (mode[0] == 'a' ? O_APPEND : truncate ? O_TRUNC : 0);
    int fd = OS_CALL(open)(native, flags, 0666);
    if (fd < 0)
        return NULL;
    // Once it is known to be a regular file, it is read and written as one
    // opened without O_NONBLOCK (F_SETFL sets only the status flags, and of
    // those only O_APPEND was asked for).
    FILE *stream = NULL;
    if (OS_CALL(fstat)(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (mode[0] != 'w' || info.st_size == 0 || OS_CALL(ftruncate)(fd, 0) == 0) &&
        OS_CALL(fcntl)(fd, F_SETFL, mode[0] == 'a' ? O_APPEND : 0) == 0)
        stream = OS_CALL(fdopen)(fd, mode);
    if (stream == NULL) {
        OS_CALL(close)(fd);
        errno = EACCES;
    } else if (opened != NULL) {
        *opened = info;
    }
    return stream;
}
#endif

namespace {

// Site files are read in pieces the plug-in sizes itself (a header, a record
// window, 50000-byte copy chunks) and copies are written in the same chunks:
// a stdio buffer would only add a copy, a seek at every repositioning, and
// writes split at its own size.
void Unbuffered(FILE *stream)
{
    setvbuf(stream, NULL, _IONBF, 0);
}

// After a failed stdio call: the last error says why, as Win32 would. On
// Windows the system call beneath has set it; a full disk is made sure of,
// as the C library may have called the system again since.
void SetLastErrorFromStdio(int error)
{
#ifdef _WIN32
    if (error == ENOSPC)
        SetLastError(ERROR_DISK_FULL);
#else
    SetLastErrorFromErrno(error != 0 ? error : EIO, NULL);
#endif
}

// `opened` (Linux, may be NULL): what the opened file's descriptor says of it.
FILE *OpenChecked(const char *path, const char *mode, BOOL lookedAt, struct stat *opened)
{
    if (path == NULL || mode == NULL)
        return NULL;
    if (mode[0] == 0 || strchr("rwa", mode[0]) == NULL)
        return NULL;
#ifdef _WIN32
    (void)lookedAt; // the open handle's type decides, below
    (void)opened;
    FILE *stream = fopen(path, mode);
    // Only a file on a disk: never a pipe or a device reached by its name.
    if (stream != NULL && GetFileType((HANDLE)_get_osfhandle(_fileno(stream))) != FILE_TYPE_DISK) {
        fclose(stream);
        stream = NULL;
    }
#else
    char native[NATIVE_PATH_SIZE];
    if (!ToNativePath(path, native, sizeof native)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    FILE *stream = OpenRegularFile(native, mode, lookedAt, opened);
    // A file opened for reading exists: when the name as given is not
    // there, find it as Win32 would, whatever the case of its name. Files
    // written are created as named.
    if (stream == NULL && mode[0] == 'r' && errno == ENOENT &&
        ToExistingNativePath(path, native, sizeof native))
        stream = OpenRegularFile(native, mode, FALSE, opened);
#endif
    if (stream == NULL)
        SetLastErrorFromStdio(errno);
    else
        Unbuffered(stream);
    return stream;
}

} // namespace

FILE *OpenStream(const char *path, const char *mode)
{
    return OpenChecked(path, mode, FALSE, NULL);
}

FILE *OpenFoundFile(const char *path, WIN32_FIND_DATAA *found)
{
    if (found == NULL)
        return NULL;
    FILE *stream = NULL;
#ifdef _WIN32
    struct stat *seen = NULL;
#else
    struct stat info;
    struct stat *seen = &info;
#endif
    DWORD error = ERROR_ACCESS_DENIED; // a folder or a device is not opened
    if ((found->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
        stream = OpenChecked(path, "rb", TRUE, seen);
        error = GetLastError();
    }
#ifndef _WIN32
    // A name search's entry: its size and times from the file just opened,
    // else from a look at its name (a folder, a device, a file that would
    // not open). One that is not there any more is not found.
    if (found->dwReserved1 == FIND_DATA_NAME_ONLY) {
        char native[NATIVE_PATH_SIZE];
        if (stream != NULL)
            CompleteFindData(&info, found);
        else if (!ToNativePath(path, native, sizeof native))
            error = ERROR_FILENAME_EXCED_RANGE;
        else if (OS_CALL(stat)(native, &info) == 0 || OS_CALL(lstat)(native, &info) == 0)
            CompleteFindData(&info, found);
        else
            error = Win32ErrorFromErrno(errno, native);
    }
#endif
    if (stream == NULL)
        SetLastError(error);
    return stream;
}

FILE *CreateTempStream(const char *folder, const char *prefix, char *tempFileName)
{
#ifdef _WIN32
    // GetTempFileNameA's names, but the handle that made the file is the one
    // written: the system's call would close it, and an fopen open it again
    // (each a round trip to the server under Wine).
    static LONG lastNumber = 0;
    if (lastNumber == 0)
        InterlockedCompareExchange(&lastNumber, (LONG)((GetTickCount() ^ GetCurrentProcessId()) & 0xFFFF), 0);
    if (folder == NULL || tempFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    size_t folderLength = strlen(folder);
    BOOL addSeparator =
        folderLength > 0 && strchr("\\/", folder[folderLength - 1]) == NULL ? TRUE : FALSE;
    for (UINT attempt = 0; attempt < 0xFFFFu; attempt++) {
        UINT number = (UINT)InterlockedIncrement(&lastNumber) & 0xFFFFu;
        if (number == 0)
            continue;
        int length = snprintf(tempFileName, MAX_PATH, "%s%s%.3s%X.tmp", folder,
                              addSeparator ? "\\" : "", prefix != NULL ? prefix : "", number);
        if (length < 0 || length >= MAX_PATH) {
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return NULL;
        }
        HANDLE file = CreateFileA(tempFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            // As GetTempFileNameA: a folder that is not there is no folder.
            SetLastError(error == ERROR_PATH_NOT_FOUND ? ERROR_DIRECTORY : error);
            return NULL;
        }
        int fd = _open_osfhandle((intptr_t)file, _O_WRONLY | _O_BINARY);
        FILE *stream = fd != -1 ? _fdopen(fd, "wb") : NULL;
        if (stream == NULL) {
            DWORD error = GetLastError();
            if (fd != -1)
                _close(fd);
            else
                CloseHandle(file);
            DeleteFileA(tempFileName);
            SetLastError(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        Unbuffered(stream);
        return stream;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return NULL;
#else
    // The descriptor of the new file is written through as it is: the file
    // was made by this open, so it is a regular file and empty.
    int fd = CreateTempFileDescriptor(folder, prefix, tempFileName, NULL);
    if (fd < 0)
        return NULL;
    FILE *stream = OS_CALL(fdopen)(fd, "wb");
    if (stream == NULL) {
        int error = errno;
        OS_CALL(close)(fd);
        OS_CALL(unlink)(tempFileName);
        SetLastErrorFromStdio(error);
        return NULL;
    }
    Unbuffered(stream);
    return stream;
#endif
}

size_t ReadStream(FILE *stream, void *buffer, size_t count)
{
    if (stream == NULL || count == 0)
        return 0;
    return OS_CALL(fread)(buffer, 1, count, stream);
}

size_t ReadStreamAt(FILE *stream, LONG offset, void *buffer, size_t count)
{
#ifdef _WIN32
    if (!SeekStream(stream, offset))
        return 0;
    return ReadStream(stream, buffer, count);
#else
    // One positioned read, without a seek that would throw away the stdio
    // buffer: a site of 65533 records is read with one call per record.
    if (stream == NULL || offset < 0 || count == 0)
        return 0;
    int fd = fileno(stream);
    size_t done = 0;
    while (done < count) {
        ssize_t got =
            OS_CALL(pread)(fd, (char *)buffer + done, count - done, (off_t)offset + (off_t)done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += (size_t)got;
    }
    return done;
#endif
}

size_t CopyStreamFast(FILE *output, FILE *input, LONG offset, size_t count)
{
#ifdef _WIN32
    (void)output;
    (void)input;
    (void)offset;
    (void)count;
    return 0;
#else
    // copy_file_range moves the bytes from page cache to page cache: a copy
    // through a buffer here would move them twice. Both streams are
    // unbuffered, so the descriptors' positions are the streams' own.
    if (output == NULL || input == NULL || offset < 0)
        return 0;
    loff_t from = offset;
    size_t done = 0;
    while (done < count) {
        ssize_t copied =
            OS_CALL(copy_file_range)(fileno(input), &from, fileno(output), NULL, count - done, 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied <= 0)
            break;
        done += (size_t)copied;
    }
    return done;
#endif
}

BOOL WriteStream(FILE *stream, const void *buffer, size_t count)
{
    if (stream == NULL)
        return FALSE;
    if (count == 0)
        return TRUE;
    errno = 0;
    if (OS_CALL(fwrite)(buffer, 1, count, stream) == count)
        return TRUE;
    SetLastErrorFromStdio(errno);
    return FALSE;
}

BOOL SeekStream(FILE *stream, LONG offset)
{
    if (stream == NULL || offset < 0)
        return FALSE;
    return OS_CALL(fseek)(stream, (long)offset, SEEK_SET) == 0 ? TRUE : FALSE;
}

BOOL GetStreamIdentity(FILE *stream, struct StreamIdentity *identity)
{
    if (stream == NULL || identity == NULL)
        return FALSE;
    memset(identity, 0, sizeof *identity);
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return FALSE;
    identity->volume = info.dwVolumeSerialNumber;
    identity->indexHigh = info.nFileIndexHigh;
    identity->indexLow = info.nFileIndexLow;
    identity->sizeHigh = info.nFileSizeHigh;
    identity->sizeLow = info.nFileSizeLow;
    identity->lastWrite = info.ftLastWriteTime;
#else
    struct stat info;
    if (OS_CALL(fstat)(fileno(stream), &info) != 0) {
        SetLastErrorFromStdio(errno);
        return FALSE;
    }
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof found);
    CompleteFindData(&info, &found);
    identity->volume = (DWORD)info.st_dev;
    identity->indexHigh = (DWORD)((uint64_t)info.st_ino >> 32);
    identity->indexLow = (DWORD)((uint64_t)info.st_ino & 0xFFFFFFFFu);
    identity->sizeHigh = found.nFileSizeHigh;
    identity->sizeLow = found.nFileSizeLow;
    identity->lastWrite = found.ftLastWriteTime;
#endif
    return TRUE;
}

BOOL SameStreamIdentity(const struct StreamIdentity *a, const struct StreamIdentity *b)
{
    // A file system that numbers no files (index 0) is judged by size and time.
    BOOL numbered = (a->indexHigh | a->indexLow) != 0 && (b->indexHigh | b->indexLow) != 0;
    return (!numbered || (a->volume == b->volume && a->indexHigh == b->indexHigh &&
                          a->indexLow == b->indexLow)) &&
           a->sizeHigh == b->sizeHigh && a->sizeLow == b->sizeLow &&
           a->lastWrite.dwLowDateTime == b->lastWrite.dwLowDateTime &&
           a->lastWrite.dwHighDateTime == b->lastWrite.dwHighDateTime;
}

BOOL CloseStream(FILE *stream)
{
    if (stream == NULL)
        return TRUE;
    errno = 0;
    int flushed = OS_CALL(fflush)(stream);
    int flushError = errno;
    int closed = OS_CALL(fclose)(stream);
    if (flushed == 0 && closed == 0)
        return TRUE;
    SetLastErrorFromStdio(flushed != 0 ? flushError : errno);
    return FALSE;
}
