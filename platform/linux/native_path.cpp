// Win32 paths to Linux paths; see native_path.h.
#include "platform/linux/native_path.h"

#include <dirent.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

BOOL ToNativePath(const char *path, char *native, size_t size)
{
    if (native == NULL || size == 0)
        return FALSE;
    native[0] = '\0';
    if (path == NULL)
        return FALSE;
    size_t length = strlen(path);
    if (length >= size)
        return FALSE;
    memmove(native, path, length + 1); // `path` may be `native` itself
    for (char *slash = (char *)memchr(native, '\\', length); slash != NULL;
         slash = (char *)memchr(slash + 1, '\\', length - (size_t)(slash + 1 - native)))
        *slash = '/';
    return TRUE;
}

namespace {

// Replaces the component of `native` at [start, end) with the first entry of
// its folder that equals it ignoring case. The folder is the text before
// `start` (the current folder when empty).
void MatchComponentIgnoringCase(char *native, size_t start, size_t end)
{
    char saved = native[start];
    native[start] = '\0';
    DIR *folder = opendir(start == 0 ? "." : native);
    native[start] = saved;
    if (folder == NULL)
        return;
    size_t length = end - start;
    for (struct dirent *entry = readdir(folder); entry != NULL; entry = readdir(folder)) {
        if (strlen(entry->d_name) == length &&
            strncasecmp(entry->d_name, native + start, length) == 0) {
            memcpy(native + start, entry->d_name, length);
            break;
        }
    }
    closedir(folder);
}

} // namespace

BOOL ToExistingNativePath(const char *path, char *native, size_t size)
{
    if (!ToNativePath(path, native, size))
        return FALSE;
    struct stat info;
    if (lstat(native, &info) == 0)
        return TRUE;
    size_t length = strlen(native);
    for (size_t start = 0; start < length;) {
        size_t end = start;
        while (end < length && native[end] != '/')
            end++;
        if (end > start) {
            char saved = native[end];
            native[end] = '\0';
            BOOL exists = lstat(native, &info) == 0;
            native[end] = saved;
            if (!exists)
                MatchComponentIgnoringCase(native, start, end);
        }
        start = end + 1;
    }
    return TRUE;
}
