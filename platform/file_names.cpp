// Names as the file system compares them; see file_names.h.
#include "platform/file_names.h"

#include <string.h>

BOOL FileNameKey(const char *path, char *key, size_t size)
{
    size_t length = strlen(path);
    if (length >= size)
        return FALSE;
#ifdef _WIN32
    // The file system's letter case does not depend on the user's language:
    // the invariant locale's upper case, never a Turkish dotless I.
    return LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, path, (int)length + 1, key, (int)size) != 0
               ? TRUE
               : FALSE;
#else
    memcpy(key, path, length + 1);
    return TRUE;
#endif
}

#ifdef _WIN32
HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData)
{
    return FindFirstFileA(pattern, findData);
}
#endif
