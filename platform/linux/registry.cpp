// The registry functions over a REGEDIT4 text file (see registry_file.h for
// the model). The file is named by QVORK_REGISTRY, else
// $XDG_CONFIG_HOME/qvork/registry.reg, else ~/.config/qvork/registry.reg,
// looked up afresh on every call; a missing file is an empty registry.
//
// Invariants:
//   1. Every read parses the file as it is on disk now: an open checks that
//      the key exists, a query reads the value at query time. Nothing is
//      cached, so another process's write is seen by the next call.
//   2. Every write (RegCreateKeyExA, RegSetValueExA, RegDeleteValueA) holds
//      an exclusive flock on the file itself while it re-reads the file,
//      changes its model and replaces the file whole: a temporary file
//      beside it, written, fsync'ed and renamed over it, then the folder
//      fsync'ed. Readers therefore see the old file or the new one, never a
//      mix; two writers never lose each other's values; a failed write
//      leaves the old file as it was, and nothing is left beside it.
//   3. The file is the user's: only a regular file is opened, without
//      blocking (a folder, device, FIFO or socket is ERROR_ACCESS_DENIED), a
//      file that does not start with REGEDIT4 is never written over
//      (ERROR_BADDB), and a save rewrites only the values it changed (see
//      registry_file.h). A symbolic link stays one: its target is written.
// Where this differs from Windows: keys have no security, class, times or
// links; a key exists when the file lists it or a key below it; only
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are roots; data is capped at
// REGISTRY_DATA_MAX bytes. Like Windows, these functions return their error
// and leave GetLastError alone.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/last_error.h"
#include "platform/linux/native_path.h"
#include "platform/linux/registry_file.h"
#include "platform/linux/registry_location.h"
#include "platform/linux/system_calls.h"
#include "platform/win32.h"

#define REGISTRY_FILE_MAX (16u << 20) // bytes; a larger file is refused, never cut

// An open key: what an HKEY other than a predefined root points at.
struct RegistryKey {
    struct RegistryKey *next;      // next open key (openKeys list)
    REGSAM access;                 // as asked for at open or create
    char path[REGISTRY_PATH_SIZE]; // normalised, e.g. "HKEY_CURRENT_USER\Software\x"
};

static pthread_mutex_t openKeyLock = PTHREAD_MUTEX_INITIALIZER;
static struct RegistryKey *openKeys = NULL; // every key not yet closed

// --- The file -------------------------------------------------------------------

LONG LocateRegistryFile(char *path, size_t size)
{
    const char *file = getenv("QVORK_REGISTRY");
    if (file != NULL && file[0] != '\0')
        return ToNativePath(file, path, size) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
    const char *config = getenv("XDG_CONFIG_HOME");
    int written;
    if (config != NULL && config[0] == '/') { // the XDG rules ignore a relative one
        written = snprintf(path, size, "%s/qvork/registry.reg", config);
    } else {
        const char *home = getenv("HOME");
        struct passwd entry, *user = NULL;
        char entryText[4096];
        if ((home == NULL || home[0] == '\0') &&
            getpwuid_r(getuid(), &entry, entryText, sizeof entryText, &user) == 0 && user != NULL)
            home = user->pw_dir;
        if (home == NULL || home[0] == '\0')
            return ERROR_PATH_NOT_FOUND;
        written = snprintf(path, size, "%s/.config/qvork/registry.reg", home);
    }
    return written > 0 && (size_t)written < size ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

// ERROR_ACCESS_DENIED for something other than a regular file, named in `why`.
static LONG RefuseFileKind(mode_t mode, const char **why)
{
    *why = S_ISDIR(mode)    ? "is a folder, not a registry file"
           : S_ISCHR(mode)  ? "is a character device, not a registry file"
           : S_ISBLK(mode)  ? "is a block device, not a registry file"
           : S_ISFIFO(mode) ? "is a FIFO, not a registry file"
           : S_ISSOCK(mode) ? "is a socket, not a registry file"
                            : "is not a regular file, so not a registry file";
    return ERROR_ACCESS_DENIED;
}

// Opens the registry file `path` with `flags` (O_RDONLY or O_RDWR). Only a
// regular file is opened: anything else is refused before the open (a FIFO
// would block it, and a device is not ours to read or replace) and after it
// (in case it was swapped meanwhile). *fd is -1 when there is no file.
static LONG OpenRegistryFile(const char *path, int flags, int *fd, struct stat *info,
                             const char **why)
{
    *fd = -1;
    if (OS_CALL(stat)(path, info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_SUCCESS
                                                   : (LONG)Win32ErrorFromErrno(errno, path);
    if (!S_ISREG(info->st_mode))
        return RefuseFileKind(info->st_mode, why);
    int opened = OS_CALL(open)(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (opened < 0)
        return errno == ENOENT ? ERROR_SUCCESS
               : flags == O_RDONLY ? (LONG)Win32ErrorFromErrno(errno, path)
                                   : ERROR_ACCESS_DENIED; // a read-only registry stays as it is
    if (fstat(opened, info) != 0 || !S_ISREG(info->st_mode)) {
        OS_CALL(close)(opened);
        return RefuseFileKind(info->st_mode, why);
    }
    *fd = opened;
    return ERROR_SUCCESS;
}

// Reads up to REGISTRY_FILE_MAX + 1 bytes of the open file `fd` into a
// malloc'd buffer.
static LONG ReadWholeFile(int fd, BYTE **bytes, size_t *size)
{
    size_t capacity = 64 * 1024, used = 0;
    BYTE *buffer = (BYTE *)malloc(capacity);
    if (buffer == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (;;) {
        if (used == capacity) {
            if (capacity > REGISTRY_FILE_MAX) {
                free(buffer);
                return ERROR_NOT_ENOUGH_MEMORY; // too large to be ours
            }
            BYTE *larger = (BYTE *)realloc(buffer, capacity * 2);
            if (larger == NULL) {
                free(buffer);
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            buffer = larger;
            capacity *= 2;
        }
        ssize_t got = OS_CALL(read)(fd, buffer + used, capacity - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            LONG error = (LONG)Win32ErrorFromErrno(errno, NULL);
            free(buffer);
            return error;
        }
        if (got == 0)
            break;
        used += (size_t)got;
        if (used > REGISTRY_FILE_MAX) {
            free(buffer);
            return ERROR_NOT_ENOUGH_MEMORY; // too large to be ours
        }
    }
    *bytes = buffer;
    *size = used;
    return ERROR_SUCCESS;
}

// Reads the open registry file `fd` into `model` (empty). With
// `forWriting`, a file that is not a registry file is refused (ERROR_BADDB).
static LONG ReadRegistryFile(int fd, BOOL forWriting, RegistryModel *model, const char **why)
{
    BYTE *bytes = NULL;
    size_t size = 0;
    LONG error = ReadWholeFile(fd, &bytes, &size);
    if (error != ERROR_SUCCESS)
        return error;
    if (forWriting && !IsRegistryFileText(bytes, size)) {
        *why = "does not start with the line REGEDIT4, so it is not a registry file";
        error = ERROR_BADDB;
    } else if (!ParseRegistryFile(bytes, size, model)) {
        FreeRegistryModel(model);
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    free(bytes);
    return error;
}

LONG CheckRegistryFile(const char *path, const char **why)
{
    *why = "";
    int fd;
    struct stat info;
    LONG error = OpenRegistryFile(path, O_RDONLY, &fd, &info, why);
    if (error != ERROR_SUCCESS || fd < 0)
        return error;
    RegistryModel model;
    InitRegistryModel(&model);
    error = ReadRegistryFile(fd, TRUE, &model, why);
    OS_CALL(close)(fd);
    FreeRegistryModel(&model);
    return error;
}

// Loads the registry from wherever the environment now points; no file is
// an empty registry.
static LONG LoadCurrentRegistry(RegistryModel *model)
{
    InitRegistryModel(model);
    char path[NATIVE_PATH_SIZE];
    LONG error = LocateRegistryFile(path, sizeof path);
    int fd = -1;
    struct stat info;
    const char *why;
    if (error == ERROR_SUCCESS)
        error = OpenRegistryFile(path, O_RDONLY, &fd, &info, &why);
    if (error != ERROR_SUCCESS || fd < 0)
        return error;
    error = ReadRegistryFile(fd, FALSE, model, &why);
    OS_CALL(close)(fd);
    return error;
}

// The Win32 code for a failed write step: every way of being kept from
// writing is ERROR_ACCESS_DENIED.
static LONG WriteError(int error, const char *path)
{
    if (error == ENOENT || error == ENOTDIR)
        return ERROR_ACCESS_DENIED;
    return (LONG)Win32ErrorFromErrno(error, path);
}

// Follows symbolic links from `path` to the file they name, even one that
// does not exist yet, so that a link stays a link and its target is written.
static LONG FollowLinks(char *path, size_t size)
{
    for (int depth = 0; depth < 40; depth++) {
        char target[PATH_MAX];
        if (OS_CALL(realpath)(path, target) != NULL)
            return snprintf(path, size, "%s", target) < (int)size ? ERROR_SUCCESS
                                                                  : ERROR_FILENAME_EXCED_RANGE;
        ssize_t length = OS_CALL(readlink)(path, target, sizeof target - 1);
        if (length < 0)
            return ERROR_SUCCESS; // not a link: the path as it is
        target[length] = '\0';
        char joined[PATH_MAX];
        const char *slash = strrchr(path, '/');
        int folderLength = target[0] != '/' && slash != NULL ? (int)(slash - path + 1) : 0;
        if (snprintf(joined, sizeof joined, "%.*s%s", folderLength, path, target) >=
                (int)sizeof joined ||
            snprintf(path, size, "%s", joined) >= (int)size)
            return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_ACCESS_DENIED; // a loop of links
}

// Creates the folders on the way to the file `path` that are missing.
static LONG MakeParentFolders(const char *path)
{
    char folder[NATIVE_PATH_SIZE];
    size_t length = strlen(path);
    if (length >= sizeof folder)
        return ERROR_FILENAME_EXCED_RANGE;
    memcpy(folder, path, length + 1);
    char *slash = strrchr(folder, '/');
    if (slash == NULL || slash == folder)
        return ERROR_SUCCESS;
    *slash = '\0';
    for (char *p = folder + 1; ; p++) {
        BOOL last = *p == '\0';
        if (*p != '/' && !last)
            continue;
        *p = '\0';
        if (OS_CALL(mkdir)(folder, 0777) != 0) {
            int error = errno; // EEXIST also for a file in the way
            struct stat info;
            if (OS_CALL(stat)(folder, &info) != 0 || !S_ISDIR(info.st_mode))
                return WriteError(error == EEXIST ? ENOTDIR : error, folder);
        }
        if (last)
            break;
        *p = '/';
    }
    return ERROR_SUCCESS;
}

// One read-modify-write of the registry file (invariant 2): begin, change
// `model`, commit, end.
typedef struct RegistryUpdate {
    char path[NATIVE_PATH_SIZE]; // the registry file, links followed
    int fd;                      // the file, flock'ed exclusively; -1 when not held
    struct stat file;            // what fd is
    BOOL created;                // fd is an empty file this update made
    BOOL committed;              // the new text replaced the file
    RegistryModel model;         // the file as read under the lock
} RegistryUpdate;

// Opens the registry file for writing and locks it, making it empty when
// there is none. The lock is on the file itself, so nothing is left beside
// it; since every write replaces the file, a writer whose lock came on a file
// that was replaced while it waited tries again on the new one.
static LONG LockRegistryFile(RegistryUpdate *update, const char **why)
{
    for (int attempt = 0; attempt < 1000; attempt++) {
        int fd;
        LONG error = OpenRegistryFile(update->path, O_RDWR, &fd, &update->file, why);
        if (error != ERROR_SUCCESS)
            return error;
        BOOL created = FALSE;
        if (fd < 0) {
            fd = OS_CALL(open)(update->path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               0644);
            if (fd < 0 && errno == EEXIST)
                continue; // made meanwhile: open that one
            if (fd < 0)
                return WriteError(errno, update->path);
            created = TRUE;
        }
        int locked;
        while ((locked = OS_CALL(flock)(fd, LOCK_EX)) != 0 && errno == EINTR)
            ;
        struct stat now;
        if (locked == 0 && OS_CALL(fstat)(fd, &update->file) == 0 &&
            OS_CALL(stat)(update->path, &now) == 0 &&
            now.st_dev == update->file.st_dev && now.st_ino == update->file.st_ino) {
            update->fd = fd;
            update->created = created;
            return ERROR_SUCCESS;
        }
        int failure = errno;
        OS_CALL(close)(fd);
        if (locked != 0)
            return WriteError(failure, update->path);
    }
    return ERROR_SHARING_VIOLATION; // replaced again and again under our hands
}

static LONG BeginRegistryUpdate(RegistryUpdate *update)
{
    update->fd = -1;
    update->created = update->committed = FALSE;
    InitRegistryModel(&update->model);
    const char *why; // CheckRegistryFile says it to the user
    LONG error = LocateRegistryFile(update->path, sizeof update->path);
    if (error == ERROR_SUCCESS)
        error = FollowLinks(update->path, sizeof update->path);
    if (error == ERROR_SUCCESS)
        error = MakeParentFolders(update->path);
    if (error == ERROR_SUCCESS)
        error = LockRegistryFile(update, &why);
    if (error == ERROR_SUCCESS)
        error = ReadRegistryFile(update->fd, TRUE, &update->model, &why);
    return error;
}

// Writes all of `bytes` to `fd`.
static BOOL WriteAll(int fd, const BYTE *bytes, size_t size)
{
    while (size > 0) {
        ssize_t done = OS_CALL(write)(fd, bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return FALSE;
        bytes += done;
        size -= (size_t)done;
    }
    return TRUE;
}

// Replaces the file with `bytes` through a temporary file beside it, with
// the permissions and, where we may, the owner of `old`.
static LONG ReplaceFileAtomically(const char *path, const struct stat *old, const BYTE *bytes,
                                  size_t size)
{
    char temporary[NATIVE_PATH_SIZE + 8];
    snprintf(temporary, sizeof temporary, "%s.XXXXXX", path);
    int fd = OS_CALL(mkostemp)(temporary, O_CLOEXEC);
    if (fd < 0)
        return WriteError(errno, temporary);
    if (old->st_uid != geteuid() || old->st_gid != getegid())
        (void)!OS_CALL(fchown)(fd, old->st_uid, old->st_gid); // only root may; others keep theirs
    int error = 0;
    errno = 0;
    if (OS_CALL(fchmod)(fd, old->st_mode & 0777) != 0 || !WriteAll(fd, bytes, size) ||
        OS_CALL(fsync)(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (OS_CALL(close)(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && OS_CALL(rename)(temporary, path) != 0)
        error = errno;
    if (error != 0) {
        OS_CALL(unlink)(temporary);
        return WriteError(error, path);
    }
    char folder[NATIVE_PATH_SIZE];
    snprintf(folder, sizeof folder, "%s", path);
    char *slash = strrchr(folder, '/');
    if (slash != NULL) {
        slash[slash == folder ? 1 : 0] = '\0';
        int folderFd = OS_CALL(open)(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (folderFd >= 0) {
            OS_CALL(fsync)(folderFd); // makes the rename itself durable; a failure loses nothing
            OS_CALL(close)(folderFd);
        }
    }
    return ERROR_SUCCESS;
}

static LONG CommitRegistryUpdate(RegistryUpdate *update)
{
    BYTE *bytes = NULL;
    size_t size = 0;
    if (!SerialiseRegistryFile(&update->model, &bytes, &size))
        return ERROR_NOT_ENOUGH_MEMORY;
    LONG error = ReplaceFileAtomically(update->path, &update->file, bytes, size);
    free(bytes);
    update->committed = error == ERROR_SUCCESS;
    return error;
}

static void EndRegistryUpdate(RegistryUpdate *update)
{
    struct stat now;
    if (update->created && !update->committed && OS_CALL(stat)(update->path, &now) == 0 &&
        now.st_dev == update->file.st_dev && now.st_ino == update->file.st_ino)
        OS_CALL(unlink)(update->path); // the empty file this update made, still under our lock
    if (update->fd >= 0)
        OS_CALL(close)(update->fd); // releases the flock
    update->fd = -1;
    FreeRegistryModel(&update->model);
}

// --- Handles ----------------------------------------------------------------------

static BOOL IsPredefinedRoot(HKEY key)
{
    return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ? TRUE : FALSE;
}

// The path and access of `key` (a root or an open key).
static LONG DescribeKey(HKEY key, char *path, REGSAM *access)
{
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        strcpy(path, key == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE");
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    LONG error = ERROR_INVALID_HANDLE;
    pthread_mutex_lock(&openKeyLock);
    for (struct RegistryKey *open = openKeys; open != NULL; open = open->next) {
        if (open == key) {
            memcpy(path, open->path, sizeof open->path);
            *access = open->access;
            error = ERROR_SUCCESS;
            break;
        }
    }
    pthread_mutex_unlock(&openKeyLock);
    return error;
}

// The normalised path of `subKey` (NULL or "" for the key itself) below `key`.
static LONG ResolveSubKey(HKEY key, const char *subKey, char *path, REGSAM *access)
{
    char parent[REGISTRY_PATH_SIZE];
    LONG error = DescribeKey(key, parent, access);
    if (error != ERROR_SUCCESS)
        return error;
    if (subKey == NULL || subKey[0] == '\0') {
        memcpy(path, parent, sizeof parent);
        return ERROR_SUCCESS;
    }
    char joined[2 * REGISTRY_PATH_SIZE];
    size_t parentLength = strlen(parent), subKeyLength = strlen(subKey);
    if (subKeyLength >= sizeof joined - parentLength - 1)
        return ERROR_INVALID_PARAMETER;
    memcpy(joined, parent, parentLength);
    joined[parentLength] = '\\';
    memcpy(joined + parentLength + 1, subKey, subKeyLength);
    return NormaliseRegistryPath(joined, parentLength + 1 + subKeyLength, path)
               ? ERROR_SUCCESS
               : ERROR_INVALID_PARAMETER;
}

static LONG OpenKeyHandle(const char *path, REGSAM access, HKEY *result)
{
    struct RegistryKey *key = (struct RegistryKey *)calloc(1, sizeof *key);
    if (key == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    key->access = access;
    snprintf(key->path, sizeof key->path, "%s", path);
    pthread_mutex_lock(&openKeyLock);
    key->next = openKeys;
    openKeys = key;
    pthread_mutex_unlock(&openKeyLock);
    *result = key;
    return ERROR_SUCCESS;
}

// TRUE for a root path, which always exists.
static BOOL IsRootPath(const char *path)
{
    return strchr(path, '\\') == NULL ? TRUE : FALSE;
}

// --- The API ----------------------------------------------------------------------

LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD options, REGSAM access, HKEY *result)
{
    (void)options;
    if (result == NULL)
        return ERROR_INVALID_PARAMETER;
    if (IsPredefinedRoot(key) && (subKey == NULL || subKey[0] == '\0')) {
        *result = key;
        return ERROR_SUCCESS;
    }
    *result = NULL;
    char path[REGISTRY_PATH_SIZE];
    REGSAM parentAccess;
    LONG error = ResolveSubKey(key, subKey, path, &parentAccess);
    if (error != ERROR_SUCCESS)
        return error;
    if (!IsRootPath(path)) {
        RegistryModel model;
        error = LoadCurrentRegistry(&model);
        if (error == ERROR_SUCCESS && !RegistryKeyExists(&model, path))
            error = ERROR_FILE_NOT_FOUND;
        FreeRegistryModel(&model);
        if (error != ERROR_SUCCESS)
            return error;
    }
    return OpenKeyHandle(path, access, result);
}

LONG RegCreateKeyExA(HKEY key, const char *subKey, DWORD reserved, char *className, DWORD options,
                     REGSAM access, SECURITY_ATTRIBUTES *security, HKEY *result, DWORD *disposition)
{
    (void)className;
    (void)options;
    (void)security;
    if (result == NULL)
        return ERROR_BADKEY;
    if (reserved != 0)
        return ERROR_INVALID_PARAMETER;
    char path[REGISTRY_PATH_SIZE];
    REGSAM parentAccess;
    LONG error = ResolveSubKey(key, subKey, path, &parentAccess);
    if (error != ERROR_SUCCESS)
        return error;
    // Always a write, even for a key that exists: a registry that cannot be
    // written fails here, as a key that cannot be opened for writing does.
    RegistryUpdate update;
    error = BeginRegistryUpdate(&update);
    BOOL existed = IsRootPath(path) || RegistryKeyExists(&update.model, path);
    if (error == ERROR_SUCCESS && !existed && AddRegistryKey(&update.model, path) == NULL)
        error = ERROR_NOT_ENOUGH_MEMORY;
    if (error == ERROR_SUCCESS)
        error = CommitRegistryUpdate(&update);
    EndRegistryUpdate(&update);
    if (error == ERROR_SUCCESS)
        error = OpenKeyHandle(path, access, result);
    if (error == ERROR_SUCCESS && disposition != NULL)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return error;
}

LONG RegQueryValueExA(HKEY key, const char *valueName, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *dataSize)
{
    if ((data != NULL && dataSize == NULL) || reserved != NULL)
        return ERROR_INVALID_PARAMETER;
    char path[REGISTRY_PATH_SIZE];
    REGSAM access;
    LONG error = DescribeKey(key, path, &access);
    if (error != ERROR_SUCCESS)
        return error;
    RegistryModel model;
    error = LoadCurrentRegistry(&model);
    if (error != ERROR_SUCCESS)
        return error;
    const RegistryKeyRecord *record = FindRegistryKey(&model, path);
    const RegistryValueRecord *value =
        record != NULL ? FindRegistryValue(record, valueName != NULL ? valueName : "") : NULL;
    if (value == NULL) {
        error = ERROR_FILE_NOT_FOUND;
    } else {
        if (type != NULL)
            *type = value->type;
        if (data != NULL && *dataSize < value->size)
            error = ERROR_MORE_DATA; // the buffer is left as it was
        else if (data != NULL && value->size > 0)
            memcpy(data, value->data, value->size);
        if (dataSize != NULL)
            *dataSize = value->size;
    }
    FreeRegistryModel(&model);
    return error;
}

// Checks a key for a value write; fills its path.
static LONG PrepareValueWrite(HKEY key, char *path)
{
    REGSAM access;
    LONG error = DescribeKey(key, path, &access);
    if (error == ERROR_SUCCESS && (access & KEY_SET_VALUE) == 0)
        error = ERROR_ACCESS_DENIED;
    return error;
}

LONG RegSetValueExA(HKEY key, const char *valueName, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD dataSize)
{
    (void)reserved;
    if (valueName == NULL)
        valueName = "";
    if ((data == NULL && dataSize > 0) || !IsValidValueName(valueName) ||
        dataSize > REGISTRY_DATA_MAX)
        return ERROR_INVALID_PARAMETER;
    char path[REGISTRY_PATH_SIZE];
    LONG error = PrepareValueWrite(key, path);
    if (error != ERROR_SUCCESS)
        return error;
    RegistryUpdate update;
    error = BeginRegistryUpdate(&update);
    if (error == ERROR_SUCCESS) {
        RegistryKeyRecord *record = AddRegistryKey(&update.model, path);
        if (record == NULL || !SetRegistryValue(record, valueName, type, data, dataSize))
            error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS)
        error = CommitRegistryUpdate(&update);
    EndRegistryUpdate(&update);
    return error;
}

LONG RegDeleteValueA(HKEY key, const char *valueName)
{
    if (valueName == NULL)
        valueName = "";
    char path[REGISTRY_PATH_SIZE];
    LONG error = PrepareValueWrite(key, path);
    if (error != ERROR_SUCCESS)
        return error;
    RegistryUpdate update;
    error = BeginRegistryUpdate(&update);
    if (error == ERROR_SUCCESS) {
        RegistryKeyRecord *record = FindRegistryKey(&update.model, path);
        if (record == NULL || !DeleteRegistryValue(record, valueName))
            error = ERROR_FILE_NOT_FOUND;
    }
    if (error == ERROR_SUCCESS)
        error = CommitRegistryUpdate(&update);
    EndRegistryUpdate(&update);
    return error;
}

LONG RegCloseKey(HKEY key)
{
    if (IsPredefinedRoot(key))
        return ERROR_SUCCESS;
    struct RegistryKey *found = NULL;
    pthread_mutex_lock(&openKeyLock);
    for (struct RegistryKey **link = &openKeys; *link != NULL; link = &(*link)->next) {
        if (*link == key) {
            found = *link;
            *link = found->next;
            break;
        }
    }
    pthread_mutex_unlock(&openKeyLock);
    if (found == NULL)
        return ERROR_INVALID_HANDLE;
    free(found);
    return ERROR_SUCCESS;
}
