// Raw byte streams over stdio; see stream.h.
#include "platform/stream.h"

#ifndef _WIN32
#include <errno.h>
#include <unistd.h>

#include "platform/linux/native_path.h"
#endif

FILE *OpenStream(const char *path, const char *mode)
{
    if (path == NULL || mode == NULL)
        return NULL;
#ifdef _WIN32
    return fopen(path, mode);
#else
    char native[NATIVE_PATH_SIZE];
    // A file opened for reading exists: find it as Win32 would, whatever
    // the case of its name. Files written are created as named.
    BOOL found = mode[0] == 'r' ? ToExistingNativePath(path, native, sizeof native)
                                : ToNativePath(path, native, sizeof native);
    if (!found)
        return NULL;
    return fopen(native, mode);
#endif
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
    return fwrite(buffer, 1, count, stream) == count ? TRUE : FALSE;
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
    int flushed = fflush(stream);
    int closed = fclose(stream);
    return flushed == 0 && closed == 0 ? TRUE : FALSE;
}
