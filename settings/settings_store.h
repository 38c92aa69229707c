// The three persisted options, per user in the registry under the host's
// RootKey + "\Q\VORK", each a 1-byte REG_BINARY value.
#ifndef QVORK_SETTINGS_SETTINGS_STORE_H
#define QVORK_SETTINGS_SETTINGS_STORE_H

#define SETTINGS_SUBKEY "\\Q\\VORK"
#define SETTINGS_KEY_SIZE 1024

struct Settings {
    int Show_Diskz; // non-zero: "qVORK" is in the Disks menu (default 1)
    int Show_Plugz; // non-zero: "qVORK" is in the Plugins menu (default 0)
    int Diskz_num;  // the Disks-menu hotkey digit, 1 to 9; 0 = automatic (default 0)
};

// Fills the settings from the registry; defaults where nothing usable is stored.
void LoadSettings(int *Show_Diskz, int *Show_Plugz, int *Diskz_num);
// Writes all three; a key that cannot be created or opened is reported.
void SaveSettings(int Show_Diskz, int Show_Plugz, int Diskz_num);

#endif
