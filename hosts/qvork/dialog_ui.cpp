// Message boxes and dialogs drawn with curses.
#include "hosts/qvork/dialog_ui.h"

#include <curses.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "hosts/qvork/dialog_items.h"

namespace qvork_host {

namespace {

constexpr int kMarginRows = 1; // box colour around the frame
constexpr int kMarginCols = 2;
constexpr int kPadCols = 1;    // inside the frame, beside the text

int Length(const std::string &text) { return static_cast<int>(text.size()); }

std::string ButtonLabel(const std::string &text, bool isDefault) {
    return isDefault ? "{ " + text + " }" : "[ " + text + " ]";
}

bool IsEnter(int key) { return key == '\r' || key == '\n' || key == KEY_ENTER; }

bool IsPrintable(int key) { return key >= 32 && key < 127; }

// A byte typed into a field: printable ASCII, or one byte of a UTF-8
// character (the terminal sends each of them as a key of its own).
bool IsTextByte(int key) { return IsPrintable(key) || (key >= 0x80 && key <= 0xFF); }

bool IsContinuation(const std::string &text, int at) {
    return at > 0 && at < static_cast<int>(text.size()) &&
           (static_cast<unsigned char>(text[static_cast<size_t>(at)]) & 0xC0) == 0x80;
}

} // namespace

std::string ButtonRowText(const std::vector<std::string> &buttons, std::vector<int> &starts) {
    std::string row;
    starts.clear();
    for (const std::string &button : buttons) {
        if (!row.empty()) {
            row += " ";
        }
        starts.push_back(Length(row));
        row += ButtonLabel(button, false);
    }
    return row;
}

BoxPlace MessageBoxPlace(const MessageBoxText &box, int rows, int cols) {
    std::vector<int> starts;
    int content = std::max(Length(box.title) + 2, Length(ButtonRowText(box.buttons, starts)));
    for (const std::string &line : box.lines) {
        content = std::max(content, Length(line));
    }
    const int chrome = 2 * (kMarginCols + 1 + kPadCols);
    BoxPlace place;
    place.width = std::min(content + chrome, std::max(cols, 1));
    place.height = static_cast<int>(box.lines.size()) + (box.buttons.empty() ? 0 : 2) + 2 +
                   2 * kMarginRows;
    place.height = std::min(place.height, std::max(rows, 1));
    place.x = std::max((cols - place.width) / 2, 0);
    place.y = std::max((rows - place.height) / 2, 0);
    return place;
}

void DrawMessageBox(CursesScreen &screen, const MessageBoxText &box, int focus) {
    const bool warning = (box.flags & FMSG_WARNING) != 0;
    const Paint paint = warning ? Paint::kWarning : Paint::kBox;
    const BoxPlace place = MessageBoxPlace(box, screen.Rows(), screen.Cols());
    screen.Fill(place.y, place.x, place.height, place.width, paint);
    const int frameY = place.y + kMarginRows;
    const int frameX = place.x + kMarginCols;
    const int frameWidth = place.width - 2 * kMarginCols;
    const int frameHeight = place.height - 2 * kMarginRows;
    screen.Frame(frameY, frameX, frameHeight, frameWidth, paint, box.title);
    const int textWidth = frameWidth - 2 - 2 * kPadCols;
    int y = frameY + 1;
    for (const std::string &line : box.lines) {
        // UTF-8 (a name in a line) is drawn as characters where the terminal shows them.
        const int cells = std::min(screen.NameCells(line), std::max(textWidth, 0));
        screen.PutName(y++, frameX + 1 + kPadCols + (textWidth - cells) / 2, line, paint, cells);
    }
    if (box.buttons.empty()) {
        return;
    }
    screen.FrameRule(y++, frameX, frameWidth, paint);
    std::vector<int> starts;
    const std::string row = ButtonRowText(box.buttons, starts);
    const int rowX = frameX + 1 + kPadCols + std::max((textWidth - Length(row)) / 2, 0);
    for (size_t i = 0; i < box.buttons.size(); ++i) {
        const bool focused = static_cast<int>(i) == focus;
        const Paint buttonPaint =
            focused ? (warning ? Paint::kWarningFocus : Paint::kBoxFocus) : paint;
        screen.Put(y, rowX + starts[i], ButtonLabel(box.buttons[i], false), buttonPaint);
    }
}

namespace {

// The button whose initial is `key`, when no other button shares it; -1.
int ButtonByInitial(const std::vector<std::string> &buttons, int key) {
    int match = -1;
    int sharing = 0;
    for (size_t i = 0; i < buttons.size(); ++i) {
        const std::string &text = buttons[i];
        if (!text.empty() &&
            std::tolower(static_cast<unsigned char>(text[0])) == std::tolower(key)) {
            match = static_cast<int>(i);
            ++sharing;
        }
    }
    return sharing == 1 ? match : -1;
}

// One key in a box with `count` buttons: moves `focus`, or closes the box
// (false) with `answer` set.
bool MessageBoxKey(const MessageBoxText &box, int key, int &focus, int &answer) {
    const int count = static_cast<int>(box.buttons.size());
    switch (key) {
    case KEY_LEFT:
    case KEY_UP:
    case KEY_BTAB:
        focus = (focus + count - 1) % count;
        return true;
    case KEY_RIGHT:
    case KEY_DOWN:
    case '\t':
        focus = (focus + 1) % count;
        return true;
    case 27:
    case ERR:
        answer = -1;
        return false;
    default:
        break;
    }
    if (IsEnter(key) || key == ' ') {
        answer = focus;
        return false;
    }
    if (IsPrintable(key)) {
        answer = ButtonByInitial(box.buttons, key);
        return answer < 0;
    }
    return true;
}

} // namespace

int RunMessageBox(CursesScreen &screen, const MessageBoxText &box) {
    int focus = 0;
    const uintptr_t under = screen.Save();
    screen.PushLayer([&screen, &box, &focus] { DrawMessageBox(screen, box, focus); });
    int answer = -1;
    for (bool open = true; open;) {
        screen.HideCursor();
        DrawMessageBox(screen, box, focus);
        screen.Show();
        open = MessageBoxKey(box, screen.ReadKey(), focus, answer);
    }
    screen.PopLayer();
    screen.Restore(under);
    return answer;
}

std::vector<int> DialogItemColumns(const FarDialogItem *items, int count, int width) {
    std::vector<int> columns(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        columns[i] = items[i].X1;
    }
    // Each row's centred group: its buttons side by side, one space apart.
    std::vector<bool> placed(columns.size(), false);
    for (int i = 0; i < count; ++i) {
        if (placed[i] || items[i].Type != DI_BUTTON || (items[i].Flags & DIF_CENTERGROUP) == 0) {
            continue;
        }
        std::vector<int> group;
        int total = -1;
        for (int j = i; j < count; ++j) {
            if (items[j].Type == DI_BUTTON && (items[j].Flags & DIF_CENTERGROUP) != 0 &&
                items[j].Y1 == items[i].Y1) {
                group.push_back(j);
                total += Length(DialogItemLabel(items[j])) + 1;
            }
        }
        int x = std::max((width - total) / 2, 0);
        for (int j : group) {
            columns[j] = x;
            placed[j] = true;
            x += Length(DialogItemLabel(items[j])) + 1;
        }
    }
    return columns;
}

std::string DialogItemLabel(const FarDialogItem &item) {
    const std::string text = ItemText(item);
    switch (item.Type) {
    case DI_CHECKBOX:
        return std::string(item.Selected ? "[x] " : "[ ] ") + text;
    case DI_BUTTON:
        return ButtonLabel(text, item.DefaultButton != 0);
    default:
        return text;
    }
}

bool MaskAllows(const std::string &mask, size_t position, char c) {
    if (!IsTextByte(static_cast<unsigned char>(c))) {
        return false;
    }
    if (position >= mask.size()) {
        return mask.empty();
    }
    if (mask[position] == '9' || mask[position] == '#') {
        return std::isdigit(static_cast<unsigned char>(c)) || c == ' ';
    }
    return true;
}

namespace {

// A dialog while it runs: focus, edit positions, drawing and keys.
class DialogRun {
public:
    DialogRun(CursesScreen &screen, FarDialogItem *items, int count, int width, int height)
        : screen_(screen), items_(items), count_(count), width_(width), height_(height),
          edits_(static_cast<size_t>(count)) {
        for (int i = 0; i < count_; ++i) {
            if (items_[i].Type == DI_FIXEDIT) {
                edits_[i].cursor = Length(ItemText(items_[i]));
                edits_[i].marked = ItemMask(items_[i]).empty() && edits_[i].cursor > 0;
                edits_[i].cursor = std::min(edits_[i].cursor, FieldLimit(i) - 1);
                edits_[i].cursor = std::max(edits_[i].cursor, 0);
            }
        }
        for (int i = 0; i < count_ && focus_ < 0; ++i) {
            if (items_[i].Focus && IsInteractive(items_[i])) {
                focus_ = i;
            }
        }
        if (focus_ < 0) {
            Move(1);
        }
    }

    int Run() {
        const uintptr_t under = screen_.Save();
        screen_.PushLayer([this] { Draw(); });
        int result = -1;
        for (bool open = true; open;) {
            Draw();
            screen_.Show();
            const int key = screen_.ReadKey();
            open = HandleKey(key, result);
        }
        screen_.HideCursor();
        screen_.PopLayer();
        screen_.Restore(under);
        return result;
    }

private:
    struct Edit {
        int cursor = 0;      // position in the text
        int scroll = 0;      // first position shown
        bool marked = false; // the first typed character replaces the text
    };

    // The most characters the field holds: its mask's length, else Data.
    int FieldLimit(int index) const {
        const std::string mask = ItemMask(items_[index]);
        if (!mask.empty()) {
            return Length(mask);
        }
        return static_cast<int>(sizeof(items_[index].Data)) - 1;
    }

    int FieldWidth(int index) const {
        const FarDialogItem &item = items_[index];
        const int mask = Length(ItemMask(item));
        return std::max({item.X2 - item.X1 + 1, mask, 1});
    }

    void Origin(int &y, int &x) const {
        y = std::max((screen_.Rows() - height_) / 2, 0);
        x = std::max((screen_.Cols() - width_) / 2, 0);
    }

    void Draw() {
        int top;
        int left;
        Origin(top, left);
        screen_.HideCursor();
        screen_.Fill(top, left, height_, width_, Paint::kBox);
        left_ = left;
        columns_ = DialogItemColumns(items_, count_, width_);
        const std::vector<int> &columns = columns_;
        int cursorY = -1;
        int cursorX = -1;
        for (int i = 0; i < count_; ++i) {
            DrawItem(i, top + items_[i].Y1, left + columns[i], cursorY, cursorX);
        }
        if (cursorY >= 0) {
            screen_.PlaceCursor(cursorY, cursorX);
        }
    }

    // One item at (y, x); the focused one sets where the cursor goes.
    void DrawItem(int index, int y, int x, int &cursorY, int &cursorX) {
        const FarDialogItem &item = items_[index];
        const bool focused = index == focus_;
        switch (item.Type) {
        case DI_DOUBLEBOX:
            screen_.Frame(y, x, item.Y2 - item.Y1 + 1, item.X2 - item.X1 + 1, Paint::kBox,
                          ItemText(item));
            return;
        case DI_FIXEDIT: {
            // Positions are bytes; a UTF-8 character shows in its cells.
            Edit &edit = edits_[index];
            const int width = FieldWidth(index);
            const std::string text = ItemText(item);
            const auto cells = [&](int from, int to) {
                return from >= to ? 0
                                  : screen_.NameCells(text.substr(static_cast<size_t>(from),
                                                                  static_cast<size_t>(to - from)));
            };
            edit.scroll = std::min(edit.scroll, edit.cursor);
            while (IsContinuation(text, edit.scroll)) {
                --edit.scroll;
            }
            while (edit.scroll < edit.cursor && cells(edit.scroll, edit.cursor) > width - 1) {
                ++edit.scroll;
                while (IsContinuation(text, edit.scroll)) {
                    ++edit.scroll;
                }
            }
            const std::string shown =
                edit.scroll < Length(text) ? text.substr(static_cast<size_t>(edit.scroll)) : "";
            screen_.PutName(y, x, shown, edit.marked ? Paint::kFieldMarked : Paint::kField, width,
                            false);
            if (focused) {
                cursorY = y;
                cursorX = x + cells(edit.scroll, edit.cursor);
            }
            return;
        }
        case DI_CHECKBOX:
        case DI_BUTTON:
            screen_.Put(y, x, DialogItemLabel(item), focused ? Paint::kBoxFocus : Paint::kBox);
            if (focused && item.Type == DI_CHECKBOX) {
                cursorY = y;
                cursorX = x + 1;
            }
            return;
        default: {
            // Cut (marked) where the frame is: a long site or file name in
            // the text must not run over the frame and the panel behind.
            const std::string label = DialogItemLabel(item);
            const int room = std::max(RightEdge() - (x - left_), 1);
            screen_.PutName(y, x, label, Paint::kBox, std::min(screen_.NameCells(label), room));
            return;
        }
        }
    }

    // The first column past the room for text: the double box's right side,
    // else the dialog's last column (relative to the dialog).
    int RightEdge() const {
        for (int i = 0; i < count_ && static_cast<size_t>(i) < columns_.size(); ++i) {
            if (items_[i].Type == DI_DOUBLEBOX) {
                return columns_[static_cast<size_t>(i)] + items_[i].X2 - items_[i].X1;
            }
        }
        return width_ - 1;
    }

    void Move(int step) {
        for (int tries = 0; tries < count_; ++tries) {
            focus_ = ((focus_ < 0 ? (step > 0 ? -1 : 0) : focus_) + step + count_) % count_;
            if (IsInteractive(items_[focus_])) {
                return;
            }
        }
        focus_ = -1;
    }

    // Puts `c` at the cursor of the focused field, over what is there.
    void Type(char c) {
        FarDialogItem &item = items_[focus_];
        Edit &edit = edits_[focus_];
        std::string text = edit.marked ? std::string() : ItemText(item);
        const int at = edit.marked ? 0 : edit.cursor;
        // A UTF-8 character goes in whole or not at all: its first byte needs
        // room for the rest, and the rest follow only a first byte.
        const unsigned char byte = static_cast<unsigned char>(c);
        const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        const bool stray = byte >= 0x80 && byte < 0xC0 &&
                           (at == 0 || static_cast<unsigned char>(text[static_cast<size_t>(at - 1)]) < 0x80);
        if (!MaskAllows(ItemMask(item), static_cast<size_t>(at), c) || at + length > FieldLimit(focus_) ||
            stray) {
            beep();
            return;
        }
        const bool masked = !ItemMask(item).empty();
        if (at < Length(text) && masked) {
            text[static_cast<size_t>(at)] = c;
        } else if (at <= Length(text)) {
            text.insert(static_cast<size_t>(at), 1, c);
        }
        if (Length(text) > FieldLimit(focus_)) {
            beep();
            return;
        }
        Store(item, text);
        edit.marked = false;
        edit.cursor = std::min(at + 1, masked ? FieldLimit(focus_) - 1 : Length(text));
    }

    static void Store(FarDialogItem &item, const std::string &text) {
        std::memset(item.Data, 0, sizeof(item.Data));
        std::memcpy(item.Data, text.data(), std::min(text.size(), sizeof(item.Data) - 1));
    }

    // Keys of an edit field; false when the key is not one of them.
    bool EditKey(int key) {
        FarDialogItem &item = items_[focus_];
        Edit &edit = edits_[focus_];
        std::string text = ItemText(item);
        switch (key) {
        case KEY_LEFT: // by characters: the bytes of one move together
            edit.cursor = std::max(edit.cursor - 1, 0);
            while (IsContinuation(text, edit.cursor)) {
                --edit.cursor;
            }
            break;
        case KEY_RIGHT:
            edit.cursor = std::min(edit.cursor + 1, std::min(Length(text), FieldLimit(focus_) - 1));
            while (IsContinuation(text, edit.cursor) && edit.cursor < FieldLimit(focus_) - 1) {
                ++edit.cursor;
            }
            break;
        case KEY_HOME:
            edit.cursor = 0;
            break;
        case KEY_END:
            edit.cursor = std::min(Length(text), FieldLimit(focus_) - 1);
            break;
        case KEY_BACKSPACE:
        case 127:
        case 8:
            if (edit.marked) {
                text.clear();
                edit.cursor = 0;
            } else if (edit.cursor > 0 && edit.cursor <= Length(text)) {
                int from = edit.cursor - 1;
                while (IsContinuation(text, from)) {
                    --from;
                }
                text.erase(static_cast<size_t>(from), static_cast<size_t>(edit.cursor - from));
                edit.cursor = from;
            }
            Store(item, text);
            break;
        case KEY_DC:
            if (edit.marked) {
                text.clear();
                edit.cursor = 0;
            } else if (edit.cursor < Length(text)) {
                int to = edit.cursor + 1;
                while (IsContinuation(text, to)) {
                    ++to;
                }
                text.erase(static_cast<size_t>(edit.cursor), static_cast<size_t>(to - edit.cursor));
            }
            Store(item, text);
            break;
        case 21: // Ctrl+U: empty the field
            text.clear();
            edit.cursor = 0;
            Store(item, text);
            break;
        default:
            if (!IsTextByte(key)) {
                return false;
            }
            Type(static_cast<char>(key));
            return true;
        }
        edit.marked = false;
        return true;
    }

    // False when the key closed the dialog, with `result` set.
    bool HandleKey(int key, int &result) {
        if (key == ERR || key == 27) {
            result = -1;
            return false;
        }
        if (key == KEY_RESIZE) {
            return true;
        }
        if (IsEnter(key)) {
            if (focus_ >= 0 && items_[focus_].Type == DI_BUTTON) {
                result = focus_;
            } else {
                result = FindAcceptButton(items_, count_);
            }
            return false;
        }
        if (key == '\t' || key == KEY_DOWN) {
            Move(1);
            return true;
        }
        if (key == KEY_BTAB || key == KEY_UP) {
            Move(-1);
            return true;
        }
        if (focus_ < 0) {
            return true;
        }
        FarDialogItem &item = items_[focus_];
        if (item.Type == DI_FIXEDIT) {
            EditKey(key);
            return true;
        }
        if (key == KEY_LEFT) {
            Move(-1);
        } else if (key == KEY_RIGHT) {
            Move(1);
        } else if (key == ' ' && item.Type == DI_CHECKBOX) {
            item.Selected = item.Selected ? 0 : 1;
        } else if (key == ' ' && item.Type == DI_BUTTON) {
            result = focus_;
            return false;
        }
        return true;
    }

    CursesScreen &screen_;
    FarDialogItem *items_;
    int count_;
    int width_;
    int left_ = 0;             // the dialog's first column on the screen, while drawn
    std::vector<int> columns_; // each item's column in the dialog, while drawn
    int height_;
    std::vector<Edit> edits_;
    int focus_ = -1;
};

} // namespace

int RunDialogBox(CursesScreen &screen, FarDialogItem *items, int count, int width, int height) {
    if (items == nullptr || count <= 0) {
        return -1;
    }
    width = std::clamp(width, 1, 1000);
    height = std::clamp(height, 1, 1000);
    DialogRun run(screen, items, count, width, height);
    return run.Run();
}

} // namespace qvork_host
