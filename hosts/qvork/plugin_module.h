// Loading the plug-in as the file manager does: dlopen the module by path and
// find each entry point by its exported name. An entry point the module does
// not export stays null; the commands that need it say so, as the file
// manager leaves out what a plug-in does not offer.
#ifndef QVORK_HOSTS_PLUGIN_MODULE_H
#define QVORK_HOSTS_PLUGIN_MODULE_H

#include <string>
#include <vector>

#include "host/entry_points.h"

namespace qvork_host {

using ::EntryPoints;

// One loaded module; unloaded when the object goes.
class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule();
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // Loads the module at `path` and resolves the entry points. False with
    // `error` set when the module does not load or lacks the entry points
    // every panel needs (SetStartupInfo, OpenPlugin, ClosePlugin, GetFindData).
    bool Load(const std::string &path, std::string &error);
    void Unload();
    // Leaves the module loaded when this object goes: the host keeps its
    // plug-in until the process ends, as the file manager keeps its plug-ins
    // while it runs, and whatever the plug-in still holds stays its own.
    void KeepLoaded() { keepLoaded_ = true; }

    const EntryPoints &Entry() const { return entry_; }
    const std::string &Path() const { return path_; }
    // Names of the fourteen entry points the module does not export.
    std::vector<std::string> MissingEntryPoints() const;

private:
    void *library_ = nullptr;
    bool keepLoaded_ = false;
    std::string path_;
    EntryPoints entry_;
};

// Where the module is looked for: `option` (--plugin) if given, else the
// environment variable QVORK_MODULE, else qvork.so beside the running
// executable, else (installed) ../lib/qvork/qvork.so from it.
std::string ChooseModulePath(const std::string &option);

} // namespace qvork_host

#endif
