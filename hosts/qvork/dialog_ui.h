// The plug-in's boxes and dialogs on the panel's screen: Message boxes
// (centred; warning colours for FMSG_WARNING; with buttons they wait for an
// answer, without buttons they are drawn and left on screen), and Dialog
// (the items drawn at their coordinates inside a centred area, moved through
// with Tab and the arrows, changed with Space and typing, closed with Enter
// or Esc). The panel's own questions (the copy destination) are dialogs of
// the same items.
#ifndef QVORK_HOSTS_DIALOG_UI_H
#define QVORK_HOSTS_DIALOG_UI_H

#include <string>
#include <vector>

#include "host/far_abi.h"
#include "hosts/qvork/curses_screen.h"
#include "hosts/qvork/host_services.h"

namespace qvork_host {

// Where a box lies on a screen of `rows` x `cols`.
struct BoxPlace {
    int y = 0;
    int x = 0;
    int height = 0;
    int width = 0;
};

// The area a message box takes: its lines, a row of buttons when it has
// any, a frame and a margin, centred, never wider than the screen.
BoxPlace MessageBoxPlace(const MessageBoxText &box, int rows, int cols);
// The buttons' row text and where each button starts in it: "[ Yes ]  [ No ]".
std::string ButtonRowText(const std::vector<std::string> &buttons, std::vector<int> &starts);

// Draws a message box (no waiting) with `focus` the highlighted button.
void DrawMessageBox(CursesScreen &screen, const MessageBoxText &box, int focus);
// A box with buttons: waits for a choice. Left/Right/Tab move, Enter
// chooses, a button's initial chooses it when no other shares it, Esc
// cancels (-1). What was under the box is put back.
int RunMessageBox(CursesScreen &screen, const MessageBoxText &box);

// The column at which each item is drawn, relative to the dialog: X1, or
// for buttons with DIF_CENTERGROUP a place in their row's centred group.
std::vector<int> DialogItemColumns(const FarDialogItem *items, int count, int width);
// How a dialog item looks: "[x] Show in Disks Menu", "[ Ok ]", "{ Ok }" for
// the default button; edit fields and texts as their text.
std::string DialogItemLabel(const FarDialogItem &item);
// Whether `c` may stand at `position` of a field with `mask` ("9" and "#"
// take a digit or a space; other positions and unmasked fields take any
// printable character).
bool MaskAllows(const std::string &mask, size_t position, char c);

// Runs a dialog of `count` items in an area of `width` x `height`, centred;
// the items are changed in place. Returns the index of the item that closed
// it, -1 for Esc.
int RunDialogBox(CursesScreen &screen, FarDialogItem *items, int count, int width, int height);

} // namespace qvork_host

#endif
