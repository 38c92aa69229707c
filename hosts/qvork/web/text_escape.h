// Names from a cache written where a terminal, a shell or a TSV reader will
// meet them: quoted as GNU ls quotes them (its shell-escape style), or
// escaped for one TSV field.
#ifndef QVORK_HOSTS_WEB_TEXT_ESCAPE_H
#define QVORK_HOSTS_WEB_TEXT_ESCAPE_H

#include <string>

namespace qvork_host {

// The value of the hexadecimal digit `c`, or -1.
int HexDigitValue(char c);

// The character at `text[i]`: its length in bytes (1 for a byte that is not
// part of UTF-8), and whether it is text a terminal prints rather than a
// control (C0, DEL, the C1 controls U+0080..U+009F) or a byte outside UTF-8;
// `c1` says whether it is a C1 control, either as UTF-8 or as a lone byte
// 0x80..0x9f (which a terminal of one-byte characters takes as one).
size_t CharacterAt(const std::string &text, size_t i, bool &printable, bool &c1);

// `name` as `ls --quoting-style=shell-escape` prints it in a UTF-8 locale: bare when no byte
// would confuse a shell, else in '...' (or "..." for a name whose only
// special is a quote), with control bytes and bytes outside UTF-8 as $'\n'
// or $'\001' pieces; '' for an empty name.
std::string ShellQuoted(const std::string &name);

// One TSV field: backslash, tab, line feed and carriage return as \\, \t,
// \n and \r; the other control bytes as \xNN.
std::string TsvField(const std::string &text);
// The inverse of TsvField.
std::string TsvUnescape(const std::string &field);

} // namespace qvork_host

#endif
