// The commands of qvork, each driving the plug-in through a Session (or the
// module's menu and settings entry points) and printing what it shows.
// Each returns the process's exit status (ExitStatus).
#ifndef QVORK_HOSTS_COMMANDS_H
#define QVORK_HOSTS_COMMANDS_H

#include <string>
#include <vector>

#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/command_line.h"
#include "hosts/qvork/plugin_module.h"
#include "hosts/qvork/session.h"
#include "hosts/qvork/terminal_ui.h"

namespace qvork_host {

int RunLs(Session &session, TerminalUi &ui, const CommandLine &line);
int RunGet(Session &session, TerminalUi &ui, const CommandLine &line);
int RunCat(Session &session, TerminalUi &ui, const CommandLine &line);
int RunHeader(Session &session, TerminalUi &ui, const CommandLine &line);
int RunRm(Session &session, TerminalUi &ui, const CommandLine &line);
int RunMenus(const PluginModule &module);
int RunConfig(const PluginModule &module, TerminalUi &ui, const CommandLine &line);

// Shared by the commands.
// Prints "qvork: message" on standard error and returns kExitFailed.
int Fail(const std::string &message);
// False, with `status` kExitFailed and a message naming the entry point,
// when the module does not export it.
template <typename Fn> bool Requires(Fn entryPoint, const char *name, int &status) {
    if (entryPoint != nullptr) {
        return true;
    }
    status = Fail(std::string("the plug-in module does not export ") + name);
    return false;
}
// 'text', control characters escaped, for messages.
std::string Quoted(const std::string &text);
// Prints `error`; kExitUsage for an invalid path, else kExitFailed.
int PathFailure(PathStatus status, const std::string &error);
// Opens the panel and reads the cache root; false with `status` set.
bool OpenAtRoot(Session &session, int &status);
// Walks from the cache root to the folder holding `path`'s item.
bool ReachParent(Session &session, const CachePath &path, int &status);
// The item `path` names in the folder reached by ReachParent: the site at
// the root, else the last name. -1, with `status` set, when it is not there.
int FindLeaf(const Session &session, const CachePath &path, int &status);
// The listing rows of the session's current folder, for the given items.
std::string FormatListing(const Session &session, const std::vector<int> &items);

} // namespace qvork_host

#endif
