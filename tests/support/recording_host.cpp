#include "recording_host.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qvork_test {

namespace {

std::optional<std::string> CopyText(const char *text) {
    if (!text) return std::nullopt;
    return std::string(text);
}

// The plug-in hands over Win32 paths; on Linux its layer reads "\" as "/".
std::string NativePath(std::string path) {
#ifndef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    return path;
}

} // namespace

PluginPanelItem MakePanelItem(const std::string &name, DWORD attributes, DWORD size,
                              DWORD_PTR userData) {
    PluginPanelItem item;
    std::memset(&item, 0, sizeof item);
    item.FindData.dwFileAttributes = attributes;
    item.FindData.nFileSizeLow = size;
    std::strncpy(item.FindData.cFileName, name.c_str(), sizeof item.FindData.cFileName - 1);
    item.UserData = userData;
    return item;
}

std::string NameOf(const PluginPanelItem &item) {
    const char *name = item.FindData.cFileName;
    return std::string(name, std::find(name, name + sizeof item.FindData.cFileName, '\0'));
}

ScriptedPanel PanelShowing(const std::vector<PluginPanelItem> &items, const std::string &current) {
    ScriptedPanel shown;
    shown.items = items;
    for (size_t i = 0; i < items.size(); ++i)
        if (NameOf(items[i]) == current) shown.currentItem = static_cast<int>(i);
    return shown;
}

std::vector<PluginPanelItem> SelectByName(const std::vector<PluginPanelItem> &items,
                                          const std::vector<std::string> &names,
                                          std::vector<std::string> *unlisted) {
    std::vector<PluginPanelItem> chosen;
    for (const std::string &name : names) {
        bool found = false;
        for (const PluginPanelItem &item : items) {
            if (NameOf(item) != name) continue;
            chosen.push_back(item);
            chosen.back().Flags |= PPIF_SELECTED;
            found = true;
        }
        if (!found && unlisted) unlisted->push_back(name);
    }
    return chosen;
}

RecordingHost *RecordingHost::Current() {
    return dynamic_cast<RecordingHost *>(qvork_host::HostServices::Current());
}

PluginStartupInfo RecordingHost::StartupInfo() const {
    return qvork_host::HostServices::StartupInfo(moduleName, moduleNumber, rootKey.c_str());
}

int RecordingHost::Message(int pluginNumber, DWORD flags, const char *helpTopic,
                             const char *const *items, int itemCount, int buttonCount) {
    MessageCall call;
    call.pluginNumber = pluginNumber;
    call.flags = flags;
    call.helpTopic = CopyText(helpTopic);
    for (int i = 0; items && i < itemCount; ++i)
        call.items.push_back(items[i] ? items[i] : "<null>");
    call.itemCount = itemCount;
    call.buttonCount = buttonCount;
    if (buttonCount <= 0) {
        call.answer = 0;
    } else if (!messageAnswers.empty()) {
        call.answer = messageAnswers.front();
        messageAnswers.pop_front();
    } else {
        call.answer = buttonCount == 1 ? 0 : -1;
    }
    events.push_back({HostEventKind::Message, messages.size()});
    messages.push_back(call);
    return call.answer;
}

int RecordingHost::Dialog(int pluginNumber, int x1, int y1, int x2, int y2,
                            const char *helpTopic, FarDialogItem *items, int itemCount) {
    DialogCall call;
    call.pluginNumber = pluginNumber;
    call.x1 = x1, call.y1 = y1, call.x2 = x2, call.y2 = y2;
    call.helpTopic = CopyText(helpTopic);
    if (items && itemCount > 0) call.itemsShown.assign(items, items + itemCount);
    call.itemsLeft = call.itemsShown;
    call.answer = dialogScript ? dialogScript(call.itemsLeft) : -1;
    if (items && itemCount > 0 && call.itemsLeft.size() == static_cast<size_t>(itemCount))
        std::copy(call.itemsLeft.begin(), call.itemsLeft.end(), items);
    events.push_back({HostEventKind::Dialog, dialogs.size()});
    dialogs.push_back(call);
    return call.answer;
}

const char *RecordingHost::GetMsg(int pluginNumber, int msgId) {
    events.push_back({HostEventKind::GetMsg, getMsgs.size()});
    getMsgs.push_back({pluginNumber, msgId});
    auto known = messageTexts.find(msgId);
    msgTextStore_.push_back(known != messageTexts.end() ? known->second
                                                        : "msg" + std::to_string(msgId));
    return msgTextStore_.back().c_str();
}

int RecordingHost::Control(HANDLE handle, int command, void *param) {
    ControlCall call{handle, command, 0};
    if (command == FCTL_GETPANELINFO && panel && param) {
        call.answer = panel->answer;
        qvork_host::PanelShown shown;
        shown.items = panel->items.data();
        shown.count = static_cast<int>(panel->items.size());
        shown.selected = panel->selected.data();
        shown.selectedCount = static_cast<int>(panel->selected.size());
        shown.current = panel->currentItem;
        if (call.answer) qvork_host::FillPanelInfo(shown, *static_cast<PanelInfo *>(param));
    }
    events.push_back({HostEventKind::Control, controls.size()});
    controls.push_back(call);
    return call.answer;
}

HANDLE RecordingHost::SaveScreen(int x1, int y1, int x2, int y2) {
    // Distinct, non-null handles that no real pointer could be confused with.
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5C00 + savedScreens.size()));
    events.push_back({HostEventKind::SaveScreen, savedScreens.size()});
    savedScreens.push_back({x1, y1, x2, y2, handle});
    return handle;
}

void RecordingHost::RestoreScreen(HANDLE handle) {
    events.push_back({HostEventKind::RestoreScreen, restoredScreens.size()});
    restoredScreens.push_back(handle);
}

int RecordingHost::Viewer(const char *fileName, const char *title, int x1, int y1, int x2,
                            int y2, DWORD flags) {
    ViewerCall call;
    call.fileName = fileName ? fileName : "";
    call.title = CopyText(title);
    call.x1 = x1, call.y1 = y1, call.x2 = x2, call.y2 = y2;
    call.flags = flags;
    std::ifstream in(NativePath(call.fileName), std::ios::binary);
    if (in) {
        call.fileExisted = true;
        call.contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    events.push_back({HostEventKind::Viewer, viewers.size()});
    viewers.push_back(call);
    return viewerAnswer;
}

std::vector<MessageCall> RecordingHost::ProgressBoxes() const {
    std::vector<MessageCall> boxes;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(boxes),
                 [](const MessageCall &call) { return call.buttonCount == 0; });
    return boxes;
}

std::vector<MessageCall> RecordingHost::Warnings() const {
    std::vector<MessageCall> boxes;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(boxes),
                 [](const MessageCall &call) { return (call.flags & FMSG_WARNING) != 0; });
    return boxes;
}

std::string RecordingHost::ScreenPairingProblem() const {
    std::vector<HANDLE> open;
    for (const HostEvent &event : events) {
        if (event.kind == HostEventKind::SaveScreen) {
            open.push_back(savedScreens[event.index].handle);
        } else if (event.kind == HostEventKind::RestoreScreen) {
            HANDLE handle = restoredScreens[event.index];
            if (open.empty()) return "RestoreScreen without a SaveScreen before it";
            if (open.back() != handle) return "RestoreScreen of a handle that is not the last saved";
            open.pop_back();
        }
    }
    if (!open.empty()) return std::to_string(open.size()) + " SaveScreen never restored";
    return "";
}

void RecordingHost::ClearRecords() {
    messages.clear();
    dialogs.clear();
    controls.clear();
    getMsgs.clear();
    savedScreens.clear();
    restoredScreens.clear();
    viewers.clear();
    events.clear();
}

std::string Describe(const MessageCall &call) {
    std::ostringstream text;
    text << "Message(flags " << call.flags << ", " << call.buttonCount << " buttons:";
    for (const std::string &item : call.items) text << " [" << item << "]";
    text << ")";
    return text.str();
}

} // namespace qvork_test
