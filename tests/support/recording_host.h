// A stand-in for the file manager that records every service call the
// plug-in makes and answers as the test has scripted. It is a HostServices
// of the host library (hosts/common/host_services.h): the one current is the
// last one constructed and not yet destroyed; calls while none is current are
// counted in OrphanServiceCalls() and answered with failure.
#ifndef QVORK_TESTS_SUPPORT_RECORDING_HOST_H
#define QVORK_TESTS_SUPPORT_RECORDING_HOST_H

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/far_abi.h"
#include "hosts/common/host_services.h"

namespace qvork_test {

struct MessageCall {
    int pluginNumber = 0;
    DWORD flags = 0;
    std::optional<std::string> helpTopic; // nullopt: the plug-in passed NULL
    std::vector<std::string> items;       // a NULL item is recorded as "<null>"
    int itemCount = 0;
    int buttonCount = 0;
    int answer = 0; // what the host returned
};

struct DialogCall {
    int pluginNumber = 0;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::optional<std::string> helpTopic;
    std::vector<FarDialogItem> itemsShown; // as the plug-in handed them over
    std::vector<FarDialogItem> itemsLeft;  // as the host left them on return
    int answer = 0;
};

struct ControlCall {
    HANDLE handle = nullptr;
    int command = 0;
    int answer = 0;
};

struct GetMsgCall {
    int pluginNumber = 0;
    int msgId = 0;
};

struct SaveScreenCall {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    HANDLE handle = nullptr; // what the host returned
};

struct ViewerCall {
    std::string fileName;
    bool fileExisted = false; // the file could be read at call time
    std::string contents;     // its bytes at call time
    std::optional<std::string> title;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    DWORD flags = 0;
};

enum class HostEventKind { Message, Dialog, GetMsg, Control, SaveScreen, RestoreScreen, Viewer };

// One service call in the order they came; `index` points into the record
// vector of its kind (restoredScreens for RestoreScreen).
struct HostEvent {
    HostEventKind kind;
    size_t index;
};

// What FCTL_GETPANELINFO reports. The vectors must stay put while the
// plug-in may hold pointers into them (they are handed out directly).
struct ScriptedPanel {
    std::vector<PluginPanelItem> items;
    std::vector<PluginPanelItem> selected;
    int currentItem = 0;
    int answer = TRUE; // FALSE: the Control call fails
};

// A panel item with the given name, attributes, size and user data.
PluginPanelItem MakePanelItem(const std::string &name, DWORD attributes = 0, DWORD size = 0,
                              DWORD_PTR userData = 0);
// The item's cFileName, up to its terminator (the whole field when it has none).
std::string NameOf(const PluginPanelItem &item);

// The host's panel showing `items` with the item named `current` as its
// current item (the last so named; the first item when none is).
ScriptedPanel PanelShowing(const std::vector<PluginPanelItem> &items, const std::string &current);

// A selection as the host hands it over: copies of the items named, in the
// order named (every item bearing a name), flagged PPIF_SELECTED. Names no
// item bears are added to `unlisted` when it is given.
std::vector<PluginPanelItem> SelectByName(const std::vector<PluginPanelItem> &items,
                                          const std::vector<std::string> &names,
                                          std::vector<std::string> *unlisted = nullptr);

using qvork_host::OrphanServiceCalls;

class RecordingHost : public qvork_host::HostServices {
  public:
    // The record handed to SetStartupInfo: every used service points here.
    PluginStartupInfo StartupInfo() const;

    // --- Script -----------------------------------------------------------
    int moduleNumber = 7;
    std::string moduleName = "qvork-test-module";
    std::string rootKey = "Software\\qVORK-tests\\Plugins";
    // Answers for boxes with buttons, taken in order. When none is left a
    // one-button box gets 0 and a box with more buttons gets -1 (Escape).
    // Boxes without buttons (progress) always get 0 and take no answer.
    std::deque<int> messageAnswers;
    // Runs on each Dialog call with the items copied; its edits are copied
    // back to the plug-in's array; its result is the answer. Unset: -1.
    std::function<int(std::vector<FarDialogItem> &)> dialogScript;
    // Answers FCTL_GETPANELINFO; unset, the Control call fails (0).
    std::optional<ScriptedPanel> panel;
    // Texts for GetMsg; unknown numbers get "msg<number>".
    std::map<int, std::string> messageTexts;
    int viewerAnswer = TRUE;

    // --- Records ----------------------------------------------------------
    std::vector<MessageCall> messages;
    std::vector<DialogCall> dialogs;
    std::vector<ControlCall> controls;
    std::vector<GetMsgCall> getMsgs;
    std::vector<SaveScreenCall> savedScreens;
    std::vector<HANDLE> restoredScreens;
    std::vector<ViewerCall> viewers;
    std::vector<HostEvent> events;

    // Boxes without buttons (progress) and boxes with the warning flag.
    std::vector<MessageCall> ProgressBoxes() const;
    std::vector<MessageCall> Warnings() const;
    // Empty when every SaveScreen was given back once to RestoreScreen, in
    // nested order, and no RestoreScreen came without its SaveScreen;
    // otherwise a description of the first problem.
    std::string ScreenPairingProblem() const;
    // Forgets every record (the script stays).
    void ClearRecords();

    // The current host when it is a RecordingHost, else NULL.
    static RecordingHost *Current();

    // The services: each is recorded and answered from the script.
    int Message(int pluginNumber, DWORD flags, const char *helpTopic, const char *const *items,
                int itemCount, int buttonCount) override;
    int Dialog(int pluginNumber, int x1, int y1, int x2, int y2, const char *helpTopic,
               FarDialogItem *items, int itemCount) override;
    const char *GetMsg(int pluginNumber, int msgId) override;
    int Control(HANDLE handle, int command, void *param) override;
    HANDLE SaveScreen(int x1, int y1, int x2, int y2) override;
    void RestoreScreen(HANDLE handle) override;
    int Viewer(const char *fileName, const char *title, int x1, int y1, int x2, int y2,
               DWORD flags) override;

  private:
    std::deque<std::string> msgTextStore_; // stable storage for GetMsg results
};

// The text of a Message item list as one line, for failure output.
std::string Describe(const MessageCall &call);

} // namespace qvork_test

#endif
