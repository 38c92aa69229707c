// The viewer over curses.
#include "hosts/qvork/pager.h"

#include <curses.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "hosts/qvork/panel_view.h"

namespace qvork_host {

namespace {

constexpr int kTabWidth = 8;
constexpr int kSideStep = 8;

} // namespace

std::vector<std::string> ViewerLines(const std::string &content) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < content.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(content[i]);
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
            continue;
        } else if (c == '\t') {
            line.append(static_cast<size_t>(kTabWidth - line.size() % kTabWidth), ' ');
        } else {
            line += (c < 32 || c >= 127) ? '.' : static_cast<char>(c);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

namespace {

// Reads at most kViewerLimit bytes of the file, and says whether there was more.
bool ReadForViewing(const std::string &path, std::string &content, bool &cut,
                    std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    content.clear();
    char chunk[65536];
    while (content.size() <= kViewerLimit && file.read(chunk, sizeof(chunk)).gcount() > 0) {
        content.append(chunk, static_cast<size_t>(file.gcount()));
    }
    cut = content.size() > kViewerLimit;
    if (cut) {
        content.resize(kViewerLimit);
    }
    return true;
}

// The viewer while it is open: where it is in the lines, drawing, keys.
class Pager {
public:
    Pager(CursesScreen &screen, std::vector<std::string> lines, const std::string &title)
        : screen_(screen), lines_(std::move(lines)), title_(EscapedText(title)) {}

    void Run() {
        const uintptr_t under = screen_.Save();
        screen_.PushLayer([this] { Draw(); });
        for (bool open = true; open;) {
            Draw();
            screen_.Show();
            open = HandleKey(screen_.ReadKey());
        }
        screen_.PopLayer();
        screen_.Restore(under);
    }

private:
    int Count() const { return static_cast<int>(lines_.size()); }
    int Page() const { return std::max(screen_.Rows() - 2, 1); }
    int LastTop() const { return std::max(Count() - Page(), 0); }

    // Title and position on the first row, the text, the keys on the last.
    void Draw() {
        const int cols = screen_.Cols();
        screen_.HideCursor();
        top_ = std::clamp(top_, 0, LastTop());
        const int shownEnd = std::min(top_ + Page(), Count());
        const std::string where =
            Count() == 0 ? "empty"
                         : "lines " + std::to_string(top_ + 1) + "-" + std::to_string(shownEnd) +
                               " of " + std::to_string(Count()) +
                               (side_ > 0 ? ", column " + std::to_string(side_ + 1) : "");
        const int room = cols - static_cast<int>(where.size()) - 1;
        std::string bar = " " + title_;
        bar.resize(std::min(bar.size(), static_cast<size_t>(std::max(room - 1, 0))));
        screen_.Put(0, 0, bar, Paint::kViewerBar, cols);
        screen_.Put(0, std::max(room, 0), where, Paint::kViewerBar);
        for (int row = 0; row < Page(); ++row) {
            const int index = top_ + row;
            std::string text;
            if (index < Count() && side_ < static_cast<int>(lines_[index].size())) {
                text = lines_[index].substr(static_cast<size_t>(side_));
            }
            screen_.Put(1 + row, 0, text, Paint::kViewer, cols);
        }
        screen_.Put(screen_.Rows() - 1, 0,
                    " Up/Down PgUp/PgDn Home/End move   Left/Right shift   q Esc F10 close",
                    Paint::kViewerBar, cols);
    }

    // False when the key closes the viewer.
    bool HandleKey(int key) {
        switch (key) {
        case KEY_UP: --top_; break;
        case KEY_DOWN:
        case '\r':
        case '\n':
        case KEY_ENTER: ++top_; break;
        case KEY_PPAGE: top_ -= Page(); break;
        case KEY_NPAGE:
        case ' ': top_ += Page(); break;
        case KEY_HOME: top_ = 0; side_ = 0; break;
        case KEY_END: top_ = LastTop(); break;
        case KEY_LEFT: side_ = std::max(side_ - kSideStep, 0); break;
        case KEY_RIGHT: side_ += kSideStep; break;
        case 'q':
        case 'Q':
        case 27:
        case KEY_F(10):
        case KEY_F(3):
        case ERR: return false;
        default: break;
        }
        return true;
    }

    CursesScreen &screen_;
    std::vector<std::string> lines_;
    std::string title_;
    int top_ = 0;  // the first line shown
    int side_ = 0; // the first column shown
};

} // namespace

bool RunPager(CursesScreen &screen, const std::string &path, const std::string &title,
              std::string &error) {
    std::string content;
    bool cut = false;
    if (!ReadForViewing(path, content, cut, error)) {
        return false;
    }
    std::vector<std::string> lines = ViewerLines(content);
    if (cut) {
        lines.push_back("[only the first " + std::to_string(kViewerLimit / (1024 * 1024)) +
                        " MiB are shown]");
    }
    Pager(screen, std::move(lines), title).Run();
    return true;
}

} // namespace qvork_host
