// Directory search: FindFirstFileA, FindNextFileA and FindClose over
// opendir/readdir. Entries are read lazily, one readdir step per call, so the
// search sees the folder as it is when each entry is handed out, in readdir
// order. Names are matched under the Win32 rules (see MatchesWin32Pattern).
// Where this differs from Windows: there are no 8.3 names (cAlternateFileName
// is always empty, and no name matches through its short form), names longer
// than MAX_PATH - 1 bytes are skipped, files carry FILE_ATTRIBUTE_ARCHIVE
// (plus READONLY when nobody may write them), a FIFO, socket or device node
// FILE_ATTRIBUTE_DEVICE as well, and nothing is ever HIDDEN. BeginNameSearch
// starts the same search without looking its entries up where the folder
// tells their type (see platform/file_names.h).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/file_names.h"
#include "platform/linux/find_data.h"
#include "platform/linux/find_file_seam.h"
#include "platform/linux/last_error.h"
#include "platform/linux/native_path.h"
#include "platform/linux/system_calls.h"
#include "platform/win32.h"

// A pattern translated once for all the names of a search: its tokens and
// how many of them, from the start, are plain characters.
typedef struct CompiledPattern {
    int tokens[MAX_PATH];
    int count;   // -1: the pattern is too long and matches nothing
    int literal; // leading tokens that each match one given character
} CompiledPattern;

// One open search; a HANDLE from FindFirstFileA points at one of these.
typedef struct FindSearch {
    struct FindSearch *next;      // next live search (liveSearches list)
    DIR *dir;                     // open folder, read one entry per step
    char folder[NATIVE_PATH_SIZE]; // native folder, for the hook
    char pattern[MAX_PATH];       // last component of the pattern
    CompiledPattern compiled;     // `pattern`, translated
    BOOL namesOnly;               // BeginNameSearch's: names, nothing looked up
    BOOL gaveName;                // the pattern, a plain name, was handed out first
} FindSearch;

static pthread_mutex_t liveSearchLock = PTHREAD_MUTEX_INITIALIZER;
static FindSearch *liveSearches = NULL; // every search not yet closed

static FindFileHook findHook = NULL;
static void *findHookContext = NULL;

void SetFindFileHook(FindFileHook hook, void *context)
{
    findHook = hook;
    findHookContext = context;
}

// --- Win32 wildcards --------------------------------------------------------
// Windows turns the user's pattern into the NT file system's DOS wildcards
// before matching: "?" becomes DOS_QM, a "*" followed by "." becomes
// DOS_STAR, a "." followed by "?", "*" or the end becomes DOS_DOT, and "*.*"
// is just "*". Their meaning:
//   *        any run of characters, dots included;
//   DOS_STAR any run, but never the name's last dot;
//   DOS_QM   one character, or nothing at a dot or at the end of the name;
//   DOS_DOT  a dot, or nothing at the end of the name.
// So "cache*." matches "cache12" and "cache" but not "cache12.tmp".

enum {
    TOKEN_STAR = 0x100,
    TOKEN_DOS_STAR,
    TOKEN_DOS_QM,
    TOKEN_DOS_DOT,
};

static int FoldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// Translates `pattern` into `tokens` (room for MAX_PATH); returns the count,
// or -1 when the pattern is too long.
static int TokenizePattern(const char *pattern, int *tokens)
{
    if (strcmp(pattern, "*.*") == 0)
        pattern = "*";
    int count = 0;
    for (const char *p = pattern; *p != '\0'; p++) {
        if (count >= MAX_PATH)
            return -1;
        char next = p[1];
        if (*p == '?')
            tokens[count++] = TOKEN_DOS_QM;
        else if (*p == '*')
            tokens[count++] = next == '.' ? TOKEN_DOS_STAR : TOKEN_STAR;
        else if (*p == '.' && (next == '?' || next == '*' || next == '\0'))
            tokens[count++] = TOKEN_DOS_DOT;
        else
            tokens[count++] = FoldCase((unsigned char)*p);
    }
    return count;
}

// Adds the states reachable without consuming a character; `atEnd` is TRUE
// past the name's last character, `c` the character about to be read. States
// before `from` are never live.
static void FollowEmptyMoves(const int *tokens, int from, int count, BOOL *states, BOOL atEnd,
                             char c)
{
    for (int p = from; p < count; p++) {
        if (!states[p])
            continue;
        int token = tokens[p];
        if (token == TOKEN_STAR || token == TOKEN_DOS_STAR ||
            (token == TOKEN_DOS_QM && (atEnd || c == '.')) || (token == TOKEN_DOS_DOT && atEnd))
            states[p + 1] = TRUE;
    }
}

static void CompilePattern(const char *pattern, CompiledPattern *compiled)
{
    compiled->count = TokenizePattern(pattern, compiled->tokens);
    compiled->literal = 0;
    while (compiled->literal < compiled->count && compiled->tokens[compiled->literal] < TOKEN_STAR)
        compiled->literal++;
}

// Runs the pattern over `name` as a set of states. The leading plain
// characters are compared directly: until the first wildcard exactly one
// state can be live, and a name that differs there fails at once.
static int MatchesCompiled(const CompiledPattern *compiled, const char *name)
{
    const int *tokens = compiled->tokens;
    int count = compiled->count;
    if (count < 0 || name == NULL)
        return FALSE;
    int start = compiled->literal;
    for (int i = 0; i < start; i++) {
        if (name[i] == '\0' || tokens[i] != FoldCase((unsigned char)name[i]))
            return FALSE;
    }
    const char *lastDot = strrchr(name, '.');
    // A rest of "*." (the site file pattern's): any run without the name's
    // last dot, then that dot only as the name's last character, or nothing.
    if (start == count - 2 && tokens[start] == TOKEN_DOS_STAR && tokens[start + 1] == TOKEN_DOS_DOT)
        return lastDot == NULL || lastDot < name + start || lastDot[1] == '\0';
    BOOL states[MAX_PATH + 1];
    BOOL nextStates[MAX_PATH + 1];
    // Only the count + 1 states of this pattern are ever used.
    size_t used = (size_t)(count + 1) * sizeof states[0];
    memset(states, 0, used);
    states[start] = TRUE;
    for (const char *n = name + start; *n != '\0'; n++) {
        FollowEmptyMoves(tokens, start, count, states, FALSE, *n);
        memset(nextStates, 0, used);
        BOOL any = FALSE;
        for (int p = start; p < count; p++) {
            if (!states[p])
                continue;
            int token = tokens[p];
            int to = -1;
            if (token == TOKEN_STAR)
                to = p;
            else if (token == TOKEN_DOS_STAR)
                to = *n != '.' || n < lastDot ? p : -1;
            else if (token == TOKEN_DOS_QM)
                to = *n != '.' ? p + 1 : -1;
            else if (token == TOKEN_DOS_DOT)
                to = *n == '.' ? p + 1 : -1;
            else
                to = token == FoldCase((unsigned char)*n) ? p + 1 : -1;
            if (to >= 0) {
                nextStates[to] = TRUE;
                any = TRUE;
            }
        }
        if (!any)
            return FALSE;
        memcpy(states, nextStates, used);
    }
    FollowEmptyMoves(tokens, start, count, states, TRUE, '\0');
    return states[count];
}

int MatchesWin32Pattern(const char *pattern, const char *name)
{
    if (pattern == NULL || name == NULL)
        return FALSE;
    CompiledPattern compiled;
    CompilePattern(pattern, &compiled);
    return MatchesCompiled(&compiled, name);
}

// --- Entries ------------------------------------------------------------------

// Seconds and nanoseconds since 1970 as 100 ns units since 1601.
static FILETIME ToFileTime(struct timespec time)
{
    const int64_t secondsFrom1601To1970 = 11644473600LL;
    FILETIME result = {0, 0};
    if (time.tv_sec < -secondsFrom1601To1970)
        return result;
    uint64_t ticks = (uint64_t)(time.tv_sec + secondsFrom1601To1970) * 10000000u +
                     (uint64_t)time.tv_nsec / 100u;
    result.dwLowDateTime = (DWORD)(ticks & 0xFFFFFFFFu);
    result.dwHighDateTime = (DWORD)(ticks >> 32);
    return result;
}

void CompleteFindData(const struct stat *info, WIN32_FIND_DATAA *findData)
{
    findData->dwReserved1 = 0;
    findData->nFileSizeHigh = 0;
    findData->nFileSizeLow = 0;
    if (S_ISDIR(info->st_mode)) {
        findData->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        findData->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        if (!S_ISREG(info->st_mode) && !S_ISLNK(info->st_mode))
            findData->dwFileAttributes |= FILE_ATTRIBUTE_DEVICE;
        if ((info->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            findData->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
        uint64_t size = info->st_size > 0 ? (uint64_t)info->st_size : 0;
        findData->nFileSizeHigh = (DWORD)(size >> 32);
        findData->nFileSizeLow = (DWORD)(size & 0xFFFFFFFFu);
    }
    // Linux keeps no creation time here; the older of change and write time
    // stands in for it.
    struct timespec created = info->st_ctim;
    if (info->st_mtim.tv_sec < created.tv_sec ||
        (info->st_mtim.tv_sec == created.tv_sec && info->st_mtim.tv_nsec < created.tv_nsec))
        created = info->st_mtim;
    findData->ftCreationTime = ToFileTime(created);
    findData->ftLastAccessTime = ToFileTime(info->st_atim);
    findData->ftLastWriteTime = ToFileTime(info->st_mtim);
}

static void FillFindData(const char *name, const struct stat *info, WIN32_FIND_DATAA *findData)
{
    memset(findData, 0, sizeof *findData);
    CompleteFindData(info, findData);
    memcpy(findData->cFileName, name, strlen(name) + 1); // length checked by the caller
}

// What a name search tells from the folder's own entry: folder, file or
// device. FALSE for a link or an entry of no known type, which is looked up.
static BOOL TypeFromEntry(unsigned char type, DWORD *attributes)
{
    switch (type) {
    case DT_DIR:
        *attributes = FILE_ATTRIBUTE_DIRECTORY;
        return TRUE;
    case DT_REG:
        *attributes = FILE_ATTRIBUTE_ARCHIVE;
        return TRUE;
    case DT_FIFO:
    case DT_CHR:
    case DT_BLK:
    case DT_SOCK:
        *attributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DEVICE;
        return TRUE;
    default:
        return FALSE;
    }
}

// Reads on until the next matching entry that still exists and fills
// `findData` from it; FALSE at the end of the folder.
static BOOL ReadNextMatch(FindSearch *search, WIN32_FIND_DATAA *findData)
{
    for (;;) {
        struct dirent *entry = OS_CALL(readdir)(search->dir);
        if (entry == NULL)
            return FALSE;
        // A "\\" in a name, which Win32 cannot hold, would name another
        // entry (or one outside the folder) to every call given the path.
        if (strlen(entry->d_name) >= MAX_PATH || strchr(entry->d_name, '\\') != NULL ||
            !MatchesCompiled(&search->compiled, entry->d_name) ||
            (search->gaveName && strcmp(entry->d_name, search->pattern) == 0))
            continue;
        if (findHook != NULL)
            findHook(search->folder, entry->d_name, findHookContext);
        DWORD attributes = 0;
        if (search->namesOnly && TypeFromEntry(entry->d_type, &attributes)) {
            memset(findData, 0, sizeof *findData);
            findData->dwFileAttributes = attributes;
            findData->dwReserved1 = FIND_DATA_NAME_ONLY;
            memcpy(findData->cFileName, entry->d_name, strlen(entry->d_name) + 1);
            return TRUE;
        }
        struct stat info;
        int folderFd = dirfd(search->dir);
        if (OS_CALL(fstatat)(folderFd, entry->d_name, &info, 0) != 0 &&
            OS_CALL(fstatat)(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since readdir saw it
        FillFindData(entry->d_name, &info, findData);
        return TRUE;
    }
}

// A pattern without wildcards that names an entry spelt just so: that entry
// first, without reading the folder (the others it matches in other letter
// case follow). Finding one file by its name stays one look in a large folder.
static BOOL GiveNameFirst(FindSearch *search, WIN32_FIND_DATAA *findData)
{
    const char *name = search->pattern;
    size_t length = strlen(name);
    struct stat info;
    int folderFd = dirfd(search->dir);
    if (length == 0 || strpbrk(name, "*?\\") != NULL || name[length - 1] == '.' ||
        strcmp(name, "..") == 0 || !MatchesCompiled(&search->compiled, name) ||
        (OS_CALL(fstatat)(folderFd, name, &info, 0) != 0 &&
         OS_CALL(fstatat)(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0))
        return FALSE;
    if (findHook != NULL)
        findHook(search->folder, name, findHookContext);
    FillFindData(name, &info, findData);
    search->gaveName = TRUE;
    return TRUE;
}

// Splits the native `pattern` into its folder and its last component.
static BOOL SplitPattern(const char *pattern, FindSearch *search)
{
    const char *slash = strrchr(pattern, '/');
    const char *last = slash != NULL ? slash + 1 : pattern;
    if (strlen(last) >= sizeof search->pattern)
        return FALSE;
    strcpy(search->pattern, last);
    CompilePattern(search->pattern, &search->compiled);
    if (slash == NULL) {
        strcpy(search->folder, ".");
    } else if (slash == pattern) {
        strcpy(search->folder, "/");
    } else {
        size_t length = (size_t)(slash - pattern);
        memcpy(search->folder, pattern, length);
        search->folder[length] = '\0';
    }
    return TRUE;
}

static BOOL IsLiveSearch(FindSearch *search)
{
    BOOL found = FALSE;
    pthread_mutex_lock(&liveSearchLock);
    for (FindSearch *s = liveSearches; s != NULL; s = s->next)
        if (s == search)
            found = TRUE;
    pthread_mutex_unlock(&liveSearchLock);
    return found;
}

static HANDLE StartSearch(const char *pattern, WIN32_FIND_DATAA *findData, BOOL namesOnly)
{
    char native[NATIVE_PATH_SIZE];
    if (pattern == NULL || findData == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FindSearch *search = (FindSearch *)calloc(1, sizeof *search);
    if (search == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (!ToNativePath(pattern, native, sizeof native) || !SplitPattern(native, search)) {
        free(search);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    search->namesOnly = namesOnly;
    search->dir = OS_CALL(opendir)(search->folder);
    // Win32 finds the folders on the way whatever their case, as it finds
    // the names in the last one.
    if (search->dir == NULL && errno == ENOENT &&
        ToExistingNativePath(search->folder, native, sizeof native) &&
        strlen(native) < sizeof search->folder) {
        strcpy(search->folder, native);
        search->dir = OS_CALL(opendir)(search->folder);
    }
    if (search->dir == NULL) {
        int error = errno;
        SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : Win32ErrorFromErrno(error, search->folder));
        free(search);
        return INVALID_HANDLE_VALUE;
    }
    if (!GiveNameFirst(search, findData) && !ReadNextMatch(search, findData)) {
        OS_CALL(closedir)(search->dir);
        free(search);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    pthread_mutex_lock(&liveSearchLock);
    search->next = liveSearches;
    liveSearches = search;
    pthread_mutex_unlock(&liveSearchLock);
    return (HANDLE)search;
}

HANDLE FindFirstFileA(const char *pattern, WIN32_FIND_DATAA *findData)
{
    return StartSearch(pattern, findData, FALSE);
}

HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData)
{
    return StartSearch(pattern, findData, TRUE);
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA *findData)
{
    FindSearch *search = (FindSearch *)handle;
    if (!IsLiveSearch(search)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (findData == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ReadNextMatch(search, findData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    FindSearch *search = (FindSearch *)handle;
    BOOL found = FALSE;
    pthread_mutex_lock(&liveSearchLock);
    for (FindSearch **link = &liveSearches; *link != NULL; link = &(*link)->next) {
        if (*link == search) {
            *link = search->next;
            found = TRUE;
            break;
        }
    }
    pthread_mutex_unlock(&liveSearchLock);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    OS_CALL(closedir)(search->dir);
    free(search);
    return TRUE;
}
