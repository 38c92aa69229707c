// A panel of the plug-in: the entry point calls and the listing copy.
#include "hosts/qvork/session.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <fstream>
#include <set>
#include <utility>

namespace qvork_host {

static_assert(sizeof(KeyBarTitles) == 7 * 12 * sizeof(char *), "KeyBarTitles: seven rows of twelve");

namespace {

std::string DescriptionOf(const PluginPanelItem &item) {
    return item.Description != nullptr ? std::string(item.Description) : std::string();
}

std::string TextOrEmpty(const char *text) { return text != nullptr ? std::string(text) : std::string(); }

// What identifies an item across two reads of the same folder.
std::pair<std::string, std::string> KeyOf(const PluginPanelItem &item) {
    return {FieldText(item.FindData.cFileName, sizeof(item.FindData.cFileName)),
            DescriptionOf(item)};
}

} // namespace

Session::Session(const PluginModule &module) : entry_(module.Entry()) {}

Session::~Session() { Close(); }

// How many of a file's first bytes OpenFilePlugin is given, as the file
// manager reads them when the user presses Enter on a file.
constexpr std::streamsize kFirstBytes = 32 * 1024;

HANDLE Session::OpenThroughTarget(std::string &error) {
    if (target_.kind == OpenTarget::kCommandLine) {
        return entry_.OpenPlugin(OPEN_COMMANDLINE, reinterpret_cast<intptr_t>(target_.path.c_str()));
    }
    if (target_.kind == OpenTarget::kRegistered) {
        return entry_.OpenPlugin(0, 0);
    }
    if (entry_.OpenFilePlugin == nullptr) {
        error = "the plug-in module does not export OpenFilePlugin";
        return INVALID_HANDLE_VALUE;
    }
    std::error_code ignored;
    std::string name = std::filesystem::absolute(target_.path, ignored).string();
    // A pipe or device would hold the first read (a pipe for ever).
    if (!std::filesystem::is_regular_file(target_.path, ignored)) {
        error = target_.path + " is not a site file (not a regular file)";
        return INVALID_HANDLE_VALUE;
    }
    std::ifstream file(target_.path, std::ios::binary);
    std::string bytes(static_cast<size_t>(kFirstBytes), '\0');
    file.read(&bytes[0], kFirstBytes);
    bytes.resize(static_cast<size_t>(file ? kFirstBytes : file.gcount()));
    if (!file && !file.eof()) {
        error = "cannot read " + target_.path;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = entry_.OpenFilePlugin(&name[0], reinterpret_cast<const unsigned char *>(bytes.data()),
                                          static_cast<int>(bytes.size()));
    if (handle == INVALID_HANDLE_VALUE) {
        error = target_.path + " is not a site file";
    }
    return handle;
}

bool Session::Open(std::string &error) {
    Close();
    HANDLE handle = OpenThroughTarget(error);
    if (handle == INVALID_HANDLE_VALUE) {
        if (error.empty()) {
            error = "the plug-in did not open a panel";
        }
        return false;
    }
    handle_ = handle;
    open_ = true;
    AttachPanel(handle_, this);
    location_.clear();
    RefreshPluginInfo();
    // Opened on a site file: ".." is shown at once, and the panel stands in
    // the site named by its file.
    onSiteFile_ = ShowsDots();
    if (onSiteFile_) {
        const std::string file = facts_.hostFile.empty() ? target_.path : facts_.hostFile;
        location_.push_back(std::filesystem::path(file).filename().string());
    }
    return true;
}

std::string Session::SiteOfUrls() const {
    static const std::string kTitle = "qVORK: ";
    if (onSiteFile_ && facts_.panelTitle.size() > kTitle.size() &&
        facts_.panelTitle.compare(0, kTitle.size(), kTitle) == 0) {
        return facts_.panelTitle.substr(kTitle.size());
    }
    return location_.empty() ? std::string() : location_[0];
}

void Session::Close() {
    if (!open_) {
        return;
    }
    entry_.ClosePlugin(handle_);
    DetachPanel(handle_);
    open_ = false;
    items_.clear();
    reportedStale_ = true;
    descriptions_.clear();
    selectedCopies_.clear();
    selectedIndexes_.clear();
    location_.clear();
    facts_ = PanelFacts{};
    dotsCurrent_ = false;
    onSiteFile_ = false;
    current_ = 0;
}

void Session::RefreshPluginInfo() {
    if (entry_.GetOpenPluginInfo == nullptr) {
        return;
    }
    OpenPluginInfo info;
    std::memset(&info, 0, sizeof(info));
    info.StructSize = static_cast<int>(sizeof(info));
    entry_.GetOpenPluginInfo(handle_, &info);
    facts_ = PanelFacts{};
    facts_.flags = info.Flags;
    reportedStale_ = true; // ".." shown or not
    facts_.curDir = TextOrEmpty(info.CurDir);
    facts_.panelTitle = TextOrEmpty(info.PanelTitle);
    facts_.hostFile = TextOrEmpty(info.HostFile);
    if (info.KeyBar != nullptr) {
        // The record is packed: its pointers are read byte-wise, as they
        // may lie on any even address.
        const auto *titles = reinterpret_cast<const unsigned char *>(info.KeyBar);
        for (size_t group = 0; group < facts_.keyTitles.size(); ++group) {
            for (size_t key = 0; key < facts_.keyTitles[group].size(); ++key) {
                const char *title = nullptr;
                std::memcpy(&title, titles + (group * 12 + key) * sizeof(char *), sizeof(title));
                facts_.keyTitles[group][key] = TextOrEmpty(title);
            }
        }
    }
    // The plug-in may have gone back to the root by itself (a site whose file
    // number reads as 0 lists the root again): no dots and no directory.
    if ((info.Flags & OPIF_ADDDOTS) == 0 && facts_.curDir.empty()) {
        location_.clear();
    }
}

void Session::StoreListing(const PluginPanelItem *items, int count) {
    items_.clear();
    reportedStale_ = true;
    descriptions_.clear();
    if (items == nullptr || count <= 0) {
        return;
    }
    items_.assign(items, items + count);
    for (PluginPanelItem &item : items_) {
        // The host keeps texts of its own, as the file manager does: the
        // plug-in may release its texts before the host is done with them.
        if (item.Description != nullptr) {
            const size_t length = std::strlen(item.Description);
            descriptions_.emplace_back(new char[length + 1]);
            std::memcpy(descriptions_.back().get(), item.Description, length + 1);
            item.Description = descriptions_.back().get();
        }
        item.Owner = nullptr;
        item.CustomColumnData = nullptr;
        item.CustomColumnNumber = 0;
        item.Flags &= PPIF_SELECTED;
    }
}

bool Session::Read(int opMode) {
    if (!open_) {
        return false;
    }
    std::set<std::pair<std::string, std::string>> selected;
    for (int index : Selection()) {
        selected.insert(KeyOf(items_[index]));
    }
    // The cursor's item by its name and cache file: two sites may share a name.
    std::pair<std::string, std::string> cursor(cursorAfterRead_, cursorFileAfterRead_);
    if (cursor.first.empty() && current_ >= 0 && current_ < Count()) {
        cursor = KeyOf(items_[current_]);
    }
    cursorAfterRead_.clear();
    cursorFileAfterRead_.clear();

    PluginPanelItem *items = nullptr;
    int count = 0;
    if (!entry_.GetFindData(handle_, &items, &count, opMode)) {
        return false;
    }
    StoreListing(items, count);
    if (entry_.FreeFindData != nullptr) {
        entry_.FreeFindData(handle_, items, count);
    }
    for (PluginPanelItem &item : items_) {
        item.Flags = !selected.empty() && selected.count(KeyOf(item)) != 0 ? PPIF_SELECTED : 0;
    }
    int found = -1;
    for (int i = 0; i < Count() && found < 0 && !cursor.second.empty(); ++i) {
        found = KeyOf(items_[i]) == cursor ? i : -1;
    }
    found = found >= 0 ? found : Find(cursor.first, true);
    current_ = found >= 0 ? found : 0;
    RefreshPluginInfo();
    return true;
}

std::string Session::Name(int index) const {
    const PluginPanelItem &item = items_[index];
    return FieldText(item.FindData.cFileName, sizeof(item.FindData.cFileName));
}

bool Session::IsFolder(int index) const {
    return (items_[index].FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Session::IsHidden(int index) const {
    return (items_[index].FindData.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool Session::ListsSite(const std::string &name, const std::string &file) const {
    for (int i = 0; i < Count(); ++i) {
        if (!IsHidden(i) && Name(i) == name && DescriptionOf(items_[i]) == file) {
            return true;
        }
    }
    return false;
}

int Session::Find(const std::string &name, bool includeHidden) const {
    // Compared in place: a walk finds its way back among thousands of items.
    const size_t field = sizeof(items_[0].FindData.cFileName);
    for (int i = 0; i < Count(); ++i) {
        const char *listed = items_[i].FindData.cFileName;
        if ((includeHidden || !IsHidden(i)) && strnlen(listed, field) == name.size() &&
            std::memcmp(listed, name.data(), name.size()) == 0) {
            return i;
        }
    }
    return -1;
}

void Session::SetCurrentItem(int index) {
    if (index >= 0 && index < Count()) {
        current_ = index;
    }
}

void Session::SetSelected(int index, bool selected) {
    if (index < 0 || index >= Count()) {
        return;
    }
    reportedStale_ = true;
    if (selected) {
        items_[index].Flags |= PPIF_SELECTED;
    } else {
        items_[index].Flags &= ~static_cast<DWORD>(PPIF_SELECTED);
    }
}

void Session::ClearSelection() {
    reportedStale_ = true;
    for (PluginPanelItem &item : items_) {
        item.Flags &= ~static_cast<DWORD>(PPIF_SELECTED);
    }
}

std::vector<int> Session::Selection() const {
    std::vector<int> chosen;
    for (int i = 0; i < Count(); ++i) {
        if ((items_[i].Flags & PPIF_SELECTED) != 0) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

std::string Session::LocationText() const {
    if (location_.empty()) {
        return "the cache root";
    }
    std::string text = location_[0];
    for (size_t i = 1; i < location_.size(); ++i) {
        text += "/" + location_[i];
    }
    return text;
}

bool Session::CanEnter(const std::string &name) const { return AtRoot() || Enterable(name); }

namespace {

// In front while the plug-in may read a site, entering it or copying it
// from the root: what becomes of its one-button warnings. Those of a site's
// first reading are shown and noted in `told` (or, for a copy of several
// sites, counted in `unplaced`); on a later reading those noted are not
// shown again. A failure of a copy comes as two boxes, its text and then the
// item's: a warning is only noted once the next box shows it was no such
// text, and in a copy one already noted is held until then.
class ReadingWarnings : public UiInFront {
public:
    // A reading of the site file `site` (null: of several sites at once),
    // noted by site in `bySite`.
    ReadingWarnings(std::map<std::string, std::set<std::string>> &bySite, const std::string *site,
                    std::map<std::string, int> &unplaced)
        : UiInFront(InstalledUi()),
          readBefore_(site != nullptr && bySite.count(*site) != 0),
          told_(site != nullptr ? &bySite[*site] : nullptr),
          unplaced_(unplaced) {}
    ~ReadingWarnings() override { Settle(false); }

    int ShowMessage(const MessageBoxText &box) override {
        const bool warning = (box.flags & FMSG_WARNING) != 0 && box.buttons.size() == 1;
        const bool itemBox = warning && box.lines.size() >= 2;
        Settle(itemBox);
        if (!warning || itemBox) {
            return UiInFront::ShowMessage(box);
        }
        std::string key = box.title;
        for (const std::string &line : box.lines) key += "\n" + line;
        if (told_ != nullptr && readBefore_ && told_->count(key) != 0) {
            held_ = box;
            return 0;
        }
        if (told_ != nullptr && !readBefore_) {
            const auto unplaced = unplaced_.find(key);
            if (unplaced != unplaced_.end() && unplaced->second > 0) {
                --unplaced->second; // shown already, in a copy of several sites
                told_->insert(key);
                return 0;
            }
        }
        pending_ = key;
        return UiInFront::ShowMessage(box);
    }

private:
    // The box after a one-line warning: an item's (`itemFollows`) when the
    // warning was the text of that item's failure.
    void Settle(bool itemFollows) {
        if (held_ && itemFollows) {
            UiInFront::ShowMessage(*held_);
        }
        held_.reset();
        if (pending_ && !itemFollows) {
            if (told_ != nullptr) {
                told_->insert(*pending_);
            } else {
                ++unplaced_[*pending_];
            }
        }
        pending_.reset();
    }

    const bool readBefore_;
    std::set<std::string> *told_; // null: a copy of several sites
    std::map<std::string, int> &unplaced_;
    std::optional<MessageBoxText> held_;
    std::optional<std::string> pending_;
};

} // namespace

bool Session::ChangeDirectory(const std::string &name, int opMode) {
    if (!open_ || entry_.SetDirectory == nullptr) {
        return false;
    }
    const bool fromRoot = AtRoot() && CanEnter(name);
    const std::string enteredFile = fromRoot && current_ >= 0 && current_ < Count() &&
                                            Name(current_) == name
                                        ? DescriptionOf(items_[current_])
                                        : std::string();
    std::optional<ReadingWarnings> reading;
    if (entryWarningsOnce_ && !enteredFile.empty()) {
        reading.emplace(warningsBySite_, &enteredFile, warningsUnplaced_);
    }
    if (!entry_.SetDirectory(handle_, name.c_str(), opMode)) {
        return false;
    }
    reading.reset();
    if (fromRoot) {
        siteFile_ = enteredFile;
    }
    std::string leftFolder;
    if (!CanEnter(name)) {
        if (!location_.empty()) {
            leftFolder = location_.back();
        }
        if (location_.size() <= 1) {
            location_.clear();
            cursorFileAfterRead_ = siteFile_; // back on the site left, not on its twin
        } else if (name == "..") {
            location_.pop_back();
        } else {
            leftFolder = location_[1];
            location_.resize(1);
        }
    } else {
        location_.push_back(name);
    }
    ClearSelection();
    dotsCurrent_ = false;
    cursorAfterRead_ = leftFolder;
    current_ = 0;
    Read(opMode);
    return true;
}

std::vector<int> Session::ChosenIndexes() const {
    std::vector<int> indexes = Selection();
    if (indexes.empty() && current_ >= 0 && current_ < Count()) {
        indexes.push_back(current_);
    }
    return indexes;
}

std::vector<PluginPanelItem> Session::CopiesOf(const std::vector<int> &indexes) const {
    std::vector<PluginPanelItem> chosen;
    for (int index : indexes) {
        chosen.push_back(items_[index]);
        chosen.back().Flags |= PPIF_SELECTED;
    }
    return chosen;
}

bool Session::CopySelection(const std::string &destination, int opMode,
                            std::vector<int> &failed) {
    return CopyItems(ChosenIndexes(), destination, opMode, failed);
}

bool Session::CopyItems(const std::vector<int> &wanted, const std::string &destination,
                        int opMode, std::vector<int> &failed) {
    failed.clear();
    std::vector<int> indexes;
    for (int index : wanted) {
        if (index >= 0 && index < Count()) {
            indexes.push_back(index);
        }
    }
    std::vector<PluginPanelItem> chosen = CopiesOf(indexes);
    if (!open_ || entry_.GetFiles == nullptr || chosen.empty()) {
        failed = indexes;
        return false;
    }
    std::vector<char> destPath(destination.begin(), destination.end());
    destPath.push_back('\0');
    // A copy from the root of a cache folder reads the sites it copies
    // (each item names its site file).
    std::optional<ReadingWarnings> reading;
    if (entryWarningsOnce_ && AtRoot() &&
        std::all_of(indexes.begin(), indexes.end(),
                    [this](int index) { return !DescriptionOf(items_[index]).empty(); })) {
        const std::string site = indexes.size() == 1 ? DescriptionOf(items_[indexes[0]]) : std::string();
        reading.emplace(warningsBySite_, indexes.size() == 1 ? &site : nullptr, warningsUnplaced_);
    }
    const int result = entry_.GetFiles(handle_, chosen.data(), static_cast<int>(chosen.size()),
                                       0, destPath.data(), opMode);
    reading.reset();
    for (size_t i = 0; i < chosen.size(); ++i) {
        if ((chosen[i].Flags & PPIF_SELECTED) != 0) {
            failed.push_back(indexes[i]);
        } else {
            SetSelected(indexes[i], false);
        }
    }
    RefreshPluginInfo();
    return result != 0;
}

bool Session::DeleteSelection(int opMode) {
    std::vector<PluginPanelItem> chosen = CopiesOf(ChosenIndexes());
    if (!open_ || entry_.DeleteFiles == nullptr || chosen.empty()) {
        return false;
    }
    const int result =
        entry_.DeleteFiles(handle_, chosen.data(), static_cast<int>(chosen.size()), opMode);
    Read();
    return result != 0;
}

bool Session::PressKey(int key, unsigned int controlState) {
    if (!open_ || entry_.ProcessKey == nullptr) {
        return false;
    }
    return entry_.ProcessKey(handle_, key, controlState) != 0;
}

bool Session::ShowPanel(PanelShown &shown) {
    // With ".." shown, the file manager lists it as the first item: an
    // item of its own that stands for no node of the plug-in's.
    const int shift = ShowsDots() ? 1 : 0;
    // Rebuilt only when the listing, its selection or ".." changed: the
    // plug-in asks once per key and per header view, and a walk that reads
    // every header of a large folder must not go through it each time.
    if (reportedStale_) {
        selectedIndexes_ = Selection();
        reportedItems_.clear();
        if (shift != 0) {
            PluginPanelItem dots;
            std::memset(&dots, 0, sizeof(dots));
            dots.FindData.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
            std::strncpy(dots.FindData.cFileName, "..", sizeof(dots.FindData.cFileName) - 1);
            reportedItems_.push_back(dots);
        }
        reportedItems_.insert(reportedItems_.end(), items_.begin(), items_.end());
        reportedStale_ = false;
    }
    // Fresh copies each time, as the file manager hands them out: the
    // plug-in may change the ones it was given.
    selectedCopies_.clear();
    for (int index : selectedIndexes_) {
        selectedCopies_.push_back(items_[index]);
    }
    shown.items = reportedItems_.data();
    shown.count = static_cast<int>(reportedItems_.size());
    shown.selected = selectedCopies_.data();
    shown.selectedCount = static_cast<int>(selectedCopies_.size());
    shown.current = DotsCurrent() || items_.empty() ? 0 : current_ + shift;
    shown.curDir = facts_.curDir;
    return true;
}

std::vector<int> DisplayOrder(const Session &session, bool includeHidden) {
    std::vector<int> order;
    for (int i = 0; i < session.Count(); ++i) {
        if (includeHidden || !session.IsHidden(i)) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&session](int a, int b) {
        if (session.IsFolder(a) != session.IsFolder(b)) {
            return session.IsFolder(a);
        }
        const std::string nameA = session.Name(a);
        const std::string nameB = session.Name(b);
        const int folded = strcasecmp(nameA.c_str(), nameB.c_str());
        return folded != 0 ? folded < 0 : nameA < nameB;
    });
    return order;
}

} // namespace qvork_host
