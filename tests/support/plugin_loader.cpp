#include "plugin_loader.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
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

namespace {

// Entry points are plain functions; the platform hands them out as data
// pointers (dlsym) or generic procedures (GetProcAddress).
template <typename Fn> Fn AsFunction(void *address) {
    Fn function;
    static_assert(sizeof function == sizeof address, "function and data pointers differ");
    std::memcpy(&function, &address, sizeof function);
    return function;
}

std::string LastLoaderError() {
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    const char *text = dlerror();
    return text ? text : "unknown error";
#endif
}

} // namespace

PluginModule::PluginModule(const std::string &path) : path_(path) {
#ifdef _WIN32
    handle_ = reinterpret_cast<void *>(LoadLibraryA(path_.c_str()));
#else
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!handle_) {
        error_ = "cannot load " + path_ + ": " + LastLoaderError();
        return;
    }
    SetStartupInfo = AsFunction<SetStartupInfoFn>(Resolve("SetStartupInfo"));
    GetMinFarVersion = AsFunction<GetMinFarVersionFn>(Resolve("GetMinFarVersion"));
    GetPluginInfo = AsFunction<GetPluginInfoFn>(Resolve("GetPluginInfo"));
    Configure = AsFunction<ConfigureFn>(Resolve("Configure"));
    OpenPlugin = AsFunction<OpenPluginFn>(Resolve("OpenPlugin"));
    ClosePlugin = AsFunction<ClosePluginFn>(Resolve("ClosePlugin"));
    GetOpenPluginInfo = AsFunction<GetOpenPluginInfoFn>(Resolve("GetOpenPluginInfo"));
    GetFindData = AsFunction<GetFindDataFn>(Resolve("GetFindData"));
    FreeFindData = AsFunction<FreeFindDataFn>(Resolve("FreeFindData"));
    SetDirectory = AsFunction<SetDirectoryFn>(Resolve("SetDirectory"));
    ProcessKey = AsFunction<ProcessKeyFn>(Resolve("ProcessKey"));
    GetFiles = AsFunction<GetFilesFn>(Resolve("GetFiles"));
    DeleteFiles = AsFunction<DeleteFilesFn>(Resolve("DeleteFiles"));
    OpenFilePlugin = AsFunction<OpenFilePluginFn>(Resolve("OpenFilePlugin"));
}

PluginModule::~PluginModule() { Unload(); }

void *PluginModule::Resolve(const char *name) {
#ifdef _WIN32
    void *address = reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    void *address = dlsym(handle_, name);
#endif
    if (!address) error_ += std::string(error_.empty() ? "" : ", ") + "no entry point " + name;
    return address;
}

void PluginModule::ForgetEntryPoints() { static_cast<EntryPoints &>(*this) = EntryPoints{}; }

bool PluginModule::Unload() {
    if (!handle_) return true;
    ForgetEntryPoints();
    void *handle = handle_;
    handle_ = nullptr;
#ifdef _WIN32
    if (!FreeLibrary(static_cast<HMODULE>(handle))) return false;
    return GetModuleHandleA(path_.c_str()) == nullptr;
#else
    if (dlclose(handle) != 0) return false;
    void *still = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!still) return true;
    dlclose(still); // drop the reference RTLD_NOLOAD just took
    return false;
#endif
}

} // namespace qvork_test
