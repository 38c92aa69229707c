// The three persisted options, per user in the registry under the host's
// RootKey + "\Q\VORK", each a 1-byte REG_BINARY value named as its field.
#ifndef QVORK_SETTINGS_SETTINGS_STORE_H
#define QVORK_SETTINGS_SETTINGS_STORE_H

#define SETTINGS_SUBKEY "\\Q\\VORK"
#define SETTINGS_KEY_SIZE 1024

struct Settings {
    int Show_Diskz; // non-zero: "qVORK" is in the Disks menu (default 1)
    int Show_Plugz; // non-zero: "qVORK" is in the Plugins menu (default 0)
    int Diskz_num;  // the Disks-menu hotkey digit, 1 to 9; 0 = automatic (default 0)
};

// Fills `settings` from the registry; defaults where nothing usable is stored.
void LoadSettings(struct Settings *settings);
// Writes every setting; a key that cannot be created or opened, or a value
// that cannot be written, is reported to the user.
void SaveSettings(const struct Settings *settings);

#endif
