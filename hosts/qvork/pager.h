// The host's viewer: a file shown a screen at a time. Up/Down, PgUp/PgDn,
// Home/End move through it, Left/Right shift it sideways; q, Esc or F10
// close it. Cached bodies may be anything, so every byte that is not
// printable text is shown as '.'.
#ifndef QVORK_HOSTS_PAGER_H
#define QVORK_HOSTS_PAGER_H

#include <cstddef>
#include <string>
#include <vector>

#include "hosts/qvork/curses_screen.h"

namespace qvork_host {

// The most of a file the viewer reads; the rest is left out, and the
// viewer says so.
constexpr size_t kViewerLimit = 16 * 1024 * 1024;

// `content` as screen lines: "\n" and "\r\n" end a line, tabs go to the
// next multiple of 8, other bytes below 32, 127 and above are shown as '.'.
std::vector<std::string> ViewerLines(const std::string &content);

// Shows the file at `path` titled `title` until the user closes it. False
// with `error` set when the file cannot be read.
bool RunPager(CursesScreen &screen, const std::string &path, const std::string &title,
              std::string &error);

} // namespace qvork_host

#endif
