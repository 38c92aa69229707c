// Raw byte streams of the plug-in: site files are read ("rb") and copies are
// written ("wb") through these. Paths are Win32 paths; on Linux each "\" is
// taken as "/" (see platform/linux/native_path.h). On Linux the C library is
// reached through the layer's table of system calls
// (platform/linux/system_calls.h), so a test can watch or fail each call.
#ifndef QVORK_PLATFORM_STREAM_H
#define QVORK_PLATFORM_STREAM_H

#include <stddef.h>
#include <stdio.h>

#include "platform/win32.h"

// Opens `path` with the stdio `mode` ("r", "w" or "a" first); NULL when it
// cannot be opened or is not a regular file (a folder, a FIFO, a device),
// which is never opened in a way that could block.
FILE *OpenStream(const char *path, const char *mode);
// Opens for reading ("rb") a file a directory search (FindFirstFileA,
// BeginNameSearch, FindNextFileA) has just handed out as `found`. A folder
// or a device (FILE_ATTRIBUTE_DEVICE) is not opened at all; for anything
// else the search's look at the name stands for the one OpenStream takes
// before opening (the descriptor's own type still decides). What a name
// search left out of `found` (sizes, times) is filled in, opened or not;
// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND: the entry is gone.
FILE *OpenFoundFile(const char *path, WIN32_FIND_DATAA *found);
// Creates a new, empty temporary file in `folder` as GetTempFileNameA with
// `prefix` and 0 does, writes its name into `tempFileName` (MAX_PATH bytes)
// and returns it open for writing ("wb"). NULL, with the last error set and
// no file left behind, when none could be made and opened.
FILE *CreateTempStream(const char *folder, const char *prefix, char *tempFileName);
// Reads up to `count` bytes at the current position; returns the bytes read.
size_t ReadStream(FILE *stream, void *buffer, size_t count);
// Reads up to `count` bytes from byte `offset` of the file; returns the bytes
// read (0 for a negative offset or one at or past the end). Where the
// stream's position is afterwards is not defined.
size_t ReadStreamAt(FILE *stream, LONG offset, void *buffer, size_t count);
// Copies up to `count` bytes from byte `offset` of `input` to `output` at its
// position (which moves on) inside the system, without passing them through
// the caller; returns how many. Where the system has no such copy, or it
// stops early for any reason (the end of `input`, a failure), fewer are
// copied, possibly none: the caller copies the rest through ReadStream and
// WriteStream, which then meet and report any failure themselves.
size_t CopyStreamFast(FILE *output, FILE *input, LONG offset, size_t count);
// Writes `count` bytes; TRUE only when all of them were accepted.
BOOL WriteStream(FILE *stream, const void *buffer, size_t count);
// Positions the stream at byte `offset` from the start; FALSE for a negative
// offset or when the seek fails.
BOOL SeekStream(FILE *stream, LONG offset);
// What tells one file from another, and one state of a file from a later
// one: where it lies (volume and file number), its size and its last write.
struct StreamIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    DWORD sizeHigh;
    DWORD sizeLow;
    FILETIME lastWrite;
};
// The identity of the open file; FALSE when the system cannot tell it.
BOOL GetStreamIdentity(FILE *stream, struct StreamIdentity *identity);
// TRUE when both name one file in one state.
BOOL SameStreamIdentity(const struct StreamIdentity *a, const struct StreamIdentity *b);
// Flushes and closes; TRUE only when both succeeded. NULL is ignored (TRUE).
BOOL CloseStream(FILE *stream);

#endif // QVORK_PLATFORM_STREAM_H
