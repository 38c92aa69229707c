// Module loading: dlopen by path, entry points found by name.
#include "hosts/qvork/plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace qvork_host {

namespace {

// One entry point: its exported name and where its address goes.
template <typename Fn> void Resolve(void *library, const char *name, Fn &slot) {
    void *address = dlsym(library, name);
    static_assert(sizeof(Fn) == sizeof(address), "function and data pointers differ");
    std::memcpy(&slot, &address, sizeof(slot));
}

} // namespace

PluginModule::~PluginModule() {
    if (!keepLoaded_) {
        Unload();
    }
}

bool PluginModule::Load(const std::string &path, std::string &error) {
    Unload();
    // An absolute path, so that dlopen never searches the library path for a
    // bare name and ModuleName tells the plug-in where it really lies.
    std::error_code ignored;
    std::string absolute = std::filesystem::absolute(path, ignored).string();
    if (absolute.empty()) {
        absolute = path;
    }
    library_ = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char *why = dlerror();
        error = std::string("cannot load the plug-in module: ") + (why ? why : absolute.c_str());
        return false;
    }
    path_ = absolute;
    Resolve(library_, "SetStartupInfo", entry_.SetStartupInfo);
    Resolve(library_, "GetMinFarVersion", entry_.GetMinFarVersion);
    Resolve(library_, "GetPluginInfo", entry_.GetPluginInfo);
    Resolve(library_, "Configure", entry_.Configure);
    Resolve(library_, "OpenPlugin", entry_.OpenPlugin);
    Resolve(library_, "ClosePlugin", entry_.ClosePlugin);
    Resolve(library_, "GetOpenPluginInfo", entry_.GetOpenPluginInfo);
    Resolve(library_, "GetFindData", entry_.GetFindData);
    Resolve(library_, "FreeFindData", entry_.FreeFindData);
    Resolve(library_, "SetDirectory", entry_.SetDirectory);
    Resolve(library_, "ProcessKey", entry_.ProcessKey);
    Resolve(library_, "GetFiles", entry_.GetFiles);
    Resolve(library_, "DeleteFiles", entry_.DeleteFiles);
    Resolve(library_, "OpenFilePlugin", entry_.OpenFilePlugin);
    if (!entry_.SetStartupInfo || !entry_.OpenPlugin || !entry_.ClosePlugin ||
        !entry_.GetFindData) {
        error = path + " is not a panel plug-in: it does not export SetStartupInfo, "
                       "OpenPlugin, ClosePlugin and GetFindData";
        Unload();
        return false;
    }
    return true;
}

void PluginModule::Unload() {
    if (library_ != nullptr) {
        dlclose(library_);
    }
    library_ = nullptr;
    entry_ = EntryPoints{};
    path_.clear();
}

std::vector<std::string> PluginModule::MissingEntryPoints() const {
    std::vector<std::string> missing;
    auto check = [&missing](const void *address, const char *name) {
        if (address == nullptr) {
            missing.emplace_back(name);
        }
    };
    check(reinterpret_cast<const void *>(entry_.SetStartupInfo), "SetStartupInfo");
    check(reinterpret_cast<const void *>(entry_.GetMinFarVersion), "GetMinFarVersion");
    check(reinterpret_cast<const void *>(entry_.GetPluginInfo), "GetPluginInfo");
    check(reinterpret_cast<const void *>(entry_.Configure), "Configure");
    check(reinterpret_cast<const void *>(entry_.OpenPlugin), "OpenPlugin");
    check(reinterpret_cast<const void *>(entry_.ClosePlugin), "ClosePlugin");
    check(reinterpret_cast<const void *>(entry_.GetOpenPluginInfo), "GetOpenPluginInfo");
    check(reinterpret_cast<const void *>(entry_.GetFindData), "GetFindData");
    check(reinterpret_cast<const void *>(entry_.FreeFindData), "FreeFindData");
    check(reinterpret_cast<const void *>(entry_.SetDirectory), "SetDirectory");
    check(reinterpret_cast<const void *>(entry_.ProcessKey), "ProcessKey");
    check(reinterpret_cast<const void *>(entry_.GetFiles), "GetFiles");
    check(reinterpret_cast<const void *>(entry_.DeleteFiles), "DeleteFiles");
    check(reinterpret_cast<const void *>(entry_.OpenFilePlugin), "OpenFilePlugin");
    return missing;
}

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
