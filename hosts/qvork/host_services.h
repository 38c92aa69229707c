// What the console host makes of the services in its PluginStartupInfo (the
// trampolines are the host library's, hosts/common/host_services.h): each
// call is turned into C++ values and passed to the installed HostUi (what the
// screen does: the command line's TerminalUi or the interactive panel) or,
// for Control, to the PanelSource attached to the panel handle (a Session).
#ifndef QVORK_HOSTS_HOST_SERVICES_H
#define QVORK_HOSTS_HOST_SERVICES_H

#include <string>
#include <vector>

#include "host/far_abi.h"
#include "hosts/common/host_services.h"

namespace qvork_host {

// RootKey given to the plug-in: its settings land under
// HKEY_CURRENT_USER\Software\qvork\Plugins\Q\VORK.
extern const char kPluginsRootKey[];

// One Message call: the first item is the title, the last `buttons` items
// are the buttons, the items between are the lines.
struct MessageBoxText {
    DWORD flags = 0; // FMSG_WARNING for warning boxes
    std::string title;
    std::vector<std::string> lines;
    std::vector<std::string> buttons; // none: a progress box, drawn without waiting
};

// What the screen does for the plug-in.
class HostUi {
public:
    virtual ~HostUi() = default;
    // With buttons: the chosen button's index, or -1 for a cancel. Without
    // buttons: draws the box and returns 0 at once.
    virtual int ShowMessage(const MessageBoxText &box) = 0;
    // Runs a dialog over `items`, editing them in place; returns the index of
    // the item that closed it, -1 for a cancel.
    virtual int RunDialog(FarDialogItem *items, int count, int width, int height) = 0;
    virtual HANDLE SaveScreen() = 0;
    virtual void RestoreScreen(HANDLE screen) = 0;
    // Shows a file; deletes it afterwards when `flags` hold VF_DELETEONCLOSE.
    virtual int ShowFile(const std::string &path, const std::string &title, DWORD flags) = 0;
};

// What Control(FCTL_GETPANELINFO) reports for one panel handle.
class PanelSource {
public:
    virtual ~PanelSource() = default;
    virtual bool ShowPanel(PanelShown &shown) = 0;
};

// Routes the services to `ui` (none: boxes with buttons are cancelled, the
// rest does nothing).
void InstallUi(HostUi *ui);
HostUi *InstalledUi();

// Installed while it lives, in front of `behind`: every call goes on to
// `behind` (or does what no screen does), and a subclass takes the calls it
// wants to see first.
class UiInFront : public HostUi {
public:
    explicit UiInFront(HostUi *behind) : behind_(behind) { InstallUi(this); }
    ~UiInFront() override { InstallUi(behind_); }
    UiInFront(const UiInFront &) = delete;
    UiInFront &operator=(const UiInFront &) = delete;

    int ShowMessage(const MessageBoxText &box) override {
        return behind_ != nullptr ? behind_->ShowMessage(box) : (box.buttons.empty() ? 0 : -1);
    }
    int RunDialog(FarDialogItem *items, int count, int width, int height) override {
        return behind_ != nullptr ? behind_->RunDialog(items, count, width, height) : -1;
    }
    HANDLE SaveScreen() override { return behind_ != nullptr ? behind_->SaveScreen() : nullptr; }
    void RestoreScreen(HANDLE screen) override {
        if (behind_ != nullptr) behind_->RestoreScreen(screen);
    }
    int ShowFile(const std::string &path, const std::string &title, DWORD flags) override {
        return behind_ != nullptr ? behind_->ShowFile(path, title, flags) : 0;
    }

private:
    HostUi *behind_;
};
void AttachPanel(HANDLE handle, PanelSource *panel);
void DetachPanel(HANDLE handle);

// The record for SetStartupInfo: the services above, ModuleNumber 0,
// RootKey kPluginsRootKey, ModuleName = `modulePath` (cut to MAX_PATH - 1).
PluginStartupInfo MakeStartupInfo(const std::string &modulePath);

} // namespace qvork_host

#endif
