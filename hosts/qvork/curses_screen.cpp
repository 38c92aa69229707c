// The panel's terminal over ncurses.
#include "hosts/qvork/curses_screen.h"

#include <curses.h>
#include <langinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cwchar>

#include "hosts/qvork/signal_cleanup.h"

namespace qvork_host {

namespace {

// The plug-in draws its progress bar with OEM code page characters.
constexpr unsigned char kFullBlock = 219;
constexpr unsigned char kLightShade = 176;
// How long a lone Esc waits for the rest of a key sequence.
constexpr int kEscapeDelayMs = 25;

SCREEN *Terminal = nullptr;
// A UTF-8 terminal shows the bar's own characters; others the line-drawing
// set's nearest ones.
bool Utf8Terminal = false;

struct Colours {
    Paint paint;
    short foreground;
    short background;
    bool bold;
    int plain; // the attribute without colours
};

const Colours kColours[] = {
    {Paint::kPanel, COLOR_CYAN, COLOR_BLUE, false, A_NORMAL},
    {Paint::kPanelFrame, COLOR_CYAN, COLOR_BLUE, false, A_NORMAL},
    {Paint::kPanelTitle, COLOR_BLACK, COLOR_CYAN, false, A_REVERSE},
    {Paint::kCursor, COLOR_BLACK, COLOR_CYAN, false, A_REVERSE},
    {Paint::kSelected, COLOR_YELLOW, COLOR_BLUE, true, A_BOLD},
    {Paint::kSelectedCursor, COLOR_YELLOW, COLOR_CYAN, true, A_REVERSE | A_BOLD},
    {Paint::kFolder, COLOR_WHITE, COLOR_BLUE, true, A_NORMAL},
    {Paint::kStatus, COLOR_CYAN, COLOR_BLUE, false, A_NORMAL},
    {Paint::kBox, COLOR_BLACK, COLOR_WHITE, false, A_NORMAL},
    {Paint::kBoxFocus, COLOR_BLACK, COLOR_CYAN, false, A_REVERSE},
    {Paint::kWarning, COLOR_WHITE, COLOR_RED, true, A_BOLD},
    {Paint::kWarningFocus, COLOR_BLACK, COLOR_WHITE, false, A_REVERSE},
    {Paint::kField, COLOR_BLACK, COLOR_CYAN, false, A_UNDERLINE},
    {Paint::kFieldMarked, COLOR_WHITE, COLOR_BLACK, true, A_REVERSE},
    {Paint::kKeyNumber, COLOR_WHITE, COLOR_BLACK, false, A_NORMAL},
    {Paint::kKeyLabel, COLOR_BLACK, COLOR_CYAN, false, A_REVERSE},
    {Paint::kViewer, COLOR_CYAN, COLOR_BLUE, false, A_NORMAL},
    {Paint::kViewerBar, COLOR_BLACK, COLOR_CYAN, false, A_REVERSE},
};

// Key sequences of xterm-like terminals (tmux among them) that a terminal
// description may lack: Shift+F1..F12 arrive as F13..F24.
struct ExtraKey {
    const char *sequence;
    int key;
};
const ExtraKey kExtraKeys[] = {
    {"\x1b[1;2P", KEY_F(13)},  {"\x1b[1;2Q", KEY_F(14)},  {"\x1b[1;2R", KEY_F(15)},
    {"\x1b[1;2S", KEY_F(16)},  {"\x1b[15;2~", KEY_F(17)}, {"\x1b[17;2~", KEY_F(18)},
    {"\x1b[18;2~", KEY_F(19)}, {"\x1b[19;2~", KEY_F(20)}, {"\x1b[20;2~", KEY_F(21)},
    {"\x1b[21;2~", KEY_F(22)}, {"\x1b[23;2~", KEY_F(23)}, {"\x1b[24;2~", KEY_F(24)},
    {"\x1bO2R", KEY_F(15)},    {"\x1b[H", KEY_HOME},      {"\x1b[F", KEY_END},
    {"\x1b[1~", KEY_HOME},     {"\x1b[4~", KEY_END},      {"\x1bOH", KEY_HOME},
    {"\x1bOF", KEY_END},       {"\x1b[2~", KEY_IC},       {"\x1b[3~", KEY_DC},
};

// Sequences that some terminal descriptions give other meanings (the Linux
// console's TERM=linux numbers Shift+F3 as F13): these keys always win.
// Linux console and rxvt: Shift+F3..F10 as ESC [ 25 ~ .. ESC [ 34 ~.
const ExtraKey kOverrideKeys[] = {
    {"\x1b[25~", KEY_F(15)}, {"\x1b[26~", KEY_F(16)}, {"\x1b[28~", KEY_F(17)},
    {"\x1b[29~", KEY_F(18)}, {"\x1b[31~", KEY_F(19)}, {"\x1b[32~", KEY_F(20)},
    {"\x1b[33~", KEY_F(21)}, {"\x1b[34~", KEY_F(22)}, {"\x1b[13;2~", KEY_F(15)},
    {"\x1b[5;5~", kKeyCtrlPageUp}, {"\x1b[6;5~", kKeyCtrlPageDown},
    {"\x1b[5^", kKeyCtrlPageUp},    {"\x1b[6^", kKeyCtrlPageDown},
};

// The character of a name at text[i], advancing i past it: `wide` is the
// character to draw (0: draw the byte at the old i with CellOf) and the
// result the cells it takes.
int NameCharacter(const std::string &text, size_t &i, wchar_t &wide) {
    wide = 0;
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
        uint32_t code = 0;
        const size_t length = DecodeUtf8(text, i, code);
        const int cells = length > 0 ? wcwidth(static_cast<wchar_t>(code)) : -1;
        if (cells >= 1) {
            wide = static_cast<wchar_t>(code);
            i += length;
            return cells;
        }
        i += length > 0 ? length : 1;
        return 1;
    }
    ++i;
    return 1;
}

chtype CellOf(unsigned char c) {
    if (c == kFullBlock) {
        return ACS_BLOCK;
    }
    if (c == kLightShade) {
        return ACS_CKBOARD;
    }
    if (c < 32 || c >= 127) {
        return '?';
    }
    return c;
}

// Draws one byte of text at (y, x).
void PutCell(int y, int x, unsigned char c, chtype attribute) {
    if (Utf8Terminal && (c == kFullBlock || c == kLightShade)) {
        const wchar_t wide[2] = {c == kFullBlock ? L'\u2588' : L'\u2591', L'\0'};
        cchar_t cell;
        setcchar(&cell, wide, attribute & A_ATTRIBUTES, PAIR_NUMBER(attribute), nullptr);
        mvadd_wch(y, x, &cell);
        return;
    }
    mvaddch(y, x, CellOf(c) | attribute);
}

} // namespace

size_t DecodeUtf8(const std::string &text, size_t i, uint32_t &code) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || length == 0 || i + length > text.size()) {
        return 0;
    }
    code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool CursesScreen::Utf8() const { return Utf8Terminal; }

int PaintAttribute(Paint paint, bool colours) {
    for (size_t i = 0; i < sizeof(kColours) / sizeof(kColours[0]); ++i) {
        if (kColours[i].paint != paint) {
            continue;
        }
        if (!colours) {
            return kColours[i].plain;
        }
        return static_cast<int>(COLOR_PAIR(static_cast<int>(i) + 1)) |
               (kColours[i].bold ? A_BOLD : 0);
    }
    return A_NORMAL;
}

CursesScreen::~CursesScreen() { Stop(); }

bool CursesScreen::Start(std::string &error) {
    if (started_) {
        return true;
    }
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) {
        error = "the panel needs a terminal on standard input and output";
        return false;
    }
    std::setlocale(LC_ALL, "");
    const char *codeset = nl_langinfo(CODESET);
    Utf8Terminal = codeset != nullptr && std::string(codeset) == "UTF-8";
    struct termios before;
    const bool known = tcgetattr(STDIN_FILENO, &before) == 0;
    {
        // ncurses sets its handlers (which restore the terminal) only where
        // a signal has none.
        SignalCleanupAside aside;
        Terminal = newterm(nullptr, stdout, stdin);
    }
    if (Terminal == nullptr) {
        error = "the terminal (TERM) is not one ncurses knows";
        return false;
    }
    set_term(Terminal);
    if (known) {
        // A hang-up, a kill or a closed pipe too: the screen as quitting leaves it.
        std::string leave;
        for (const char *capability : {"sgr0", "rmkx", "cnorm", "rmcup"}) {
            const char *sequence = tigetstr(const_cast<char *>(capability));
            if (sequence != nullptr && sequence != reinterpret_cast<char *>(-1)) {
                leave += sequence;
            }
        }
        RestoreTerminalOnSignal(STDIN_FILENO, &before, leave);
    }
    started_ = true;
    raw(); // Ctrl+\ and Ctrl+C reach the panel as keys
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(kEscapeDelayMs);
    for (const ExtraKey &extra : kExtraKeys) {
        if (key_defined(extra.sequence) == 0) {
            define_key(extra.sequence, extra.key);
        }
    }
    for (const ExtraKey &extra : kOverrideKeys) {
        define_key(extra.sequence, extra.key);
    }
    curs_set(0);
    colours_ = has_colors();
    if (colours_) {
        start_color();
        for (size_t i = 0; i < sizeof(kColours) / sizeof(kColours[0]); ++i) {
            init_pair(static_cast<short>(i + 1), kColours[i].foreground, kColours[i].background);
        }
    }
    return true;
}

void CursesScreen::Stop() {
    if (!started_) {
        return;
    }
    for (auto &entry : saved_) {
        delwin(entry.second.window);
    }
    saved_.clear();
    layers_.clear();
    curs_set(1);
    endwin();
    RestoreTerminalOnSignal(-1, nullptr);
    delscreen(Terminal);
    Terminal = nullptr;
    started_ = false;
}

int CursesScreen::Rows() const { return LINES; }

int CursesScreen::Cols() const { return COLS; }

int CursesScreen::ReadKey() {
    for (;;) {
        errno = 0;
        const int key = wgetch(stdscr);
        if (key == ERR && errno == EINTR) {
            continue;
        }
        if (key == KEY_RESIZE) {
            RedrawAll();
        }
        if (key == 27) {
            // Alt+key: the terminal sends Esc and the key at once.
            wtimeout(stdscr, kEscapeDelayMs);
            const int next = wgetch(stdscr);
            wtimeout(stdscr, -1);
            if (next > 32 && next < 127) {
                return kKeyAlt | next;
            }
            if (next != ERR) {
                ungetch(next);
            }
        }
        return key;
    }
}

void CursesScreen::Put(int y, int x, const std::string &text, Paint paint, int width) {
    if (y < 0 || y >= LINES) {
        return;
    }
    const chtype attribute = static_cast<chtype>(PaintAttribute(paint, colours_));
    const int cells = width >= 0 ? width : static_cast<int>(text.size());
    for (int i = 0; i < cells; ++i) {
        const int column = x + i;
        if (column < 0) {
            continue;
        }
        if (column >= COLS) {
            break;
        }
        const unsigned char c =
            i < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[i]) : ' ';
        PutCell(y, column, c, attribute);
    }
}

int CursesScreen::NameCells(const std::string &text) const {
    if (!Utf8Terminal) {
        return static_cast<int>(text.size());
    }
    int total = 0;
    for (size_t i = 0; i < text.size();) {
        wchar_t wide = 0;
        total += NameCharacter(text, i, wide);
    }
    return total;
}

void CursesScreen::PutName(int y, int x, const std::string &text, Paint paint, int width,
                           bool markCut) {
    if (!Utf8Terminal) {
        Put(y, x, markCut && text.size() > static_cast<size_t>(std::max(width, 0))
                      ? text.substr(0, static_cast<size_t>(std::max(width - 1, 0))) + "}"
                      : text,
            paint, width);
        return;
    }
    if (y < 0 || y >= LINES || width <= 0) {
        return;
    }
    // A name wider than the column is cut with '}' in its last cell, as the
    // file manager marks it.
    const bool cut = markCut && NameCells(text) > width;
    const chtype attribute = static_cast<chtype>(PaintAttribute(paint, colours_));
    const int end = std::min(x + (cut ? width - 1 : width), COLS);
    int column = x;
    for (size_t i = 0; i < text.size() && column < end;) {
        const size_t at = i;
        wchar_t wide = 0;
        const int cells = NameCharacter(text, i, wide);
        if (column + cells > end) {
            break;
        }
        if (column >= 0 && wide != 0) {
            const wchar_t shown[2] = {wide, L'\0'};
            cchar_t cell;
            setcchar(&cell, shown, attribute & A_ATTRIBUTES, PAIR_NUMBER(attribute), nullptr);
            mvadd_wch(y, column, &cell);
        } else if (column >= 0) {
            mvaddch(y, column, CellOf(static_cast<unsigned char>(text[at])) | attribute);
        }
        column += cells;
    }
    for (; column < std::min(x + width, COLS); ++column) {
        if (column >= 0) {
            mvaddch(y, column, static_cast<chtype>(cut && column == x + width - 1 ? '}' : ' ') |
                                   attribute);
        }
    }
}

void CursesScreen::Fill(int y, int x, int height, int width, Paint paint) {
    const std::string blank(width > 0 ? static_cast<size_t>(width) : 0, ' ');
    for (int row = 0; row < height; ++row) {
        Put(y + row, x, blank, paint);
    }
}

void CursesScreen::Frame(int y, int x, int height, int width, Paint paint,
                         const std::string &title) {
    if (height < 2 || width < 2) {
        return;
    }
    const chtype attribute = static_cast<chtype>(PaintAttribute(paint, colours_));
    auto cell = [&](int row, int column, chtype c) {
        if (row >= 0 && row < LINES && column >= 0 && column < COLS) {
            mvaddch(row, column, c | attribute);
        }
    };
    for (int column = x + 1; column < x + width - 1; ++column) {
        cell(y, column, ACS_HLINE);
        cell(y + height - 1, column, ACS_HLINE);
    }
    for (int row = y + 1; row < y + height - 1; ++row) {
        cell(row, x, ACS_VLINE);
        cell(row, x + width - 1, ACS_VLINE);
    }
    cell(y, x, ACS_ULCORNER);
    cell(y, x + width - 1, ACS_URCORNER);
    cell(y + height - 1, x, ACS_LLCORNER);
    cell(y + height - 1, x + width - 1, ACS_LRCORNER);
    if (!title.empty() && width > 4) {
        std::string shown = " " + title + " ";
        if (static_cast<int>(shown.size()) > width - 2) {
            shown.resize(static_cast<size_t>(width - 2));
        }
        Put(y, x + (width - static_cast<int>(shown.size())) / 2, shown, paint);
    }
}

void CursesScreen::FrameRule(int y, int x, int width, Paint paint) {
    if (y < 0 || y >= LINES || width < 2) {
        return;
    }
    const chtype attribute = static_cast<chtype>(PaintAttribute(paint, colours_));
    for (int column = x; column < x + width && column < COLS; ++column) {
        if (column < 0) {
            continue;
        }
        const chtype c =
            column == x ? ACS_LTEE : (column == x + width - 1 ? ACS_RTEE : ACS_HLINE);
        mvaddch(y, column, c | attribute);
    }
}

void CursesScreen::VerticalLine(int y, int x, int height, Paint paint) {
    if (x < 0 || x >= COLS) {
        return;
    }
    const chtype attribute = static_cast<chtype>(PaintAttribute(paint, colours_));
    for (int row = y; row < y + height && row < LINES; ++row) {
        if (row >= 0) {
            mvaddch(row, x, ACS_VLINE | attribute);
        }
    }
}

void CursesScreen::PlaceCursor(int y, int x) {
    if (y >= 0 && y < LINES && x >= 0 && x < COLS) {
        move(y, x);
        curs_set(1);
    }
}

void CursesScreen::HideCursor() { curs_set(0); }

void CursesScreen::Show() { refresh(); }

void CursesScreen::PushLayer(std::function<void()> draw) { layers_.push_back(std::move(draw)); }

void CursesScreen::PopLayer() {
    if (!layers_.empty()) {
        layers_.pop_back();
    }
}

void CursesScreen::RedrawAll() {
    if (!started_) {
        return;
    }
    HideCursor();
    erase();
    for (const auto &draw : layers_) {
        draw();
    }
    refresh();
}

uintptr_t CursesScreen::Save() {
    if (!started_) {
        return 0;
    }
    Saved saved;
    saved.window = dupwin(stdscr);
    saved.rows = LINES;
    saved.cols = COLS;
    if (saved.window == nullptr) {
        return 0;
    }
    const uintptr_t handle = ++nextSaved_;
    saved_[handle] = saved;
    return handle;
}

void CursesScreen::Restore(uintptr_t handle) {
    auto found = saved_.find(handle);
    if (found == saved_.end()) {
        RedrawAll();
        return;
    }
    const Saved saved = found->second;
    saved_.erase(found);
    if (saved.rows == LINES && saved.cols == COLS) {
        overwrite(saved.window, stdscr);
        touchwin(stdscr);
        refresh();
    } else {
        RedrawAll();
    }
    delwin(saved.window);
}

} // namespace qvork_host
