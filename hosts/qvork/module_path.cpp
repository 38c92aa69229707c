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
    // Beside the program in a build folder; installed, in ../lib/qvork.
    const std::filesystem::path beside = self.parent_path() / "qvork.so";
    const std::filesystem::path installed = self.parent_path().parent_path() / "lib/qvork/qvork.so";
    if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error)) {
        return installed.string();
    }
    return beside.string();
}

} // namespace qvork_host
