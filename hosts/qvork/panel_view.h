// What the interactive panel shows, worked out apart from the terminal: the
// rows in their order, the columns of a row, the status line, the key bar,
// scrolling, and which plug-in key code a terminal key stands for. Every
// text here is one byte a cell; names from the cache are made printable
// before they reach the screen.
#ifndef QVORK_HOSTS_PANEL_VIEW_H
#define QVORK_HOSTS_PANEL_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/qvork/session.h"

namespace qvork_host {

// The row index standing for "..".
constexpr int kDotsItem = -1;

// The panel's rows: ".." first when the plug-in asks for it (OPIF_ADDDOTS),
// then the visible items in display order (folders, then files, by name).
std::vector<int> PanelRows(const Session &session);

// What one row shows, taken from an item (or "..").
struct RowFacts {
    std::string name;
    bool dots = false;
    bool folder = false;
    bool selected = false;
    bool atRoot = false;     // a site at the cache root
    uint64_t size = 0;       // files: the body's size
    int32_t records = 0;     // sites: the stored responses
    std::string cacheFile;   // sites: the cache file's name ("" when none)
    uint64_t cacheBytes = 0; // sites: the cache file's size
};

RowFacts RowFactsOf(const Session &session, int item);

// One column of the listing: where it starts, how wide, its heading.
struct PanelColumn {
    int x = 0;
    int width = 0;
    bool rightAligned = false;
    std::string heading;
};

// The columns inside a frame `width` cells wide (frame included): at the
// root Name, Records and Cache file; inside a site Name and Size. The name
// column takes what the others leave.
std::vector<PanelColumn> PanelColumns(bool atRoot, int width);
// The texts of a row's cells, one per column of PanelColumns.
std::vector<std::string> RowCells(const RowFacts &row);
// `text` fitted to `width` cells: padded, or cut with '}' in its last cell
// as the file manager marks a name that does not fit.
std::string FitCell(const std::string &text, int width, bool rightAligned);

// The status line: the current row in full (name escaped, then details).
// With `utf8Names`, a name's UTF-8 characters stay as they are.
std::string StatusText(const RowFacts &row, bool utf8Names = false);

// Text from the cache made printable for the status line: bytes below 32,
// 127 and above 127 written as \xNN.
std::string EscapedText(const std::string &text);
// The same, keeping well-formed UTF-8 characters from U+00A0 up.
std::string EscapedUtf8Text(const std::string &text);

// One entry of the key bar: "3" and "View", "Shift+F3" and "VwHdr".
struct KeyLabel {
    std::string key;
    std::string label;
};
// The host's own F-keys with the plug-in's plain titles over them, then the
// plug-in's titles for the keys with Shift, Ctrl and Alt.
std::vector<KeyLabel> KeyBarLabels(const PanelFacts &facts);

// The first row shown so that `cursor` is visible, moving as little as
// possible from `top`: rows `count`, `visible` of them on screen.
int ScrollTop(int top, int cursor, int count, int visible);

// A key in the plug-in's terms: the virtual key code and the PKF_ state.
struct PluginKey {
    int code = 0;
    unsigned int state = 0;
    bool operator==(const PluginKey &other) const {
        return code == other.code && state == other.state;
    }
};
// The plug-in key a terminal key (a curses key code or a byte) stands for;
// false for keys that have none. Terminals send Shift+F1..F12 as F13..F24,
// Ctrl+F1..F12 as F25..F36.
bool PluginKeyOf(int terminalKey, PluginKey &key);

// Virtual key codes the panel acts on.
enum VirtualKey {
    kVkBack = 0x08,
    kVkTab = 0x09,
    kVkReturn = 0x0D,
    kVkEscape = 0x1B,
    kVkSpace = 0x20,
    kVkPrior = 0x21,
    kVkNext = 0x22,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkUp = 0x26,
    kVkRight = 0x27,
    kVkDown = 0x28,
    kVkInsert = 0x2D,
    kVkDelete = 0x2E,
    kVkF1 = 0x70,
    kVkBackslash = 0xDC, // VK_OEM_5: "\" on the US layout
};

} // namespace qvork_host

#endif
