// The terminal as the interactive panel draws on it, over ncurses: colours
// by role, clipped text, frames, and two ways back to an earlier picture:
//
// - layers: whatever stays on screen while keys are read (the panel, a box
//   waiting for an answer, a dialog, the viewer) registers a function that
//   draws it; a resize redraws every layer from the bottom up, at the new
//   size, whenever one is waiting for a key;
// - saved screens: a copy of the whole screen, put back as it was (or, after
//   a resize, redrawn from the layers).
//
// Texts are single-byte: printable ASCII is shown as it is, the OEM full
// block and light shade of the plug-in's progress bar as the terminal's
// block characters, anything else as '?'.
#ifndef QVORK_HOSTS_CURSES_SCREEN_H
#define QVORK_HOSTS_CURSES_SCREEN_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

typedef struct _win_st WINDOW;

namespace qvork_host {

// Keys ReadKey returns beyond the curses key codes: Alt+key as
// kKeyAlt | the character (the terminal sends Esc before it), and the
// Ctrl+PgUp / Ctrl+PgDn sequences of xterm-like terminals and rxvt (codes
// above the curses keys and below 0x10000: curses keeps defined keys in 16
// bits).
constexpr int kKeyAlt = 0x10000;
constexpr int kKeyCtrlPageUp = 0x1F01;
constexpr int kKeyCtrlPageDown = 0x1F02;

enum class Paint {
    kPanel,          // the listing
    kPanelFrame,     // frame and headings
    kPanelTitle,     // the title in the frame
    kCursor,         // the current row
    kSelected,       // a selected row
    kSelectedCursor, // the current row, selected
    kFolder,         // folder names
    kStatus,         // the status line
    kBox,            // boxes and dialogs
    kBoxFocus,       // the focused button or item of a box
    kWarning,        // warning boxes
    kWarningFocus,
    kField,          // an edit field
    kFieldMarked,    // an edit field's text while typing replaces it
    kKeyNumber,      // the key bar's key names
    kKeyLabel,       // the key bar's titles
    kViewer,         // the viewer's text
    kViewerBar,      // the viewer's title and help lines
};

class CursesScreen {
public:
    CursesScreen() = default;
    ~CursesScreen();
    CursesScreen(const CursesScreen &) = delete;
    CursesScreen &operator=(const CursesScreen &) = delete;

    // Takes the terminal over (standard input and output); false with
    // `error` set when it cannot.
    bool Start(std::string &error);
    // Gives the terminal back; safe to call twice.
    void Stop();
    bool Started() const { return started_; }
    // The terminal takes UTF-8 (its locale's code set).
    bool Utf8() const;

    int Rows() const;
    int Cols() const;

    // Waits for a key. A resize is answered here: every layer is redrawn at
    // the new size, and KEY_RESIZE is returned so the caller may redo its
    // own geometry.
    int ReadKey();

    // Text at row `y`, column `x`, clipped to the screen; with `width` >= 0
    // padded with spaces or cut to exactly that many cells.
    void Put(int y, int x, const std::string &text, Paint paint, int width = -1);
    // A name from the cache in a column `width` cells wide: on a UTF-8
    // terminal its UTF-8 characters are drawn as such (wide ones take two
    // cells) and bytes that are not UTF-8 as '?'; elsewhere byte by byte as
    // Put. A name that does not fit is cut with '}' in the last cell, or
    // without a mark when `markCut` is false (an edit field's text).
    void PutName(int y, int x, const std::string &text, Paint paint, int width,
                 bool markCut = true);
    // The cells PutName takes for `text` whole.
    int NameCells(const std::string &text) const;
    void Fill(int y, int x, int height, int width, Paint paint);
    // A frame around the rectangle (its outermost cells), `title` centred
    // in the top line.
    void Frame(int y, int x, int height, int width, Paint paint, const std::string &title = "");
    // A horizontal line joining a frame's sides (row `y` of the frame).
    void FrameRule(int y, int x, int width, Paint paint);
    // A vertical line from row `y` down, `height` cells.
    void VerticalLine(int y, int x, int height, Paint paint);
    // Where the terminal's cursor is left, or hidden.
    void PlaceCursor(int y, int x);
    void HideCursor();
    // Puts what was drawn on the terminal.
    void Show();

    // Layers, bottom first. The draw function draws the whole layer at the
    // current size; it must not read keys.
    void PushLayer(std::function<void()> draw);
    void PopLayer();
    // Clears the screen and draws every layer.
    void RedrawAll();

    // A copy of the whole screen; Restore puts it back and forgets it.
    uintptr_t Save();
    void Restore(uintptr_t handle);

private:
    struct Saved {
        WINDOW *window = nullptr;
        int rows = 0;
        int cols = 0;
    };

    bool started_ = false;
    bool colours_ = false;
    std::vector<std::function<void()>> layers_;
    std::map<uintptr_t, Saved> saved_;
    uintptr_t nextSaved_ = 0;
};

// One UTF-8 character at text[i]: its length, with its code point in
// `code`; 0 when the bytes there are not a well-formed, shortest sequence
// of two to four bytes.
size_t DecodeUtf8(const std::string &text, size_t i, uint32_t &code);

// The attribute a paint role has on this terminal.
int PaintAttribute(Paint paint, bool colours);

} // namespace qvork_host

#endif
