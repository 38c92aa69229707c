// The cache folder lookup, run at every OpenPlugin.
#include "cache/cache_folder.h"

#include <string.h>

#include "host/plugin_state.h"

void LookUpCacheFolder(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NETSONIC_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    // Read into a scratch buffer: a failed read must not disturb the folder
    // already known, and Win32 leaves the buffer undefined on ERROR_MORE_DATA.
    char value[CACHE_FOLDER_SIZE];
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(key, NETSONIC_CACHE_PATH_VALUE, NULL, NULL, (BYTE *)value,
                                   &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size > sizeof value)
        return;
    // Any type is accepted; the text ends at its terminator or at the data's end.
    size_t length = strnlen(value, size);
    size_t suffix = strlen(CACHE_SUBFOLDER);
    if (length + suffix + 1 > sizeof State.CacheFolderText)
        return;
    memcpy(State.CacheFolderText, value, length);
    memcpy(State.CacheFolderText + length, CACHE_SUBFOLDER, suffix + 1);
    State.CacheFolder = State.CacheFolderText;
}
