// The interactive panel: the plug-in's panel on a full-screen terminal,
// driven as the file manager drives it. Every key goes to the plug-in's
// ProcessKey first; what it leaves to the host, the host does: moving,
// entering folders (SetDirectory), selecting, copying (GetFiles), viewing,
// deleting (DeleteFiles), re-reading (GetFindData), the settings
// (Configure) and quitting (ClosePlugin). CursesUi is the screen behind the
// plug-in's services while the panel runs.
#ifndef QVORK_HOSTS_PANEL_UI_H
#define QVORK_HOSTS_PANEL_UI_H

#include <chrono>
#include <string>

#include "hosts/qvork/curses_screen.h"
#include "hosts/qvork/host_services.h"
#include "hosts/qvork/session.h"

namespace qvork_host {

class CursesUi : public HostUi {
public:
    explicit CursesUi(CursesScreen &screen) : screen_(screen) {}

    int ShowMessage(const MessageBoxText &box) override;
    int RunDialog(FarDialogItem *items, int count, int width, int height) override;
    HANDLE SaveScreen() override;
    void RestoreScreen(HANDLE screen) override;
    int ShowFile(const std::string &path, const std::string &title, DWORD flags) override;

private:
    CursesScreen &screen_;
    // The progress box last put on the terminal, and when: a site of 65533
    // records steps 65533 times, so the terminal is refreshed at most a few
    // dozen times a second, and only when the box changed.
    std::string progressShown_;
    std::chrono::steady_clock::time_point progressDrawn_{};
};

// Opens the panel on `session` (OpenPlugin, GetFindData) and runs it until
// the user quits (ClosePlugin). `screen` must be started and `CursesUi`
// over it installed. `helpFile` is the plug-in's help file, shown on F1.
// Returns the process's exit status; `error` says why the panel did not open.
// `rootHint` fills the status line of an empty cache root (why it is empty).
int RunPanel(Session &session, CursesScreen &screen, const std::string &helpFile,
             std::string &error, const std::string &rootHint = std::string());

} // namespace qvork_host

#endif
