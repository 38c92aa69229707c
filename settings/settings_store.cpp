// Reading and writing the settings. A stored value is taken only when it is
// REG_BINARY and at most 4 bytes long; it replaces the lowest bytes of the
// setting, least significant first. Anything else leaves the default.
#include "settings/settings_store.h"

#include <stdio.h>
#include <string.h>

#include "host/messages.h"
#include "host/plugin_state.h"

namespace {

const char *const ValueNames[3] = {"Show_Diskz", "Show_Plugz", "Diskz_num"};

BOOL BuildKeyPath(char *path, size_t size)
{
    const char *root = State.Info.RootKey != NULL ? State.Info.RootKey : "";
    int length = snprintf(path, size, "%s%s", root, SETTINGS_SUBKEY);
    return length >= 0 && (size_t)length < size;
}

void ReadSetting(HKEY key, const char *name, int *setting)
{
    BYTE data[4];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, name, NULL, &type, data, &size) != ERROR_SUCCESS)
        return;
    if (type != REG_BINARY || size > sizeof data)
        return;
    unsigned value = (unsigned)*setting;
    for (DWORD i = 0; i < size; i++)
        value = (value & ~(0xFFu << (8 * i))) | ((unsigned)data[i] << (8 * i));
    *setting = (int)value;
}

} // namespace

void LoadSettings(int *Show_Diskz, int *Show_Plugz, int *Diskz_num)
{
    *Show_Diskz = 1;
    *Show_Plugz = 0;
    *Diskz_num = 0;
    char path[SETTINGS_KEY_SIZE];
    if (!BuildKeyPath(path, sizeof path))
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    ReadSetting(key, ValueNames[0], Show_Diskz);
    ReadSetting(key, ValueNames[1], Show_Plugz);
    ReadSetting(key, ValueNames[2], Diskz_num);
    RegCloseKey(key);
}

void SaveSettings(int Show_Diskz, int Show_Plugz, int Diskz_num)
{
    char path[SETTINGS_KEY_SIZE];
    HKEY key;
    char className[] = "";
    if (!BuildKeyPath(path, sizeof path) ||
        RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, className, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS) {
        ShowError("can't create/open registry key!");
        return;
    }
    const int values[3] = {Show_Diskz, Show_Plugz, Diskz_num};
    for (int i = 0; i < 3; i++) {
        BYTE low = (BYTE)(values[i] & 0xFF);
        RegSetValueExA(key, ValueNames[i], 0, REG_BINARY, &low, 1);
    }
    RegCloseKey(key);
}
