// Loading the plug-in as the file manager does: the module by path (dlopen,
// LoadLibraryA on Windows) and each entry point found by its exported name.
// The one loader of every host: the console host, the tests, the benchmarks
// and the parity dump. An entry point the module does not export stays null;
// a host leaves out what the plug-in does not offer, as the file manager does.
#ifndef QVORK_HOSTS_COMMON_PLUGIN_MODULE_H
#define QVORK_HOSTS_COMMON_PLUGIN_MODULE_H

#include <string>
#include <vector>

#include "host/entry_points.h"

namespace qvork_host {

// One loaded module, its entry points inherited; unloaded when the object
// goes unless KeepLoaded() was called.
class PluginModule : public EntryPoints {
public:
    PluginModule() = default;
    // Loads `path` at once; Loaded() and Error() tell how it went.
    explicit PluginModule(const std::string &path);
    ~PluginModule();
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // Loads the module at `path` (made absolute, so no library path is
    // searched and ModuleName tells where it really lies) and finds the entry
    // points. False with `error` set when it does not load or lacks one of
    // those every panel needs (SetStartupInfo, OpenPlugin, ClosePlugin,
    // GetFindData); nothing stays loaded then.
    bool Load(const std::string &path, std::string &error);
    // True when the module is loaded and exports every entry point.
    bool Loaded() const { return library_ != nullptr && MissingEntryPoints().empty(); }
    // Why the last load failed, or which entry points are missing; empty
    // when Loaded().
    std::string Error() const;
    // Unloads the module. True when it is gone from the process afterwards,
    // so the next load starts from the zero state of a fresh library.
    bool Unload();
    // Leaves the module loaded when this object goes: a host keeps its
    // plug-in until the process ends, as the file manager does while it runs.
    void KeepLoaded() { keepLoaded_ = true; }

    const EntryPoints &Entry() const { return *this; }
    const std::string &Path() const { return path_; }
    // The exported address of `name` (an entry point or anything else the
    // module exports), or null.
    void *Find(const char *name) const;
    // Names of the entry points the module does not export.
    std::vector<std::string> MissingEntryPoints() const;

private:
    void *library_ = nullptr;
    bool keepLoaded_ = false;
    std::string path_;
    std::string loadError_;
};

} // namespace qvork_host

#endif
