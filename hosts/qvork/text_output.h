// Text that came from a cache, made safe to print: site names, URL
// components and headers are untrusted bytes, and a control character
// written to a terminal could move the cursor or change its settings.
#ifndef QVORK_HOSTS_TEXT_OUTPUT_H
#define QVORK_HOSTS_TEXT_OUTPUT_H

#include <string>
#include <vector>

namespace qvork_host {

// `text` with every control character (1-31 and 127) written as \xNN.
std::string DisplayText(const std::string &text);
// Like DisplayText, but keeps tabs and line ends: "\r\n" and "\n" become
// "\n"; a lone "\r" is escaped.
std::string DisplayLines(const std::string &text);
// `text` padded with spaces to `width` characters (bytes; the console's
// single-byte code page has one character per byte).
std::string PadRight(const std::string &text, size_t width);
std::string PadLeft(const std::string &text, size_t width);
// The parts of `text` between `separator`s, empty ones included.
std::vector<std::string> Split(const std::string &text, char separator);

} // namespace qvork_host

#endif
