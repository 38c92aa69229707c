// The module the console host loads: the host library's loader, and where
// the module is looked for.
#ifndef QVORK_HOSTS_PLUGIN_MODULE_H
#define QVORK_HOSTS_PLUGIN_MODULE_H

#include <string>

#include "hosts/common/plugin_module.h"

namespace qvork_host {

// Where the module is looked for: `option` (--plugin) if given, else the
// environment variable QVORK_MODULE, else qvork.so beside the running
// executable, else (installed) ../lib/qvork/qvork.so from it.
std::string ChooseModulePath(const std::string &option);

} // namespace qvork_host

#endif
