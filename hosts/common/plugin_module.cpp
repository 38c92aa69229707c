// The module loader; see plugin_module.h.
#include "hosts/common/plugin_module.h"

#include <cstring>
#include <filesystem>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qvork_host {

namespace {

// An entry point is a plain function; the platform hands it out as a data
// pointer (dlsym) or a generic procedure (GetProcAddress).
template <typename Fn> void Resolve(const PluginModule &module, const char *name, Fn &slot) {
    void *address = module.Find(name);
    static_assert(sizeof(Fn) == sizeof(address), "function and data pointers differ");
    std::memcpy(&slot, &address, sizeof(slot));
}

std::string LastLoaderError() {
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    const char *text = dlerror();
    return text != nullptr ? text : "unknown error";
#endif
}

} // namespace

PluginModule::PluginModule(const std::string &path) {
    std::string ignored;
    Load(path, ignored);
}

PluginModule::~PluginModule() {
    if (!keepLoaded_) {
        Unload();
    }
}

bool PluginModule::Load(const std::string &path, std::string &error) {
    Unload();
    std::error_code ignored;
    std::string absolute = std::filesystem::absolute(path, ignored).string();
    if (absolute.empty()) {
        absolute = path;
    }
#ifdef _WIN32
    library_ = reinterpret_cast<void *>(LoadLibraryA(absolute.c_str()));
#else
    library_ = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (library_ == nullptr) {
        loadError_ = "cannot load " + absolute + ": " + LastLoaderError();
        error = loadError_;
        return false;
    }
    path_ = absolute;
    loadError_.clear();
#define QVORK_RESOLVE_ENTRY_POINT(name) Resolve(*this, #name, this->name);
    QVORK_FOR_EACH_ENTRY_POINT(QVORK_RESOLVE_ENTRY_POINT)
#undef QVORK_RESOLVE_ENTRY_POINT
    if (!SetStartupInfo || !OpenPlugin || !ClosePlugin || !GetFindData) {
        error = path + " is not a panel plug-in: it does not export SetStartupInfo, "
                       "OpenPlugin, ClosePlugin and GetFindData";
        Unload();
        loadError_ = error;
        return false;
    }
    return true;
}

std::string PluginModule::Error() const {
    if (library_ == nullptr) {
        return loadError_.empty() ? "no module loaded" : loadError_;
    }
    std::string missing;
    for (const std::string &name : MissingEntryPoints()) {
        missing += (missing.empty() ? "no entry point " : ", no entry point ") + name;
    }
    return missing;
}

void *PluginModule::Find(const char *name) const {
    if (library_ == nullptr) {
        return nullptr;
    }
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library_), name));
#else
    return dlsym(library_, name);
#endif
}

bool PluginModule::Unload() {
    static_cast<EntryPoints &>(*this) = EntryPoints{};
    if (library_ == nullptr) {
        return true;
    }
    void *library = library_;
    library_ = nullptr;
    const std::string path = path_;
    path_.clear();
#ifdef _WIN32
    if (!FreeLibrary(static_cast<HMODULE>(library))) {
        return false;
    }
    return GetModuleHandleA(path.c_str()) == nullptr;
#else
    if (dlclose(library) != 0) {
        return false;
    }
    void *still = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (still == nullptr) {
        return true;
    }
    dlclose(still); // drop the reference RTLD_NOLOAD just took
    return false;
#endif
}

std::vector<std::string> PluginModule::MissingEntryPoints() const {
    std::vector<std::string> missing;
#define QVORK_NOTE_MISSING(name)                                                               \
    if (this->name == nullptr) {                                                               \
        missing.emplace_back(#name);                                                           \
    }
    QVORK_FOR_EACH_ENTRY_POINT(QVORK_NOTE_MISSING)
#undef QVORK_NOTE_MISSING
    return missing;
}

} // namespace qvork_host
