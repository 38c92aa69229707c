// The interactive panel and the screen services behind it.
#include "hosts/qvork/panel_ui.h"

#include <curses.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "hosts/qvork/cache_location.h"
#include "hosts/qvork/command_line.h"
#include "hosts/qvork/dialog_items.h"
#include "hosts/qvork/dialog_ui.h"
#include "hosts/qvork/help_file.h"
#include "hosts/qvork/open_target.h"
#include "hosts/qvork/pager.h"
#include "hosts/qvork/panel_view.h"
#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/stored_items.h"

namespace qvork_host {

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kProgressInterval(40);

// The smallest screen the panel draws on.
constexpr int kLeastRows = 8;
constexpr int kLeastCols = 30;

std::string BoxKey(const MessageBoxText &box) {
    std::string key = box.title;
    for (const std::string &line : box.lines) {
        key += '\n' + line;
    }
    return key;
}

void Warn(CursesScreen &screen, const std::string &title, const std::vector<std::string> &lines) {
    MessageBoxText box;
    box.flags = FMSG_WARNING;
    box.title = title;
    box.lines = lines;
    box.buttons = {"OK"};
    RunMessageBox(screen, box);
}

// "~" and "~/..." as the shell expands them: the home folder.
std::string ExpandHome(const std::string &path) {
    if (path != "~" && path.rfind("~/", 0) != 0) {
        return path;
    }
    const char *home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::string(home) + path.substr(1) : path;
}

// A character quick search takes: letters, digits and the usual name marks.
bool IsSearchCharacter(int c) {
    return c > 0 && c < 127 && (std::isalnum(c) || c == '.' || c == '-' || c == '_');
}

std::string CurrentFolder() {
    std::error_code failed;
    const fs::path here = fs::current_path(failed);
    return failed ? std::string() : here.string();
}

// The panel while it runs: its rows, cursor and scrolling, drawing and keys.
class PanelApp {
public:
    PanelApp(Session &session, CursesScreen &screen, const std::string &helpFile)
        : session_(session), screen_(screen), helpFile_(helpFile) {}

    int Run(std::string &error) {
        screen_.PushLayer([this] { Draw(); });
        screen_.RedrawAll();
        if (!session_.Open(error)) {
            screen_.PopLayer();
            return kExitFailed;
        }
        if (!session_.Read()) {
            session_.Close();
            screen_.PopLayer();
            error = "the plug-in did not list the cache root";
            return kExitFailed;
        }
        rows_ = PanelRows(session_);
        SetCursor(0); // the first row shown, as the file manager opens a panel
        while (!quit_) {
            Draw();
            screen_.Show();
            HandleKey(screen_.ReadKey());
        }
        session_.Close();
        screen_.PopLayer();
        return kExitOk;
    }

private:
    bool AtRoot() const { return session_.AtRoot() && !session_.ShowsDots(); }

    int VisibleRows() const { return std::max(screen_.Rows() - 6, 1); }

    // The rows again after the listing changed; the cursor follows the
    // session's current item (or "..").
    void Sync() {
        rows_ = PanelRows(session_);
        int row = -1;
        if (session_.DotsCurrent() && !rows_.empty() && rows_[0] == kDotsItem) {
            row = 0;
        } else if (!session_.DotsCurrent()) {
            const auto found =
                std::find(rows_.begin(), rows_.end(), session_.CurrentItem());
            if (found != rows_.end()) {
                row = static_cast<int>(found - rows_.begin());
            }
        }
        SetCursor(row >= 0 ? row : cursor_);
    }

    void SetCursor(int row) {
        const int count = static_cast<int>(rows_.size());
        cursor_ = std::clamp(row, 0, std::max(count - 1, 0));
        top_ = ScrollTop(top_, cursor_, count, VisibleRows());
        if (count == 0) {
            session_.SetDotsCurrent(false);
            return;
        }
        const int item = rows_[cursor_];
        session_.SetDotsCurrent(item == kDotsItem);
        if (item != kDotsItem) {
            session_.SetCurrentItem(item);
        }
    }

    int CurrentRowItem() const {
        return rows_.empty() ? kDotsItem : rows_[static_cast<size_t>(cursor_)];
    }

    bool OnItem() const { return !rows_.empty() && CurrentRowItem() != kDotsItem; }

    // The whole panel: frame and title, headings, rows, status line,
    // CurDir and the selection count in the bottom line, key bar.
    void Draw() {
        const int rows = screen_.Rows();
        const int cols = screen_.Cols();
        screen_.HideCursor();
        if (rows < kLeastRows || cols < kLeastCols) {
            screen_.Fill(0, 0, rows, cols, Paint::kPanel);
            screen_.Put(0, 0, "Terminal too small", Paint::kPanel, cols);
            return;
        }
        const PanelFacts &facts = session_.Facts();
        const int frameHeight = rows - 1;
        screen_.Fill(0, 0, frameHeight, cols, Paint::kPanel);
        screen_.Frame(0, 0, frameHeight, cols, Paint::kPanelFrame);
        PutCentred(0, cols, " " + Shown(facts.panelTitle) + " ", Paint::kPanelTitle);
        DrawListing(cols);
        screen_.FrameRule(rows - 4, 0, cols, Paint::kPanelFrame);
        std::string status = notice_;
        if (status.empty() && !rows_.empty()) {
            status = StatusText(RowFactsOf(session_, CurrentRowItem()), screen_.Utf8());
        }
        if (status.empty() && session_.AtRoot()) {
            status = hint_;
        }
        screen_.PutName(rows - 3, 1, status, Paint::kStatus, cols - 2);
        PutCentred(rows - 2, cols,
                   " " + (facts.curDir.empty() ? std::string("\\") : Shown(facts.curDir)) +
                       " ",
                   Paint::kPanelFrame);
        if (!search_.empty()) {
            screen_.Put(rows - 2, 2, " Search: " + EscapedText(search_) + " ", Paint::kSelected);
        }
        const size_t selected = session_.Selection().size();
        if (selected > 0) {
            const std::string count = " " + std::to_string(selected) + " selected ";
            screen_.Put(rows - 2, std::max(cols - 2 - static_cast<int>(count.size()), 1), count,
                        Paint::kSelected);
        }
        DrawKeyBar(rows - 1, cols, facts);
    }

    // `text` centred in a frame line `cols` wide, never over its corners.
    // `text` centred on the frame line at `y`, UTF-8 drawn as characters on
    // a terminal that shows them, cut to fit.
    void PutCentred(int y, int cols, const std::string &text, Paint paint) {
        const int cells = std::min(screen_.NameCells(text), std::max(cols - 2, 0));
        screen_.PutName(y, std::max((cols - cells) / 2, 1), text, paint, cells);
    }

    std::string Shown(const std::string &text) const {
        return screen_.Utf8() ? EscapedUtf8Text(text) : EscapedText(text);
    }

    // The headings and the rows shown, with the lines between the columns.
    void DrawListing(int cols) {
        const std::vector<PanelColumn> columns = PanelColumns(AtRoot(), cols);
        const int listTop = 2;
        const int visible = VisibleRows();
        top_ = ScrollTop(top_, cursor_, static_cast<int>(rows_.size()), visible);
        for (const PanelColumn &column : columns) {
            const int pad = std::max((column.width - static_cast<int>(column.heading.size())) / 2, 0);
            screen_.Put(1, column.x + pad, FitCell(column.heading, column.width - pad, false),
                        Paint::kPanelFrame);
            if (column.x > 1) {
                screen_.VerticalLine(1, column.x - 1, visible + 1, Paint::kPanelFrame);
            }
        }
        for (int line = 0; line < visible && top_ + line < static_cast<int>(rows_.size()); ++line) {
            const int index = top_ + line;
            const RowFacts row = RowFactsOf(session_, rows_[index]);
            const bool current = index == cursor_;
            Paint paint = row.folder ? Paint::kFolder : Paint::kPanel;
            if (row.selected) {
                paint = current ? Paint::kSelectedCursor : Paint::kSelected;
            } else if (current) {
                paint = Paint::kCursor;
            }
            const std::vector<std::string> cells = RowCells(row);
            for (size_t c = 0; c < columns.size() && c < cells.size(); ++c) {
                if (c == 0) {
                    screen_.PutName(listTop + line, columns[c].x, cells[c], paint,
                                    columns[c].width);
                } else {
                    screen_.Put(listTop + line, columns[c].x,
                                FitCell(cells[c], columns[c].width, columns[c].rightAligned),
                                paint);
                }
                if (columns[c].x > 1) {
                    screen_.VerticalLine(listTop + line, columns[c].x - 1, 1, paint);
                }
            }
        }
    }

    void DrawKeyBar(int y, int cols, const PanelFacts &facts) {
        screen_.Put(y, 0, "", Paint::kKeyNumber, cols);
        int x = 0;
        for (const KeyLabel &label : KeyBarLabels(facts)) {
            if (x >= cols) {
                break;
            }
            // "3View" as the file manager shows its F-keys; "Shift+F3 VwHdr".
            const bool digits = label.key.find_first_not_of("0123456789") == std::string::npos;
            const std::string text = (digits ? "" : " ") + label.label;
            screen_.Put(y, x, label.key, Paint::kKeyNumber);
            x += static_cast<int>(label.key.size());
            screen_.Put(y, x, text, Paint::kKeyLabel);
            x += static_cast<int>(text.size()) + 1;
        }
    }

    void HandleKey(int key) {
        if (key == KEY_RESIZE) {
            return; // the screen has redrawn the layers already
        }
        if (key == ERR) {
            quit_ = true; // the terminal is gone
            return;
        }
        notice_.clear();
        const int searched = SearchCharacterOf(key);
        PluginKey pressed;
        if (!PluginKeyOf(key, pressed)) {
            if (searched != 0) {
                QuickSearch(searched);
            } else {
                search_.clear();
            }
            return;
        }
        // Backspace while a quick search is typed takes back its last letter.
        if (!search_.empty() && pressed == PluginKey{kVkBack, 0}) {
            const std::string kept = search_.substr(0, search_.size() - 1);
            search_.clear();
            for (const char c : kept) {
                QuickSearch(static_cast<unsigned char>(c));
            }
            return;
        }
        if (session_.PressKey(pressed.code, pressed.state)) {
            search_.clear();
            session_.Read();
            Sync();
            return;
        }
        // A plain q quits unless a quick search is being typed.
        if (searched != 0 && !(key == 'q' && search_.empty())) {
            QuickSearch(searched);
            return;
        }
        search_.clear();
        Act(pressed);
    }

    // The character a key adds to the quick search (typed, or with Alt), or 0.
    static int SearchCharacterOf(int key) {
        const int c = (key & ~0xFF) == kKeyAlt ? key & 0xFF : key;
        return IsSearchCharacter(c) ? c : 0;
    }

    // The cursor to the first row whose name starts with the search text
    // (letter case aside); a character that matches nothing is not taken.
    void QuickSearch(int c) {
        const std::string wanted = search_ + static_cast<char>(c);
        for (size_t row = 0; row < rows_.size(); ++row) {
            if (rows_[row] == kDotsItem) {
                continue;
            }
            const std::string name = session_.Name(rows_[row]);
            if (name.size() >= wanted.size() &&
                strncasecmp(name.c_str(), wanted.c_str(), wanted.size()) == 0) {
                search_ = wanted;
                SetCursor(static_cast<int>(row));
                break;
            }
        }
    }

    void Act(const PluginKey &key) {
        const int page = std::max(VisibleRows() - 1, 1);
        const int last = static_cast<int>(rows_.size()) - 1;
        if (key.state == 0) {
            switch (key.code) {
            case kVkUp: SetCursor(cursor_ - 1); return;
            case kVkDown: SetCursor(cursor_ + 1); return;
            case kVkPrior: SetCursor(cursor_ - page); return;
            case kVkNext: SetCursor(cursor_ + page); return;
            case kVkHome: SetCursor(0); return;
            case kVkEnd: SetCursor(last); return;
            case kVkReturn: Enter(); return;
            case kVkBack: Up(); return;
            case kVkF1: Help(); return;
            case kVkInsert:
            case kVkSpace: ToggleSelection(); return;
            case kVkF1 + 2: View(); return;
            case kVkF1 + 4: Copy(); return;
            case kVkF1 + 7: Delete(); return;
            case kVkF1 + 8: Configure(); return;
            case kVkF1 + 9: quit_ = AskQuit(); return;
            case 'Q': quit_ = true; return;
            default: return;
            }
        }
        if (key == PluginKey{kVkPrior, PKF_CONTROL}) {
            Up();
        } else if (key == PluginKey{kVkNext, PKF_CONTROL}) {
            Enter();
        } else if (key == PluginKey{kVkBackslash, PKF_CONTROL}) {
            Move("\\");
        } else if (key == PluginKey{'R', PKF_CONTROL}) {
            session_.Read();
            Sync();
        } else if (key == PluginKey{kVkF1 + 2, PKF_SHIFT} && !session_.AtRoot() && !rows_.empty() &&
                   CurrentRowItem() != kDotsItem && !session_.IsFolder(CurrentRowItem())) {
            // The plug-in shows a file's header unless it cannot open the
            // site's cache file.
            notice_ = "no stored header shown: the site's cache file cannot be opened";
        }
    }

    // SetDirectory(name); on a folder going down the cursor starts on "..".
    void Move(const std::string &name) {
        if (!session_.ChangeDirectory(name)) {
            Sync();
            if (name != ".." && name != "\\" && !session_.AtRoot()) {
                notice_ = "cannot open the folder " + Shown(name) +
                          (name.size() >= sizeof(WIN32_FIND_DATAA{}.cFileName)
                               ? " (its name is longer than the listing holds; F5 copies it)"
                               : "");
            }
            return;
        }
        const bool down = name != ".." && name != "\\";
        if (down) {
            session_.SetDotsCurrent(true);
            top_ = 0;
        }
        Sync();
    }

    void Enter() {
        if (rows_.empty()) {
            return;
        }
        const int item = CurrentRowItem();
        if (item == kDotsItem) {
            Up();
        } else if (session_.IsFolder(item)) {
            Move(session_.Name(item));
        }
    }

    // Up one folder. At the top of a site opened from its file the file
    // manager leaves the plug-in's panel (its directory text is empty), as
    // it leaves an archive; here that ends the panel.
    void Up() {
        if (session_.OnSiteFile() && session_.CurDir().empty()) {
            quit_ = true;
        } else if (session_.ShowsDots()) {
            Move("..");
        }
    }

    bool AskQuit() {
        MessageBoxText box;
        box.title = "Quit";
        box.lines = {"Do you want to quit qvork?"};
        box.buttons = {"Yes", "No"};
        return RunMessageBox(screen_, box) == 0;
    }

    // F1: this panel's keys, then the plug-in's help file, every topic as
    // plain text (written for the file manager, whose keys differ a little).
    void Help() {
        static const char kKeys[] =
            "The qvork panel\n"
            "\n"
            "  arrows, PgUp/PgDn, Home/End  move\n"
            "  Enter, Ctrl+PgDn      open a site or folder; on \"..\" go up\n"
            "  Backspace, Ctrl+PgUp  up one folder (leaving the site from its top)\n"
            "  Ctrl+\\                to the site's top folder; from there, out of the site\n"
            "  letters, Alt+letters  to the first name starting with them (Esc ends)\n"
            "  Insert, Space         select or unselect the current item\n"
            "  F3                    view a file's stored body\n"
            "  Shift+F3              view a file's stored HTTP header\n"
            "  F5                    copy the selection (or the current item) to a folder:\n"
            "                        the current folder is offered, ~ is your home\n"
            "  F8                    delete the selected sites (at the cache root; asks)\n"
            "  Ctrl+R                read the cache folder again\n"
            "  F9                    settings: which menus of the file manager list qVORK\n"
            "  F1                    this help; Esc or q leaves it\n"
            "  F10 (asks), q         quit\n"
            "\n"
            "qvork open PATH opens a copied cache or one site file (see qvork --help).\n"
            "What follows is the plug-in's own help, as the file manager shows it: there\n"
            "F9 is reached through Options, and F5 offers the other panel's folder.\n"
            "\n";
        std::ifstream file(helpFile_, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        std::string shown = kKeys;
        if (!file || text.str().empty()) {
            shown += "(the help file " + EscapedText(helpFile_) + " could not be read)\n";
        } else {
            shown += RenderHelp(ParseHelpFile(text.str()));
        }
        std::string pattern = TemporaryFolder() + "/qvork-help.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0) {
            Warn(screen_, "Help", {"cannot make a temporary file", std::strerror(errno)});
            return;
        }
        close(fd);
        const bool watched = RemoveOnSignal(name.data()); // gone with a kill too
        std::ofstream(name.data(), std::ios::binary) << shown;
        std::string error;
        if (!RunPager(screen_, name.data(), "qVORK help", error)) {
            Warn(screen_, "Help", {"cannot show the help", error});
        }
        std::remove(name.data());
        if (watched) {
            ForgetOnSignal(name.data());
        }
        Sync();
    }

    void ToggleSelection() {
        if (OnItem()) {
            const int item = CurrentRowItem();
            const bool selected = (session_.Item(item).Flags & PPIF_SELECTED) != 0;
            session_.SetSelected(item, !selected);
        }
        SetCursor(cursor_ + 1);
    }

    // The selected items, or the current one; none on "..".
    std::vector<int> Chosen() const {
        std::vector<int> chosen = session_.Selection();
        if (chosen.empty() && OnItem()) {
            chosen.push_back(CurrentRowItem());
        }
        return chosen;
    }

    // The host's question for F5: the destination folder.
    bool AskDestination(const std::vector<int> &chosen, std::string &destination) {
        const int width = std::clamp(screen_.Cols() - 4, 30, 76);
        const int height = 8;
        FarDialogItem items[5];
        std::memset(items, 0, sizeof(items));
        auto set = [](FarDialogItem &item, int type, int x1, int y1, int x2, int y2,
                      const std::string &text) {
            item.Type = type;
            item.X1 = x1;
            item.Y1 = y1;
            item.X2 = x2;
            item.Y2 = y2;
            std::strncpy(item.Data, text.c_str(), sizeof(item.Data) - 1);
        };
        const std::string what =
            chosen.size() == 1 ? "\"" + Shown(session_.Name(chosen[0])) + "\""
                               : std::to_string(chosen.size()) + " items";
        set(items[0], DI_DOUBLEBOX, 3, 1, width - 4, height - 2, "Copy");
        set(items[1], DI_TEXT, 5, 2, 0, 0, "Copy " + what + " to:");
        // A folder too long for the field is offered as ".", never cut.
        const std::string here = CurrentFolder();
        set(items[2], DI_FIXEDIT, 5, 3, width - 6, 3, here.size() < sizeof(items[2].Data) ? here : ".");
        items[2].Focus = 1;
        set(items[3], DI_BUTTON, 0, 5, 0, 0, "Copy");
        items[3].Flags = DIF_CENTERGROUP;
        items[3].DefaultButton = 1;
        set(items[4], DI_BUTTON, 0, 5, 0, 0, "Cancel");
        items[4].Flags = DIF_CENTERGROUP;
        if (RunDialogBox(screen_, items, 5, width, height) != 3) {
            return false;
        }
        destination = ItemText(items[2]);
        while (!destination.empty() && destination.back() == ' ') {
            destination.pop_back();
        }
        destination = ExpandHome(destination);
        // Whole, so that the paths in the plug-in's boxes are too.
        std::error_code ignored;
        const std::string whole = destination.empty()
                                      ? destination
                                      : fs::absolute(destination, ignored).lexically_normal().string();
        destination = whole.empty() ? destination : whole;
        while (destination.size() > 1 && destination.back() == '/') {
            destination.pop_back();
        }
        return !destination.empty();
    }

    void Copy() {
        const std::vector<int> chosen = Chosen();
        std::string destination;
        if (chosen.empty() || !AskDestination(chosen, destination)) {
            return;
        }
        if (!BackslashProblem(destination).empty()) {
            Warn(screen_, "Copy",
                 {destination, "holds a \\, which the plug-in reads as a folder separator:",
                  "give a folder without one"});
            return;
        }
        std::error_code failed;
        fs::create_directories(destination, failed);
        if (failed || !fs::is_directory(destination)) {
            Warn(screen_, "Copy",
                 {"cannot create the folder", destination, failed ? failed.message() : ""});
            return;
        }
        std::vector<int> notCopied;
        SweepOnSignal(destination); // killed, it leaves no temporary
        const bool copied = session_.CopyItems(chosen, destination, 0, notCopied);
        SweepOnSignal("");
        if (!copied || !notCopied.empty()) {
            const size_t count = std::max(notCopied.size(), copied ? size_t{0} : size_t{1});
            std::vector<std::string> lines{std::to_string(count) + " of " +
                                           std::to_string(chosen.size()) +
                                           " item(s) not copied to", destination};
            Warn(screen_, "Copy", lines);
        } else {
            notice_ = "copied " + std::to_string(chosen.size()) + " item(s) to " + destination;
        }
        Sync();
    }

    // F3 on a file: its body through GetFiles into a folder of its own,
    // shown in the viewer, then removed.
    void View() {
        if (!OnItem() || session_.IsFolder(CurrentRowItem())) {
            return;
        }
        const int item = CurrentRowItem();
        std::string pattern = TemporaryFolder() + "/qvork-view.XXXXXX";
        std::vector<char> folder(pattern.begin(), pattern.end());
        folder.push_back('\0');
        if (mkdtemp(folder.data()) == nullptr) {
            Warn(screen_, "View", {"cannot make a temporary folder", std::strerror(errno)});
            return;
        }
        const std::string where = folder.data();
        const bool watched = RemoveOnSignal(where); // gone with a kill too
        std::vector<int> failed;
        {
            // The plug-in's boxes name the file it could not copy by its
            // path in the private folder: shown by its name alone.
            class PrivateFolderHidden : public UiInFront {
            public:
                explicit PrivateFolderHidden(const std::string &folder)
                    : UiInFront(InstalledUi()), folder_(folder) {}
                int ShowMessage(const MessageBoxText &box) override {
                    MessageBoxText shown = box;
                    for (std::string &line : shown.lines) {
                        line = PastPrivateFolder(line, folder_);
                    }
                    return UiInFront::ShowMessage(shown);
                }

            private:
                const std::string &folder_;
            } hidden(where);
            session_.CopyItems({item}, where, OPM_SILENT, failed);
        }
        std::string copy;
        std::error_code walkError;
        for (fs::recursive_directory_iterator it(where, walkError), end;
             !walkError && it != end; it.increment(walkError)) {
            if (it->is_regular_file()) {
                copy = it->path().string();
                break;
            }
        }
        std::string error;
        if (copy.empty()) {
            Warn(screen_, "View", {"the plug-in did not copy", Shown(session_.Name(item))});
        } else if (!RunPager(screen_, copy, session_.Name(item), error)) {
            Warn(screen_, "View", {"cannot read the copy", error});
        }
        std::error_code removed;
        fs::remove_all(where, removed);
        if (watched) {
            ForgetOnSignal(where);
        }
        Sync();
    }

    // F8. The plug-in deletes whole sites at the cache root only, and says
    // nothing otherwise: the panel says why nothing happens.
    void Delete() {
        const std::vector<int> chosen = Chosen();
        if (chosen.empty()) {
            return;
        }
        if (!session_.AtRoot() || session_.OnSiteFile()) {
            Warn(screen_, "Delete", {"Only whole sites can be deleted, from the list of sites",
                                     "(each site is one cache file)."});
            return;
        }
        for (int item : chosen) {
            if (session_.Item(item).Description == nullptr) {
                Warn(screen_, "Delete", {Shown(session_.Name(item)) +
                                             " is not a site file (it cannot be read as one):",
                                         "nothing was deleted."});
                return;
            }
        }
        std::vector<std::pair<std::string, std::string>> sites; // name, cache file
        for (int item : chosen) {
            const char *file = session_.Item(item).Description; // a packed field: read, not bound
            sites.emplace_back(session_.Name(item), file != nullptr ? file : "");
        }
        AnswerWatch watch;
        const bool deleted = session_.DeleteSelection();
        Sync();
        // The plug-in says nothing when a confirmed deletion fails.
        if (!deleted && watch.answer == 0) {
            std::vector<std::string> lines = {"Not deleted:"};
            for (const auto &[name, file] : sites) {
                if (session_.ListsSite(name, file) && lines.size() < 6) {
                    lines.push_back(Shown(name) + " (" + Shown(file) + ")");
                }
            }
            lines.push_back("a cache file could not be deleted, or it changed since the list");
            lines.push_back("was read (Ctrl+R reads it again).");
            Draw();
            Warn(screen_, "Delete", lines);
        }
    }

    // While it lives: the button the last question was answered with, and
    // whether a warning was shown.
    class AnswerWatch : public UiInFront {
    public:
        AnswerWatch() : UiInFront(InstalledUi()) {}
        int ShowMessage(const MessageBoxText &box) override {
            const int result = UiInFront::ShowMessage(box);
            answer = box.buttons.empty() ? answer : result;
            warned = warned || (box.flags & FMSG_WARNING) != 0;
            return result;
        }
        int answer = -1;
        bool warned = false;
    };

    void Configure() {
        if (session_.Entry().Configure == nullptr) {
            return;
        }
        AnswerWatch watch;
        // The plug-in says it is done even when saving failed, after a warning.
        if (session_.Entry().Configure(0)) {
            std::string error;
            notice_ = watch.warned               ? "settings not saved"
                      : !KeepRunSettings(error) ? "settings not saved: " + error
                                                : "settings saved";
        }
    }

    Session &session_;
    CursesScreen &screen_;
    std::string helpFile_;
    std::vector<int> rows_;
    int cursor_ = 0;
    int top_ = 0;
    bool quit_ = false;
    std::string notice_; // shown once in the status line
    std::string search_; // the quick search typed so far

public:
    std::string hint_; // shown in the status line of an empty root
};

} // namespace

int CursesUi::ShowMessage(const MessageBoxText &box) {
    if (!screen_.Started()) {
        return box.buttons.empty() ? 0 : -1;
    }
    if (!box.buttons.empty()) {
        progressShown_.clear();
        // The plug-in joins paths with "\\" (no path given to it holds one):
        // a path is shown as the system names it.
        MessageBoxText shown = box;
        for (std::string &line : shown.lines) {
            if (!line.empty() && line[0] == '/') {
                std::replace(line.begin(), line.end(), '\\', '/');
            }
        }
        return RunMessageBox(screen_, shown);
    }
    const auto now = std::chrono::steady_clock::now();
    const std::string key = BoxKey(box);
    if (key == progressShown_ ||
        (!progressShown_.empty() && now - progressDrawn_ < kProgressInterval)) {
        return 0;
    }
    DrawMessageBox(screen_, box, -1);
    screen_.Show();
    progressShown_ = key;
    progressDrawn_ = now;
    return 0;
}

int CursesUi::RunDialog(FarDialogItem *items, int count, int width, int height) {
    progressShown_.clear();
    return RunDialogBox(screen_, items, count, width, height);
}

HANDLE CursesUi::SaveScreen() { return reinterpret_cast<HANDLE>(screen_.Save()); }

void CursesUi::RestoreScreen(HANDLE screen) {
    progressShown_.clear();
    screen_.Restore(reinterpret_cast<uintptr_t>(screen));
}

int CursesUi::ShowFile(const std::string &path, const std::string &title, DWORD flags) {
    progressShown_.clear();
    const bool owned = (flags & VF_DELETEONCLOSE) != 0 && RemoveOnSignal(path);
    std::string error;
    const bool shown = RunPager(screen_, path, title, error);
    if (!shown) {
        Warn(screen_, "View", {"cannot open " + EscapedText(path), error});
    }
    if ((flags & VF_DELETEONCLOSE) != 0) {
        std::remove(path.c_str());
    }
    if (owned) {
        ForgetOnSignal(path);
    }
    return shown ? 1 : 0;
}

int RunPanel(Session &session, CursesScreen &screen, const std::string &helpFile,
             std::string &error, const std::string &rootHint) {
    PanelApp app(session, screen, helpFile);
    app.hint_ = EscapedText(rootHint);
    return app.Run(error);
}

} // namespace qvork_host
