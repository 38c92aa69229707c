// The settings dialog, built from a compact table of item descriptions.
#ifndef QVORK_SETTINGS_CONFIG_DIALOG_H
#define QVORK_SETTINGS_CONFIG_DIALOG_H

#include "host/far_abi.h"

#define MESSAGE_NUMBER_LIMIT 2000 // a Text below this is a message number

// One dialog item, compactly.
struct CompactDialogItem {
    unsigned char Type;
    unsigned char X1, Y1, X2, Y2;
    unsigned char Focus;
    DWORD Selected;          // copied whole into the Selected/History/Mask word
    DWORD Flags;
    unsigned char DefaultButton;
    DWORD_PTR Text;          // below 2000 a message number, else a text
};

// Fills `count` host records from `count` compact entries.
void BuildDialogItems(const struct CompactDialogItem *table, struct FarDialogItem *items,
                      int count);

#endif
