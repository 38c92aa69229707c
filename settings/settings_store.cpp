// Reading and writing the settings. A stored value is taken only when it is
// REG_BINARY and at most 4 bytes long; it replaces the lowest bytes of the
// setting, least significant first. Anything else leaves the default.
#include "settings/settings_store.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "host/messages.h"
#include "host/plugin_state.h"

namespace {

// Every setting: its registry value and its field, in the order they are
// read and written.
struct SettingValue {
    const char *name; // the registry value's name
    size_t field;     // offset of its int in struct Settings
};

const SettingValue SettingValues[] = {
    {"Show_Diskz", offsetof(Settings, Show_Diskz)},
    {"Show_Plugz", offsetof(Settings, Show_Plugz)},
    {"Diskz_num", offsetof(Settings, Diskz_num)},
};
const size_t SETTING_COUNT = sizeof SettingValues / sizeof SettingValues[0];

int *FieldOf(struct Settings *settings, const SettingValue &value)
{
    return (int *)((char *)settings + value.field);
}

int ValueOf(const struct Settings *settings, const SettingValue &value)
{
    return *(const int *)((const char *)settings + value.field);
}

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

void LoadSettings(struct Settings *settings)
{
    settings->Show_Diskz = 1;
    settings->Show_Plugz = 0;
    settings->Diskz_num = 0;
    char path[SETTINGS_KEY_SIZE];
    if (!BuildKeyPath(path, sizeof path))
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < SETTING_COUNT; i++)
        ReadSetting(key, SettingValues[i].name, FieldOf(settings, SettingValues[i]));
    RegCloseKey(key);
}

void SaveSettings(const struct Settings *settings)
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
    // A value that is not written is told, not passed over: the user would
    // otherwise find the old setting back with no word of why.
    for (size_t i = 0; i < SETTING_COUNT; i++) {
        BYTE low = (BYTE)(ValueOf(settings, SettingValues[i]) & 0xFF);
        if (RegSetValueExA(key, SettingValues[i].name, 0, REG_BINARY, &low, 1) != ERROR_SUCCESS) {
            ShowError("can't write registry value!");
            break;
        }
    }
    RegCloseKey(key);
}
