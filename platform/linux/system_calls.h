// The operating system calls of the Linux layer, each reached through one
// table entry: its name, the pointer called now and the default. Every file
// of platform/ calls the system through OS_CALL(name), never directly, so a
// test (or the fuzz targets' write guard) can put its own function in any
// entry to fail a call with a chosen error or to watch the calls, with no
// privileges and no real full or read-only file system.
// Invariants:
//   1. Every entry's pointer has exactly the type its SYSTEM_CALL line gives
//      (the defaults are the C library's functions or wrappers of exactly
//      that type); a replacement must have it too.
//   2. Entries are changed only while no other thread calls the layer.
#ifndef QVORK_PLATFORM_LINUX_SYSTEM_CALLS_H
#define QVORK_PLATFORM_LINUX_SYSTEM_CALLS_H

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/win32.h"

// Every call as X(name, default, result type, parameter types). `open` is
// taken with its mode always given (the C library's is variadic).
#define QVORK_SYSTEM_CALLS(X)                                                                  \
    X(open, OpenWithMode, int, (const char *, int, mode_t))                                    \
    X(close, close, int, (int))                                                                \
    X(read, read, ssize_t, (int, void *, size_t))                                              \
    X(pread, pread, ssize_t, (int, void *, size_t, off_t))                                     \
    X(write, write, ssize_t, (int, const void *, size_t))                                      \
    X(copy_file_range, copy_file_range, ssize_t, (int, loff_t *, int, loff_t *, size_t, unsigned)) \
    X(fsync, fsync, int, (int))                                                                \
    X(ftruncate, ftruncate, int, (int, off_t))                                                 \
    X(fchmod, fchmod, int, (int, mode_t))                                                      \
    X(fchown, fchown, int, (int, uid_t, gid_t))                                                \
    X(flock, flock, int, (int, int))                                                           \
    X(mkostemp, mkostemp, int, (char *, int))                                                  \
    X(stat, stat, int, (const char *, struct stat *))                                          \
    X(fstat, fstat, int, (int, struct stat *))                                                 \
    X(lstat, lstat, int, (const char *, struct stat *))                                        \
    X(fstatat, fstatat, int, (int, const char *, struct stat *, int))                          \
    X(fcntl, fcntl, int, (int, int, ...))                                                      \
    X(getrandom, getrandom, ssize_t, (void *, size_t, unsigned int))                           \
    X(mkdir, mkdir, int, (const char *, mode_t))                                               \
    X(unlink, unlink, int, (const char *))                                                     \
    X(rename, rename, int, (const char *, const char *))                                       \
    X(renameat2, renameat2, int, (int, const char *, int, const char *, unsigned int))         \
    X(realpath, realpath, char *, (const char *, char *))                                      \
    X(readlink, readlink, ssize_t, (const char *, char *, size_t))                             \
    X(opendir, opendir, DIR *, (const char *))                                                 \
    X(readdir, readdir, struct dirent *, (DIR *))                                              \
    X(closedir, closedir, int, (DIR *))                                                        \
    X(fopen, fopen, FILE *, (const char *, const char *))                                      \
    X(fdopen, fdopen, FILE *, (int, const char *))                                             \
    X(fread, fread, size_t, (void *, size_t, size_t, FILE *))                                  \
    X(fwrite, fwrite, size_t, (const void *, size_t, size_t, FILE *))                          \
    X(fseek, fseek, int, (FILE *, long, int))                                                  \
    X(fflush, fflush, int, (FILE *))                                                           \
    X(fclose, fclose, int, (FILE *))

// The entries' indexes and pointer types: SYSTEM_CALL_open, SystemCall_open.
#define QVORK_SYSTEM_CALL_INDEX(name, standard, result, parameters) SYSTEM_CALL_##name,
enum SystemCallIndex { QVORK_SYSTEM_CALLS(QVORK_SYSTEM_CALL_INDEX) SYSTEM_CALL_COUNT };
#undef QVORK_SYSTEM_CALL_INDEX
#define QVORK_SYSTEM_CALL_TYPE(name, standard, result, parameters)                              \
    typedef result(*SystemCall_##name) parameters;
QVORK_SYSTEM_CALLS(QVORK_SYSTEM_CALL_TYPE)
#undef QVORK_SYSTEM_CALL_TYPE

// Any entry's pointer, as the table keeps it.
typedef void (*SystemCallPointer)(void);

struct SystemCall {
    const char *name;           // the C library's name of the call
    SystemCallPointer current;  // what OS_CALL calls
    SystemCallPointer standard; // the default, restored by SetSystemCall(name, NULL)
};

extern struct SystemCall systemCalls[SYSTEM_CALL_COUNT];

// The call `name` as the layer makes it: OS_CALL(open)(path, flags, mode).
#define OS_CALL(name) ((SystemCall_##name)systemCalls[SYSTEM_CALL_##name].current)

// The table's interface for tests and the fuzz targets, in the manner of
// SQLite's xSetSystemCall. Visible outside the plug-in's module only where a
// build exports it (the tests' fault module); qvork.so keeps it local.
#define QVORK_SYSTEM_CALL_API extern "C" __attribute__((visibility("default")))

// Puts `pointer` into the entry `name` (NULL: the default back); a NULL name
// puts every default back. FALSE for a name the table does not hold.
QVORK_SYSTEM_CALL_API BOOL SetSystemCall(const char *name, SystemCallPointer pointer);
// The pointer the entry `name` holds now, or NULL for an unknown name.
QVORK_SYSTEM_CALL_API SystemCallPointer GetSystemCall(const char *name);
// The name of the entry after `name` (the first for NULL); NULL after the last.
QVORK_SYSTEM_CALL_API const char *NextSystemCall(const char *name);

#endif
