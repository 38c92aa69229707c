#include "bench_host.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

namespace qvork_bench {

namespace {

// The services are plain functions without a context: they reach the one
// live host through these.
HostCounters Counters;
PluginPanelItem *PanelItems = nullptr;
int PanelCount = 0;
int PanelCurrent = 0;

int WINAPI Message(int, DWORD, const char *, const char *const *, int, int buttons) {
    Counters.messages++;
    if (buttons > 0)
        Counters.warnings++;
    return 0;
}

int WINAPI Dialog(int, int, int, int, int, const char *, FarDialogItem *, int) { return -1; }

const char *WINAPI GetMsg(int, int) { return ""; }

int WINAPI Control(HANDLE, int command, void *param) {
    Counters.controls++;
    if (command != FCTL_GETPANELINFO || param == nullptr)
        return FALSE;
    PanelInfo *panel = static_cast<PanelInfo *>(param);
    std::memset(panel, 0, sizeof *panel);
    panel->Plugin = TRUE;
    panel->PanelItems = PanelItems;
    panel->ItemsNumber = PanelCount;
    panel->CurrentItem = PanelCurrent;
    return TRUE;
}

HANDLE WINAPI SaveScreen(int, int, int, int) {
    Counters.saveScreens++;
    return reinterpret_cast<HANDLE>(1);
}

void WINAPI RestoreScreen(HANDLE) {}

int WINAPI Viewer(const char *, const char *, int, int, int, int, DWORD) { return FALSE; }

template <typename Fn> Fn Resolve(void *handle, const char *name) {
    void *address = dlsym(handle, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("qvork module has no entry point ") + name);
    Fn function;
    static_assert(sizeof function == sizeof address, "function and data pointers differ");
    std::memcpy(&function, &address, sizeof function);
    return function;
}

} // namespace

BenchHost::BenchHost(const std::string &modulePath) {
    handle_ = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *error = dlerror();
        throw std::runtime_error("cannot load " + modulePath + ": " + (error ? error : "?"));
    }
    SetStartupInfo = Resolve<SetStartupInfoFn>(handle_, "SetStartupInfo");
    OpenPlugin = Resolve<OpenPluginFn>(handle_, "OpenPlugin");
    ClosePlugin = Resolve<ClosePluginFn>(handle_, "ClosePlugin");
    GetFindData = Resolve<GetFindDataFn>(handle_, "GetFindData");
    FreeFindData = Resolve<FreeFindDataFn>(handle_, "FreeFindData");
    SetDirectory = Resolve<SetDirectoryFn>(handle_, "SetDirectory");
    GetFiles = Resolve<GetFilesFn>(handle_, "GetFiles");

    static PluginStartupInfo info; // the plug-in copies it, but keep it put anyway
    std::memset(&info, 0, sizeof info);
    info.StructSize = sizeof info;
    std::strncpy(info.ModuleName, modulePath.c_str(), sizeof info.ModuleName - 1);
    info.ModuleNumber = 1;
    info.RootKey = "Software\\qvork-bench\\Plugins";
    info.Dialog = Dialog;
    info.Message = Message;
    info.GetMsg = GetMsg;
    info.Control = Control;
    info.SaveScreen = SaveScreen;
    info.RestoreScreen = RestoreScreen;
    info.Viewer = Viewer;
    SetStartupInfo(&info);
}

BenchHost::~BenchHost() {
    // The module stays loaded until the process ends, as in the file manager.
    PanelItems = nullptr;
    PanelCount = 0;
}

void BenchHost::ShowPanel(PluginPanelItem *items, int count, int current) {
    PanelItems = items;
    PanelCount = count;
    PanelCurrent = current;
}

HostCounters &BenchHost::Counters() { return qvork_bench::Counters; }

int FindRootItem(const PluginPanelItem *items, int count, const std::string &siteName) {
    for (int i = 0; i < count; i++) {
        if (siteName == items[i].FindData.cFileName)
            return i;
    }
    return -1;
}

} // namespace qvork_bench
