// Names as the file system compares them; see file_names.h.
#include "platform/file_names.h"

#include <string.h>

BOOL FileNameKey(const char *path, char *key, size_t size)
{
    size_t length = strlen(path);
    if (length >= size)
        return FALSE;
#ifdef _WIN32
    // The file system compares names in Unicode: the bytes are read in the
    // ANSI code page (Cyrillic, Japanese, ... as the user's system has it),
    // and its letter case does not depend on the user's language: the
    // invariant locale's upper case, never a Turkish dotless I. The key is
    // that in UTF-8.
    WCHAR wide[FILE_NAME_KEY_CHARS];
    WCHAR upper[FILE_NAME_KEY_CHARS];
    int units = MultiByteToWideChar(CP_ACP, 0, path, (int)length + 1, wide, FILE_NAME_KEY_CHARS);
    if (units == 0 || LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, units, upper,
                                   FILE_NAME_KEY_CHARS) != units)
        return FALSE;
    return WideCharToMultiByte(CP_UTF8, 0, upper, units, key, (int)size, NULL, NULL) != 0 ? TRUE
                                                                                         : FALSE;
#else
    memcpy(key, path, length + 1);
    return TRUE;
#endif
}

BOOL IsAnsiLeadByte(unsigned char c)
{
#ifdef _WIN32
    return IsDBCSLeadByte(c);
#else
    (void)c; // names are bytes to Linux
    return FALSE;
#endif
}

BOOL LongPathOf(const char *path, char *out, size_t size)
{
#ifdef _WIN32
    DWORD length = GetLongPathNameA(path, out, (DWORD)size);
    return length != 0 && length < size && strcmp(out, path) != 0 ? TRUE : FALSE;
#else
    (void)path;
    (void)out;
    (void)size;
    return FALSE;
#endif
}

#ifdef _WIN32
HANDLE BeginNameSearch(const char *pattern, WIN32_FIND_DATAA *findData)
{
    return FindFirstFileA(pattern, findData);
}
#endif
