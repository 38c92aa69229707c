#include "recording_host.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qvork_test {

namespace {

RecordingHost *currentHost = nullptr;
int orphanCalls = 0;

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

int WINAPI MessageService(int pluginNumber, DWORD flags, const char *helpTopic,
                          const char *const *items, int itemCount, int buttonCount) {
    if (!currentHost) return ++orphanCalls, -1;
    return currentHost->OnMessage(pluginNumber, flags, helpTopic, items, itemCount, buttonCount);
}

int WINAPI DialogService(int pluginNumber, int x1, int y1, int x2, int y2, const char *helpTopic,
                         FarDialogItem *items, int itemCount) {
    if (!currentHost) return ++orphanCalls, -1;
    return currentHost->OnDialog(pluginNumber, x1, y1, x2, y2, helpTopic, items, itemCount);
}

const char *WINAPI GetMsgService(int pluginNumber, int msgId) {
    if (!currentHost) return ++orphanCalls, "";
    return currentHost->OnGetMsg(pluginNumber, msgId);
}

int WINAPI ControlService(HANDLE handle, int command, void *param) {
    if (!currentHost) return ++orphanCalls, 0;
    return currentHost->OnControl(handle, command, param);
}

HANDLE WINAPI SaveScreenService(int x1, int y1, int x2, int y2) {
    if (!currentHost) return ++orphanCalls, nullptr;
    return currentHost->OnSaveScreen(x1, y1, x2, y2);
}

void WINAPI RestoreScreenService(HANDLE handle) {
    if (!currentHost) {
        ++orphanCalls;
        return;
    }
    currentHost->OnRestoreScreen(handle);
}

int WINAPI ViewerService(const char *fileName, const char *title, int x1, int y1, int x2, int y2,
                         DWORD flags) {
    if (!currentHost) return ++orphanCalls, 0;
    return currentHost->OnViewer(fileName, title, x1, y1, x2, y2, flags);
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

RecordingHost::RecordingHost() : previous_(currentHost) { currentHost = this; }

RecordingHost::~RecordingHost() {
    if (currentHost == this) currentHost = previous_;
}

RecordingHost *RecordingHost::Current() { return currentHost; }

int OrphanServiceCalls() { return orphanCalls; }

PluginStartupInfo RecordingHost::StartupInfo() const {
    PluginStartupInfo info;
    std::memset(&info, 0, sizeof info);
    info.StructSize = static_cast<int>(sizeof info);
    std::strncpy(info.ModuleName, moduleName.c_str(), sizeof info.ModuleName - 1);
    info.ModuleNumber = moduleNumber;
    info.RootKey = rootKey.c_str();
    info.Dialog = DialogService;
    info.Message = MessageService;
    info.GetMsg = GetMsgService;
    info.Control = ControlService;
    info.SaveScreen = SaveScreenService;
    info.RestoreScreen = RestoreScreenService;
    info.Viewer = ViewerService;
    return info;
}

int RecordingHost::OnMessage(int pluginNumber, DWORD flags, const char *helpTopic,
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

int RecordingHost::OnDialog(int pluginNumber, int x1, int y1, int x2, int y2,
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

const char *RecordingHost::OnGetMsg(int pluginNumber, int msgId) {
    events.push_back({HostEventKind::GetMsg, getMsgs.size()});
    getMsgs.push_back({pluginNumber, msgId});
    auto known = messageTexts.find(msgId);
    msgTextStore_.push_back(known != messageTexts.end() ? known->second
                                                        : "msg" + std::to_string(msgId));
    return msgTextStore_.back().c_str();
}

int RecordingHost::OnControl(HANDLE handle, int command, void *param) {
    ControlCall call{handle, command, 0};
    if (command == FCTL_GETPANELINFO && panel && param) {
        std::memset(&panelInfo_, 0, sizeof panelInfo_);
        panelInfo_.Plugin = TRUE;
        panelInfo_.PanelItems = panel->items.empty() ? nullptr : panel->items.data();
        panelInfo_.ItemsNumber = static_cast<int>(panel->items.size());
        panelInfo_.SelectedItems = panel->selected.empty() ? nullptr : panel->selected.data();
        panelInfo_.SelectedItemsNumber = static_cast<int>(panel->selected.size());
        panelInfo_.CurrentItem = panel->currentItem;
        panelInfo_.Visible = TRUE;
        panelInfo_.Focus = TRUE;
        call.answer = panel->answer;
        if (call.answer) std::memcpy(param, &panelInfo_, sizeof panelInfo_);
    }
    events.push_back({HostEventKind::Control, controls.size()});
    controls.push_back(call);
    return call.answer;
}

HANDLE RecordingHost::OnSaveScreen(int x1, int y1, int x2, int y2) {
    // Distinct, non-null handles that no real pointer could be confused with.
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5C00 + savedScreens.size()));
    events.push_back({HostEventKind::SaveScreen, savedScreens.size()});
    savedScreens.push_back({x1, y1, x2, y2, handle});
    return handle;
}

void RecordingHost::OnRestoreScreen(HANDLE handle) {
    events.push_back({HostEventKind::RestoreScreen, restoredScreens.size()});
    restoredScreens.push_back(handle);
}

int RecordingHost::OnViewer(const char *fileName, const char *title, int x1, int y1, int x2,
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
