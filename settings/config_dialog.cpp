// Configure: the settings dialog (43 x 9, centred). Only "Ok" saves; Cancel
// or Esc leaves the registry untouched.
#include "settings/config_dialog.h"

#include <string.h>

#include "host/entry_points.h"
#include "host/messages.h"
#include "host/plugin_state.h"
#include "settings/settings_store.h"

namespace {

#define DIALOG_TEXT(literal) ((DWORD_PTR)(literal))

enum {
    FRAME_ITEM,
    PLUGINS_ITEM,
    DISKS_ITEM,
    DIGIT_ITEM,
    DIGIT_LABEL_ITEM,
    OK_ITEM,
    CANCEL_ITEM,
    DIALOG_ITEMS
};

const struct CompactDialogItem SettingsDialog[DIALOG_ITEMS] = {
    {DI_DOUBLEBOX, 2, 1, 40, 7, 0, 0, 0, 0, DIALOG_TEXT("qVORK")},
    {DI_CHECKBOX, 5, 2, 0, 0, 1, 0, 0, 0, DIALOG_TEXT("Show in Plugins Menu")},
    {DI_CHECKBOX, 5, 3, 0, 0, 0, 0, 0, 0, DIALOG_TEXT("Show in Disks Menu")},
    {DI_FIXEDIT, 6, 4, 6, 3, 0, 0, DIF_MASKEDIT, 0, DIALOG_TEXT("")},
    {DI_TEXT, 8, 4, 0, 0, 0, 0, 0, 0, DIALOG_TEXT("Disks Menu Digit (empty = auto)")},
    {DI_BUTTON, 0, 6, 0, 0, 0, 0, DIF_CENTERGROUP, 1, DIALOG_TEXT("Ok")},
    {DI_BUTTON, 0, 6, 0, 0, 0, 0, DIF_CENTERGROUP, 0, DIALOG_TEXT("Cancel")},
};

const char DigitMask[] = "9";

void CopyData(struct FarDialogItem *item, const char *text)
{
    size_t length = strnlen(text, sizeof item->Data - 1);
    memcpy(item->Data, text, length);
    item->Data[length] = 0;
}

} // namespace

void BuildDialogItems(const struct CompactDialogItem *table, struct FarDialogItem *items,
                      int count)
{
    for (int i = 0; i < count; i++) {
        const struct CompactDialogItem *entry = &table[i];
        struct FarDialogItem *item = &items[i];
        item->Type = entry->Type;
        item->X1 = entry->X1;
        item->Y1 = entry->Y1;
        item->X2 = entry->X2;
        item->Y2 = entry->Y2;
        item->Focus = entry->Focus;
        item->Reserved = entry->Selected;
        item->Flags = entry->Flags;
        item->DefaultButton = entry->DefaultButton;
        CopyData(item, entry->Text < MESSAGE_NUMBER_LIMIT ? GetMsgText((int)entry->Text)
                                                          : (const char *)entry->Text);
    }
}

int WINAPI Configure(int ItemNumber)
{
    (void)ItemNumber;
    struct Settings settings;
    LoadSettings(&settings);
    struct FarDialogItem items[DIALOG_ITEMS];
    memset(items, 0, sizeof items);
    BuildDialogItems(SettingsDialog, items, DIALOG_ITEMS);
    items[PLUGINS_ITEM].Selected = settings.Show_Plugz;
    items[DISKS_ITEM].Selected = settings.Show_Diskz;
    items[DIGIT_ITEM].Mask = DigitMask;
    // A stored number outside 0..9 gets no digit in the menu either: "0".
    items[DIGIT_ITEM].Data[0] =
        (char)('0' + (settings.Diskz_num >= 0 && settings.Diskz_num <= 9 ? settings.Diskz_num : 0));
    items[DIGIT_ITEM].Data[1] = 0;
    if (State.Info.Dialog == NULL ||
        State.Info.Dialog(State.Info.ModuleNumber, -1, -1, 43, 9, "", items, DIALOG_ITEMS) !=
            OK_ITEM)
        return 0;
    // A box shows any value but 0 as checked, and is saved as one byte: a
    // stored 256 left checked must not come back as 0.
    settings.Show_Plugz = items[PLUGINS_ITEM].Selected != 0;
    settings.Show_Diskz = items[DISKS_ITEM].Selected != 0;
    char digit = items[DIGIT_ITEM].Data[0];
    settings.Diskz_num = digit >= '0' && digit <= '9' ? digit - '0' : 0;
    SaveSettings(&settings);
    return 1;
}
