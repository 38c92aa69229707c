// The viewer over curses.
#include "hosts/qvork/pager.h"

#include <curses.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

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

bool RunPager(CursesScreen &screen, const std::string &path, const std::string &title,
              std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::string content;
    char chunk[65536];
    while (content.size() <= kViewerLimit &&
           file.read(chunk, sizeof(chunk)).gcount() > 0) {
        content.append(chunk, static_cast<size_t>(file.gcount()));
    }
    const bool cut = content.size() > kViewerLimit;
    if (cut) {
        content.resize(kViewerLimit);
    }
    file.close();
    std::vector<std::string> lines = ViewerLines(content);
    if (cut) {
        lines.push_back("[only the first " + std::to_string(kViewerLimit / (1024 * 1024)) +
                        " MiB are shown]");
    }
    const int count = static_cast<int>(lines.size());
    const std::string shownTitle = EscapedText(title);
    int top = 0;
    int side = 0;
    auto page = [&screen] { return std::max(screen.Rows() - 2, 1); };
    auto lastTop = [&] { return std::max(count - page(), 0); };
    auto draw = [&] {
        const int rows = screen.Rows();
        const int cols = screen.Cols();
        top = std::clamp(top, 0, lastTop());
        const int shownEnd = std::min(top + page(), count);
        const std::string where =
            count == 0 ? "empty"
                       : "lines " + std::to_string(top + 1) + "-" + std::to_string(shownEnd) +
                             " of " + std::to_string(count) +
                             (side > 0 ? ", column " + std::to_string(side + 1) : "");
        std::string bar = " " + shownTitle;
        const int room = cols - static_cast<int>(where.size()) - 1;
        if (static_cast<int>(bar.size()) > room - 1) {
            bar.resize(static_cast<size_t>(std::max(room - 1, 0)));
        }
        screen.Put(0, 0, bar, Paint::kViewerBar, cols);
        screen.Put(0, std::max(room, 0), where, Paint::kViewerBar);
        for (int row = 0; row < page(); ++row) {
            const int index = top + row;
            std::string text;
            if (index < count && side < static_cast<int>(lines[index].size())) {
                text = lines[index].substr(static_cast<size_t>(side));
            }
            screen.Put(1 + row, 0, text, Paint::kViewer, cols);
        }
        screen.Put(rows - 1, 0,
                   " Up/Down PgUp/PgDn Home/End move   Left/Right shift   q Esc F10 close",
                   Paint::kViewerBar, cols);
    };
    const uintptr_t under = screen.Save();
    screen.PushLayer(draw);
    for (bool open = true; open;) {
        screen.HideCursor();
        draw();
        screen.Show();
        switch (screen.ReadKey()) {
        case KEY_UP:
            --top;
            break;
        case KEY_DOWN:
        case '\r':
        case '\n':
        case KEY_ENTER:
            ++top;
            break;
        case KEY_PPAGE:
            top -= page();
            break;
        case KEY_NPAGE:
        case ' ':
            top += page();
            break;
        case KEY_HOME:
            top = 0;
            side = 0;
            break;
        case KEY_END:
            top = lastTop();
            break;
        case KEY_LEFT:
            side = std::max(side - kSideStep, 0);
            break;
        case KEY_RIGHT:
            side += kSideStep;
            break;
        case 'q':
        case 'Q':
        case 27:
        case KEY_F(10):
        case KEY_F(3):
        case ERR:
            open = false;
            break;
        default:
            break;
        }
    }
    screen.PopLayer();
    screen.Restore(under);
    return true;
}

} // namespace qvork_host
