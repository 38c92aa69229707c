// Raw byte streams over stdio; see stream.h.
#include "platform/stream.h"

#include <errno.h>

#ifndef _WIN32
#include <unistd.h>

#include "platform/linux/last_error.h"
#include "platform/linux/native_path.h"
#endif

namespace {

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

} // namespace

FILE *OpenStream(const char *path, const char *mode)
{
    if (path == NULL || mode == NULL)
        return NULL;
#ifdef _WIN32
    FILE *stream = fopen(path, mode);
#else
    char native[NATIVE_PATH_SIZE];
    if (!ToNativePath(path, native, sizeof native)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return NULL;
    }
    FILE *stream = fopen(native, mode);
    // A file opened for reading exists: when the name as given is not
    // there, find it as Win32 would, whatever the case of its name. Files
    // written are created as named.
    if (stream == NULL && mode[0] == 'r' && errno == ENOENT &&
        ToExistingNativePath(path, native, sizeof native))
        stream = fopen(native, mode);
#endif
    // Site files are read in pieces the plug-in sizes itself (a header, a
    // record window, 50000-byte copy chunks): a stdio buffer would only add
    // a copy, a seek at every repositioning and one at closing.
    if (stream == NULL)
        SetLastErrorFromStdio(errno);
    if (stream != NULL && mode[0] == 'r')
        setvbuf(stream, NULL, _IONBF, 0);
    return stream;
}

size_t ReadStream(FILE *stream, void *buffer, size_t count)
{
    if (stream == NULL || count == 0)
        return 0;
    return fread(buffer, 1, count, stream);
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
        ssize_t got = pread(fd, (char *)buffer + done, count - done, (off_t)offset + (off_t)done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += (size_t)got;
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
    if (fwrite(buffer, 1, count, stream) == count)
        return TRUE;
    SetLastErrorFromStdio(errno);
    return FALSE;
}

BOOL SeekStream(FILE *stream, LONG offset)
{
    if (stream == NULL || offset < 0)
        return FALSE;
    return fseek(stream, (long)offset, SEEK_SET) == 0 ? TRUE : FALSE;
}

BOOL CloseStream(FILE *stream)
{
    if (stream == NULL)
        return TRUE;
    errno = 0;
    int flushed = fflush(stream);
    int flushError = errno;
    int closed = fclose(stream);
    if (flushed == 0 && closed == 0)
        return TRUE;
    SetLastErrorFromStdio(flushed != 0 ? flushError : errno);
    return FALSE;
}
