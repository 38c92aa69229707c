// The file manager's side of PluginStartupInfo, written once for every host:
// the console host, the tests' recording host, the benchmarks, the fuzz
// targets and the parity dump. The plug-in calls plain functions without a
// context, so the record holds trampolines that reach the HostServices
// object current at the call: the last one constructed and not yet
// destroyed. A host derives from HostServices and overrides what is its own
// (a screen, recording, counting, checks); the rest answers as a host
// without a screen would. One host thread, one call at a time.
#ifndef QVORK_HOSTS_COMMON_HOST_SERVICES_H
#define QVORK_HOSTS_COMMON_HOST_SERVICES_H

#include <cstddef>
#include <string>

#include "host/far_abi.h"

namespace qvork_host {

// What the host's panel shows, as Control(FCTL_GETPANELINFO) reports it.
// The arrays stay the caller's and must stay put while the plug-in may hold
// pointers into them (they are handed out directly).
struct PanelShown {
    PluginPanelItem *items = nullptr;    // none: an empty panel
    int count = 0;
    PluginPanelItem *selected = nullptr; // copies of the selected items, flagged
    int selectedCount = 0;
    int current = 0;                     // index into items
    std::string curDir;                  // the panel's CurDir
};

// The one panel stand-in: fills the whole of `info` from `shown`, as the file
// manager reports a visible, focused plug-in panel of 80 by 24 cells.
void FillPanelInfo(const PanelShown &shown, PanelInfo &info);

class HostServices {
public:
    // Becomes the current host; the one current before comes back when
    // this one goes.
    HostServices();
    virtual ~HostServices();
    HostServices(const HostServices &) = delete;
    HostServices &operator=(const HostServices &) = delete;

    static HostServices *Current();

    // The record for SetStartupInfo: the trampolines, StructSize, and the
    // module's name (cut to MAX_PATH - 1), number and RootKey (which must
    // outlive the plug-in's use of it).
    static PluginStartupInfo StartupInfo(const std::string &moduleName, int moduleNumber,
                                         const char *rootKey);

    // The services, with the plug-in's arguments as given. The defaults
    // answer as a host without a screen: a box with buttons is cancelled
    // (-1) and one without is drawn (0), a dialog is cancelled, every
    // message number reads as "", the screen is saved as nothing, and the
    // viewer shows nothing (FALSE).
    virtual int Message(int pluginNumber, DWORD flags, const char *helpTopic,
                        const char *const *items, int itemsNumber, int buttonsNumber);
    virtual int Dialog(int pluginNumber, int x1, int y1, int x2, int y2, const char *helpTopic,
                       FarDialogItem *items, int itemsNumber);
    virtual const char *GetMsg(int pluginNumber, int msgId);
    // FCTL_GETPANELINFO is answered from Panel(); every other command fails.
    virtual int Control(HANDLE plugin, int command, void *param);
    virtual HANDLE SaveScreen(int x1, int y1, int x2, int y2);
    virtual void RestoreScreen(HANDLE screen);
    virtual int Viewer(const char *fileName, const char *title, int x1, int y1, int x2, int y2,
                       DWORD flags);

protected:
    // What the panel of `plugin` shows; false: no panel, and the Control
    // call fails. The default has none.
    virtual bool Panel(HANDLE plugin, PanelShown &shown);

private:
    HostServices *previous_;
};

// Service calls made while no HostServices was current (answered with
// failure).
int OrphanServiceCalls();

// A text of at most `size` bytes from a fixed field, ended at its first zero.
std::string FieldText(const char *field, size_t size);

} // namespace qvork_host

#endif
