// The service trampolines of PluginStartupInfo and the defaults behind them;
// see host_services.h.
#include "hosts/common/host_services.h"

#include <cstring>

namespace qvork_host {

namespace {

HostServices *CurrentHost = nullptr;
int OrphanCalls = 0;

int WINAPI MessageService(int pluginNumber, DWORD flags, const char *helpTopic,
                          const char *const *items, int itemsNumber, int buttonsNumber) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, -1;
    }
    return CurrentHost->Message(pluginNumber, flags, helpTopic, items, itemsNumber,
                                buttonsNumber);
}

int WINAPI DialogService(int pluginNumber, int x1, int y1, int x2, int y2, const char *helpTopic,
                         FarDialogItem *items, int itemsNumber) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, -1;
    }
    return CurrentHost->Dialog(pluginNumber, x1, y1, x2, y2, helpTopic, items, itemsNumber);
}

const char *WINAPI GetMsgService(int pluginNumber, int msgId) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, "";
    }
    return CurrentHost->GetMsg(pluginNumber, msgId);
}

int WINAPI ControlService(HANDLE plugin, int command, void *param) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, 0;
    }
    return CurrentHost->Control(plugin, command, param);
}

HANDLE WINAPI SaveScreenService(int x1, int y1, int x2, int y2) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, nullptr;
    }
    return CurrentHost->SaveScreen(x1, y1, x2, y2);
}

void WINAPI RestoreScreenService(HANDLE screen) {
    if (CurrentHost == nullptr) {
        ++OrphanCalls;
        return;
    }
    CurrentHost->RestoreScreen(screen);
}

int WINAPI ViewerService(const char *fileName, const char *title, int x1, int y1, int x2, int y2,
                         DWORD flags) {
    if (CurrentHost == nullptr) {
        return ++OrphanCalls, 0;
    }
    return CurrentHost->Viewer(fileName, title, x1, y1, x2, y2, flags);
}

} // namespace

void FillPanelInfo(const PanelShown &shown, PanelInfo &info) {
    std::memset(&info, 0, sizeof(info));
    info.PanelType = 0; // a file panel
    info.Plugin = 1;
    info.PanelRect = RECT{0, 1, 79, 22};
    info.PanelItems = shown.count > 0 ? shown.items : nullptr;
    info.ItemsNumber = shown.count;
    info.SelectedItems = shown.selectedCount > 0 ? shown.selected : nullptr;
    info.SelectedItemsNumber = shown.selectedCount;
    info.CurrentItem = shown.current;
    info.Visible = 1;
    info.Focus = 1;
    std::strncpy(info.CurDir, shown.curDir.c_str(), sizeof(info.CurDir) - 1);
}

HostServices::HostServices() : previous_(CurrentHost) { CurrentHost = this; }

HostServices::~HostServices() {
    if (CurrentHost == this) {
        CurrentHost = previous_;
    }
}

HostServices *HostServices::Current() { return CurrentHost; }

PluginStartupInfo HostServices::StartupInfo(const std::string &moduleName, int moduleNumber,
                                            const char *rootKey) {
    PluginStartupInfo info;
    std::memset(&info, 0, sizeof(info));
    info.StructSize = static_cast<int>(sizeof(info));
    std::strncpy(info.ModuleName, moduleName.c_str(), sizeof(info.ModuleName) - 1);
    info.ModuleNumber = moduleNumber;
    info.RootKey = rootKey;
    info.Dialog = DialogService;
    info.Message = MessageService;
    info.GetMsg = GetMsgService;
    info.Control = ControlService;
    info.SaveScreen = SaveScreenService;
    info.RestoreScreen = RestoreScreenService;
    info.Viewer = ViewerService;
    return info;
}

int HostServices::Message(int, DWORD, const char *, const char *const *, int, int buttonsNumber) {
    return buttonsNumber > 0 ? -1 : 0;
}

int HostServices::Dialog(int, int, int, int, int, const char *, FarDialogItem *, int) {
    return -1;
}

const char *HostServices::GetMsg(int, int) { return ""; }

int HostServices::Control(HANDLE plugin, int command, void *param) {
    if (command != FCTL_GETPANELINFO || param == nullptr) {
        return 0;
    }
    PanelShown shown;
    if (!Panel(plugin, shown)) {
        return 0;
    }
    FillPanelInfo(shown, *static_cast<PanelInfo *>(param));
    return 1;
}

HANDLE HostServices::SaveScreen(int, int, int, int) { return nullptr; }

void HostServices::RestoreScreen(HANDLE) {}

int HostServices::Viewer(const char *, const char *, int, int, int, int, DWORD) { return 0; }

bool HostServices::Panel(HANDLE, PanelShown &) { return false; }

int OrphanServiceCalls() { return OrphanCalls; }

std::string FieldText(const char *field, size_t size) {
    return std::string(field, strnlen(field, size));
}

} // namespace qvork_host
