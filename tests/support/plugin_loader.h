// The module the tests load afresh, through the host library's loader
// (hosts/common/plugin_module.h), which finds the entry points by their
// undecorated names and checks that unloading really leaves the process.
#ifndef QVORK_TESTS_SUPPORT_PLUGIN_LOADER_H
#define QVORK_TESTS_SUPPORT_PLUGIN_LOADER_H

#include <string>

#include "hosts/common/plugin_module.h"

namespace qvork_test {

// The module to load: $QVORK_MODULE when set, else the path built in.
std::string PluginModulePath();

// True in a Windows build running under Wine, where a few system calls
// differ from Windows itself; tests name each such case where they use this.
bool RunningUnderWine();

// The host library's module, loaded from PluginModulePath() by default.
class PluginModule : public qvork_host::PluginModule {
  public:
    explicit PluginModule(const std::string &path = PluginModulePath())
        : qvork_host::PluginModule(path) {}
};

} // namespace qvork_test

#endif
