// Reading and changing the items of a dialog the plug-in hands to the
// Dialog service, independent of how the dialog is drawn: the text form of
// each item, check boxes, masked edit fields, buttons, and the settings given
// on the command line ("presets") that fill the settings dialog and press Ok.
#ifndef QVORK_HOSTS_DIALOG_ITEMS_H
#define QVORK_HOSTS_DIALOG_ITEMS_H

#include <optional>
#include <string>

#include "host/far_abi.h"

namespace qvork_host {

// Settings from `config --disks-menu on|off --plugins-menu on|off
// --digit N|auto`; an unset field leaves the dialog's item as it is.
struct DialogPreset {
    std::optional<bool> disksMenu;
    std::optional<bool> pluginsMenu;
    std::optional<std::string> digit; // one digit, or "" for automatic

    bool Empty() const { return !disksMenu && !pluginsMenu && !digit; }
};

// The item's Data text (bounded by its field).
std::string ItemText(const FarDialogItem &item);
// Whether the user can act on the item: check boxes, edit fields, buttons.
bool IsInteractive(const FarDialogItem &item);
// The mask of a DIF_MASKEDIT field, or "" when it has none.
std::string ItemMask(const FarDialogItem &item);
// Puts `text` into an edit field. False with `error` set when the text does
// not fit the field or its mask (a "9" or "#" position takes a digit or a
// space); an empty text is always accepted.
bool SetFieldText(FarDialogItem &item, const std::string &text, std::string &error);
// The dialog in text form: one line per row of the dialog, items of a row
// side by side ("[x] Show in Disks Menu", "[7] Disks Menu Digit", "<Ok>").
// With `numbered`, every interactive item carries its index: "2) [x] ...".
std::string DescribeDialog(const FarDialogItem *items, int count, bool numbered);
// The index of the button that accepts the dialog: the default button, else
// the first button; -1 when there is none.
int FindAcceptButton(const FarDialogItem *items, int count);
// Fills the settings dialog as `preset` says (check boxes found by their
// texts "Disks" and "Plugins", the digit in its edit field). Returns the
// accept button's index, or -1 with `error` naming what could not be set.
int ApplyDialogPreset(FarDialogItem *items, int count, const DialogPreset &preset,
                      std::string &error);

} // namespace qvork_host

#endif
