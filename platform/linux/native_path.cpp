// Win32 paths to Linux paths; see native_path.h.
#include "platform/linux/native_path.h"

#include <string.h>

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
    for (size_t i = 0; i < length; i++)
        native[i] = path[i] == '\\' ? '/' : path[i];
    native[length] = '\0';
    return TRUE;
}
