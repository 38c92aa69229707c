// Where a run of qvork opens the plug-in's panel: `qvork open PATH` types
// "vork:PATH" on the file manager's command line; `--cache FILE` naming a
// site file is Enter on that file in an ordinary panel, and naming a folder
// of site files with no icache of its own (icache itself) is "vork:FOLDER";
// otherwise the panel opens on the cache NetSonic's registry value names.
#ifndef QVORK_HOSTS_OPEN_TARGET_H
#define QVORK_HOSTS_OPEN_TARGET_H

#include <string>

#include "hosts/qvork/command_line.h"
#include "hosts/qvork/session.h"

namespace qvork_host {

// The plug-in takes "\\" for a folder separator, as Win32 does, so a path
// holding one names another place to it. "" when `path` can be handed over,
// else what to tell the user.
std::string BackslashProblem(const std::string &path);

// The folder that holds `folder`'s site files: its icache, in whatever
// letter case, else `folder` itself.
std::string SiteFilesFolder(const std::string &folder);

// True when --cache names a file rather than a folder: it is opened, not
// stored in the registry.
bool CacheOptionIsFile(const CommandLine &line);

// The target for this command line; false with `error` set when the command
// cannot work on it (rm and warc need a cache folder; --cache FILE needs a
// command).
bool ChooseOpenTarget(const CommandLine &line, OpenTarget &target, std::string &error);

} // namespace qvork_host

#endif
