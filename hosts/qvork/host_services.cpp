// The service trampolines of PluginStartupInfo and the routing behind them.
#include "hosts/qvork/host_services.h"

#include <cstring>
#include <map>

namespace qvork_host {

const char kPluginsRootKey[] = "Software\\qvork\\Plugins";

namespace {

HostUi *InstalledUi = nullptr;
std::map<HANDLE, PanelSource *> AttachedPanels;

std::string ItemText(const char *const *items, int index) {
    const char *text = items[index];
    return text != nullptr ? std::string(text) : std::string();
}

int WINAPI MessageService(int, DWORD flags, const char *, const char *const *items,
                          int itemsNumber, int buttonsNumber) {
    if (items == nullptr || itemsNumber < 1) {
        return -1;
    }
    if (buttonsNumber < 0) {
        buttonsNumber = 0;
    }
    if (buttonsNumber > itemsNumber - 1) {
        buttonsNumber = itemsNumber - 1;
    }
    MessageBoxText box;
    box.flags = flags;
    box.title = ItemText(items, 0);
    const int firstButton = itemsNumber - buttonsNumber;
    for (int i = 1; i < firstButton; ++i) {
        box.lines.push_back(ItemText(items, i));
    }
    for (int i = firstButton; i < itemsNumber; ++i) {
        box.buttons.push_back(ItemText(items, i));
    }
    if (InstalledUi == nullptr) {
        return box.buttons.empty() ? 0 : -1;
    }
    return InstalledUi->ShowMessage(box);
}

int WINAPI DialogService(int, int, int, int width, int height, const char *,
                         FarDialogItem *items, int itemsNumber) {
    if (InstalledUi == nullptr || items == nullptr || itemsNumber <= 0) {
        return -1;
    }
    return InstalledUi->RunDialog(items, itemsNumber, width, height);
}

// The plug-in takes every text it shows from its own tables; no message
// file is installed, so every number reads as an empty text.
const char *WINAPI GetMsgService(int, int) { return ""; }

int WINAPI ControlService(HANDLE handle, int command, void *param) {
    if (command != FCTL_GETPANELINFO || param == nullptr) {
        return 0;
    }
    auto found = AttachedPanels.find(handle);
    if (found == AttachedPanels.end()) {
        return 0;
    }
    PanelInfo *info = static_cast<PanelInfo *>(param);
    std::memset(info, 0, sizeof(*info));
    return found->second->FillPanelInfo(*info) ? 1 : 0;
}

HANDLE WINAPI SaveScreenService(int, int, int, int) {
    return InstalledUi != nullptr ? InstalledUi->SaveScreen() : nullptr;
}

void WINAPI RestoreScreenService(HANDLE screen) {
    if (InstalledUi != nullptr) {
        InstalledUi->RestoreScreen(screen);
    }
}

int WINAPI ViewerService(const char *fileName, const char *title, int, int, int, int,
                         DWORD flags) {
    if (InstalledUi == nullptr || fileName == nullptr) {
        return 0;
    }
    return InstalledUi->ShowFile(fileName, title != nullptr ? title : fileName, flags);
}

} // namespace

void InstallUi(HostUi *ui) { InstalledUi = ui; }

void AttachPanel(HANDLE handle, PanelSource *panel) { AttachedPanels[handle] = panel; }

void DetachPanel(HANDLE handle) { AttachedPanels.erase(handle); }

PluginStartupInfo MakeStartupInfo(const std::string &modulePath) {
    PluginStartupInfo info;
    std::memset(&info, 0, sizeof(info));
    info.StructSize = static_cast<int>(sizeof(info));
    std::strncpy(info.ModuleName, modulePath.c_str(), sizeof(info.ModuleName) - 1);
    info.ModuleNumber = 0;
    info.RootKey = kPluginsRootKey;
    info.Dialog = DialogService;
    info.Message = MessageService;
    info.GetMsg = GetMsgService;
    info.Control = ControlService;
    info.SaveScreen = SaveScreenService;
    info.RestoreScreen = RestoreScreenService;
    info.Viewer = ViewerService;
    return info;
}

std::string FieldText(const char *field, size_t size) {
    return std::string(field, strnlen(field, size));
}

} // namespace qvork_host
