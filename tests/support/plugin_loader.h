// Loads the plug-in module afresh, as the host does, and finds its fourteen
// entry points by their undecorated names. Unloading is checked: the module
// must really leave the process, so the next load starts from the zero state
// of a freshly loaded library.
#ifndef QVORK_TESTS_SUPPORT_PLUGIN_LOADER_H
#define QVORK_TESTS_SUPPORT_PLUGIN_LOADER_H

#include <string>

#include "host/entry_points.h"

namespace qvork_test {

// The module to load: $QVORK_MODULE when set, else the path built in.
std::string PluginModulePath();

// True in a Windows build running under Wine, where a few system calls
// differ from Windows itself; tests name each such case where they use this.
bool RunningUnderWine();

class PluginModule : public EntryPoints {
  public:
    explicit PluginModule(const std::string &path = PluginModulePath());
    ~PluginModule(); // unloads if Unload() was not called
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    // True when the module loaded and every entry point was found.
    bool Loaded() const { return handle_ != nullptr && error_.empty(); }
    // Why loading failed; empty when it did not.
    const std::string &Error() const { return error_; }

    // Unloads the module. True when it is gone from the process afterwards,
    // so the next load starts from the zero state.
    bool Unload();

  private:
    void *Resolve(const char *name);
    void ForgetEntryPoints();

    std::string path_;
    void *handle_ = nullptr;
    std::string error_;
};

} // namespace qvork_test

#endif
