// The panel's rows, columns, status line, key bar and key codes.
#include "hosts/qvork/panel_view.h"

#include <cctype>

#include "hosts/qvork/curses_screen.h"

#include <curses.h>

#include <algorithm>
#include <cstdio>

namespace qvork_host {

namespace {

constexpr int kSizeWidth = 10;    // 4294967295
constexpr int kRecordsWidth = 7;  // up to 65533, or a damaged count
constexpr int kCacheFileWidth = 10;

std::string Plural(uint64_t count, const char *one, const char *many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::vector<int> PanelRows(const Session &session) {
    std::vector<int> rows;
    if (session.ShowsDots()) {
        rows.push_back(kDotsItem);
    }
    const std::vector<int> order = DisplayOrder(session, false);
    rows.insert(rows.end(), order.begin(), order.end());
    return rows;
}

RowFacts RowFactsOf(const Session &session, int item) {
    RowFacts row;
    if (item == kDotsItem) {
        row.name = "..";
        row.dots = true;
        row.folder = true;
        return row;
    }
    const PluginPanelItem &panelItem = session.Item(item);
    row.name = session.Name(item);
    row.folder = session.IsFolder(item);
    row.selected = (panelItem.Flags & PPIF_SELECTED) != 0;
    row.atRoot = session.AtRoot() && !session.ShowsDots();
    row.size = (static_cast<uint64_t>(panelItem.FindData.nFileSizeHigh) << 32) |
               panelItem.FindData.nFileSizeLow;
    row.records = static_cast<int32_t>(panelItem.NumberOfLinks);
    row.cacheFile = panelItem.Description != nullptr ? panelItem.Description : "";
    row.cacheBytes = (static_cast<uint64_t>(panelItem.PackSizeHigh) << 32) | panelItem.PackSize;
    return row;
}

std::vector<PanelColumn> PanelColumns(bool atRoot, int width) {
    // Inside the frame: one cell of frame on each side, one line between
    // two columns.
    std::vector<PanelColumn> columns;
    const int inner = std::max(width - 2, 1);
    std::vector<PanelColumn> right;
    if (atRoot) {
        right.push_back({0, kRecordsWidth, true, "Records"});
        right.push_back({0, kCacheFileWidth, false, "Cache file"});
    } else {
        right.push_back({0, kSizeWidth, true, "Size"});
    }
    int used = 0;
    for (const PanelColumn &column : right) {
        used += column.width + 1;
    }
    int nameWidth = inner - used;
    if (nameWidth < 8) {
        // Too narrow for the details: the name alone.
        right.clear();
        nameWidth = inner;
    }
    columns.push_back({1, nameWidth, false, "Name"});
    int x = 1 + nameWidth + 1;
    for (PanelColumn column : right) {
        column.x = x;
        columns.push_back(column);
        x += column.width + 1;
    }
    return columns;
}

std::vector<std::string> RowCells(const RowFacts &row) {
    std::vector<std::string> cells{row.name};
    if (row.atRoot) {
        cells.push_back(std::to_string(row.records));
        cells.push_back(row.cacheFile.empty() ? "-" : row.cacheFile);
    } else if (row.dots) {
        cells.push_back("Up");
    } else if (row.folder) {
        cells.push_back("Folder");
    } else {
        cells.push_back(std::to_string(row.size));
    }
    return cells;
}

std::string FitCell(const std::string &text, int width, bool rightAligned) {
    if (width <= 0) {
        return std::string();
    }
    const size_t cells = static_cast<size_t>(width);
    if (text.size() > cells) {
        return text.substr(0, cells - 1) + "}";
    }
    const std::string padding(cells - text.size(), ' ');
    return rightAligned ? padding + text : text + padding;
}

std::string EscapedText(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 32 || c >= 127) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string EscapedUtf8Text(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(text, i, code);
        if (length > 0 && code >= 0xA0) {
            out += text.substr(i, length);
            i += length;
        } else {
            out += EscapedText(text.substr(i, 1));
            i += 1;
        }
    }
    return out;
}

std::string StatusText(const RowFacts &row, bool utf8Names) {
    if (row.dots) {
        return "..  up one folder";
    }
    std::string text = (utf8Names ? EscapedUtf8Text(row.name) : EscapedText(row.name)) + "  ";
    if (row.atRoot) {
        if (row.cacheFile.empty()) {
            return text + "not a readable site";
        }
        return text + Plural(static_cast<uint64_t>(std::max(row.records, 0)), "record", "records") +
               ", cache file " + EscapedText(row.cacheFile) + ", " +
               Plural(row.cacheBytes, "byte", "bytes");
    }
    if (row.folder) {
        return text + "folder";
    }
    return text + Plural(row.size, "byte", "bytes");
}

std::vector<KeyLabel> KeyBarLabels(const PanelFacts &facts) {
    static const char *const hostTitles[12] = {"Help",   "", "View",  "", "Copy", "",
                                               "",       "Delete", "Setup", "Quit", "", ""};
    static const char *const groupNames[7] = {"",         "Ctrl+F",      "Alt+F",
                                              "Shift+F",  "Ctrl+Shift+F", "Alt+Shift+F",
                                              "Ctrl+Alt+F"};
    std::vector<KeyLabel> labels;
    for (int key = 0; key < 10; ++key) {
        const std::string &title = facts.keyTitles[0][key];
        const std::string label = title.empty() ? hostTitles[key] : EscapedText(title);
        if (!label.empty()) {
            labels.push_back({std::to_string(key + 1), label});
        }
    }
    for (size_t group = 1; group < facts.keyTitles.size(); ++group) {
        for (size_t key = 0; key < facts.keyTitles[group].size(); ++key) {
            const std::string &title = facts.keyTitles[group][key];
            if (!title.empty()) {
                labels.push_back({groupNames[group] + std::to_string(key + 1), EscapedText(title)});
            }
        }
    }
    labels.push_back({"Ctrl+R", "Reread"});
    return labels;
}

int ScrollTop(int top, int cursor, int count, int visible) {
    if (visible <= 0 || count <= 0) {
        return 0;
    }
    if (cursor < top) {
        top = cursor;
    } else if (cursor >= top + visible) {
        top = cursor - visible + 1;
    }
    return std::clamp(top, 0, std::max(count - visible, 0));
}

bool PluginKeyOf(int terminalKey, PluginKey &key) {
    struct Named {
        int terminal;
        int code;
        unsigned int state;
    };
    static const Named named[] = {
        {KEY_UP, kVkUp, 0},         {KEY_DOWN, kVkDown, 0},     {KEY_LEFT, kVkLeft, 0},
        {KEY_RIGHT, kVkRight, 0},   {KEY_PPAGE, kVkPrior, 0},   {KEY_NPAGE, kVkNext, 0},
        {KEY_HOME, kVkHome, 0},     {KEY_END, kVkEnd, 0},       {KEY_IC, kVkInsert, 0},
        {KEY_DC, kVkDelete, 0},     {KEY_ENTER, kVkReturn, 0},  {'\r', kVkReturn, 0},
        {'\n', kVkReturn, 0},       {'\t', kVkTab, 0},          {KEY_BTAB, kVkTab, PKF_SHIFT},
        {27, kVkEscape, 0},         {KEY_BACKSPACE, kVkBack, 0}, {127, kVkBack, 0},
        {8, kVkBack, 0},            {' ', kVkSpace, 0},         {28, kVkBackslash, PKF_CONTROL},
        {KEY_SR, kVkUp, PKF_SHIFT}, {KEY_SF, kVkDown, PKF_SHIFT},
    };
    for (const Named &entry : named) {
        if (entry.terminal == terminalKey) {
            key = {entry.code, entry.state};
            return true;
        }
    }
    if (terminalKey == kKeyCtrlPageUp || terminalKey == kKeyCtrlPageDown) {
        key = {terminalKey == kKeyCtrlPageUp ? kVkPrior : kVkNext, PKF_CONTROL};
        return true;
    }
    if ((terminalKey & ~0xFF) == kKeyAlt) {
        const int c = terminalKey & 0xFF;
        if (!std::isalnum(c)) {
            return false;
        }
        key = {std::toupper(c), PKF_ALT};
        return true;
    }
    // F1..F12 and the shifted sets the terminal description numbers on.
    static const unsigned int fkeyStates[] = {0, PKF_SHIFT, PKF_CONTROL, PKF_CONTROL | PKF_SHIFT,
                                              PKF_ALT};
    if (terminalKey >= KEY_F(1) && terminalKey <= KEY_F(60)) {
        const int n = terminalKey - KEY_F(1);
        key = {kVkF1 + n % 12, fkeyStates[n / 12]};
        return true;
    }
    if (terminalKey >= 1 && terminalKey <= 26) {
        key = {'A' + terminalKey - 1, PKF_CONTROL};
        return true;
    }
    if (terminalKey >= 'a' && terminalKey <= 'z') {
        key = {terminalKey - 'a' + 'A', 0};
        return true;
    }
    if (terminalKey >= 'A' && terminalKey <= 'Z') {
        key = {terminalKey, PKF_SHIFT};
        return true;
    }
    if (terminalKey >= '0' && terminalKey <= '9') {
        key = {terminalKey, 0};
        return true;
    }
    return false;
}

} // namespace qvork_host
