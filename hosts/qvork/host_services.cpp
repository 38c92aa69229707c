// The console host's services: the raw calls turned into C++ values for the
// installed screen, and Control routed to the panel of the handle.
#include "hosts/qvork/host_services.h"

#include <map>

namespace qvork_host {

const char kPluginsRootKey[] = "Software\\qvork\\Plugins";

namespace {

std::string ItemText(const char *const *items, int index) {
    const char *text = items[index];
    return text != nullptr ? std::string(text) : std::string();
}

class ScreenServices : public HostServices {
public:
    HostUi *ui = nullptr;
    std::map<HANDLE, PanelSource *> panels;

    int Message(int, DWORD flags, const char *, const char *const *items, int itemsNumber,
                int buttonsNumber) override {
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
        if (ui == nullptr) {
            return box.buttons.empty() ? 0 : -1;
        }
        return ui->ShowMessage(box);
    }

    int Dialog(int, int, int, int width, int height, const char *, FarDialogItem *items,
               int itemsNumber) override {
        if (ui == nullptr || items == nullptr || itemsNumber <= 0) {
            return -1;
        }
        return ui->RunDialog(items, itemsNumber, width, height);
    }

    HANDLE SaveScreen(int, int, int, int) override {
        return ui != nullptr ? ui->SaveScreen() : nullptr;
    }

    void RestoreScreen(HANDLE screen) override {
        if (ui != nullptr) {
            ui->RestoreScreen(screen);
        }
    }

    int Viewer(const char *fileName, const char *title, int, int, int, int, DWORD flags) override {
        if (ui == nullptr || fileName == nullptr) {
            return 0;
        }
        return ui->ShowFile(fileName, title != nullptr ? title : fileName, flags);
    }

    // GetMsg is the library's: the plug-in takes every text it shows from its
    // own tables and no message file is installed, so every number reads as
    // an empty text.

protected:
    bool Panel(HANDLE plugin, PanelShown &shown) override {
        auto found = panels.find(plugin);
        return found != panels.end() && found->second->ShowPanel(shown);
    }
};

ScreenServices &Services() {
    static ScreenServices services;
    return services;
}

} // namespace

void InstallUi(HostUi *ui) { Services().ui = ui; }

HostUi *InstalledUi() { return Services().ui; }

void AttachPanel(HANDLE handle, PanelSource *panel) { Services().panels[handle] = panel; }

void DetachPanel(HANDLE handle) { Services().panels.erase(handle); }

PluginStartupInfo MakeStartupInfo(const std::string &modulePath) {
    Services();
    return HostServices::StartupInfo(modulePath, 0, kPluginsRootKey);
}

} // namespace qvork_host
