// qvork warc: stored responses of whole sites written as a WARC/1.1 file, the
// container web archives read and replay. The sites are found through the
// plug-in's root listing; their records are read with the site file reader
// itself, since the panel's tree does not keep every response nor its exact
// URL (the one part of qvork that reads the cache without the plug-in).
#ifndef QVORK_HOSTS_WARC_EXPORT_H
#define QVORK_HOSTS_WARC_EXPORT_H

#include "hosts/qvork/command_line.h"
#include "hosts/qvork/session.h"

namespace qvork_host {

// The command's lines of the help text.
extern const char kWarcHelp[];

// Writes the sites named by the operands (or every site, line.all) into
// line.output: a warcinfo record, then one response record per stored
// response in file order. Damaged records are named on standard error and
// left out (status 1, the archive kept); when writing fails, nothing is left
// behind (status 1).
int RunWarc(Session &session, const CommandLine &line);

} // namespace qvork_host

#endif
