// Names from a cache written where a terminal, a shell or a TSV reader will
// meet them: quoted as GNU ls quotes them (its shell-escape style), or
// escaped for one TSV field.
#ifndef QVORK_HOSTS_WEB_TEXT_ESCAPE_H
#define QVORK_HOSTS_WEB_TEXT_ESCAPE_H

#include <string>

namespace qvork_host {

// `name` as `ls --quoting-style=shell-escape` prints it: bare when no byte
// would confuse a shell, else in '...' (or "..." for a name whose only
// special is a quote), with control bytes as $'\n' or $'\001' pieces.
std::string ShellQuoted(const std::string &name);

// One TSV field: backslash, tab, line feed and carriage return as \\, \t,
// \n and \r.
std::string TsvField(const std::string &text);
// The inverse of TsvField.
std::string TsvUnescape(const std::string &field);

} // namespace qvork_host

#endif
