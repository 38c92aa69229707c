#include "plugin_loader.h"

#include <cstdlib>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#ifndef QVORK_MODULE_PATH
#error "QVORK_MODULE_PATH must name the plug-in module (set by tests/support/CMakeLists.txt)"
#endif

namespace qvork_test {

std::string PluginModulePath() {
    const char *override = std::getenv("QVORK_MODULE");
    if (override && *override) return override;
    return QVORK_MODULE_PATH;
}

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace qvork_test
