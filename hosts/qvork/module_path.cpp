// Where the console host looks for the plug-in module.
#include "hosts/qvork/plugin_module.h"

#include <cstdlib>
#include <filesystem>

namespace qvork_host {

std::string ChooseModulePath(const std::string &option) {
    if (!option.empty()) {
        return option;
    }
    const char *fromEnvironment = std::getenv("QVORK_MODULE");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return "qvork.so";
    }
    return (self.parent_path() / "qvork.so").string();
}

} // namespace qvork_host
