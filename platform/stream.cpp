// Raw byte streams over stdio; see stream.h.
#include "platform/stream.h"

#ifndef _WIN32
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
    if (!ToNativePath(path, native, sizeof native))
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
    if (!SeekStream(stream, offset))
        return 0;
    return ReadStream(stream, buffer, count);
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
