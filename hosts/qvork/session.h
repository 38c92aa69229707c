// One panel of the plug-in, driven as the file manager drives it: open,
// read the listing, move with SetDirectory, select, copy, delete, press
// keys, close. The session keeps its own copy of each listing (the plug-in's
// array is handed back with FreeFindData at once) and answers the plug-in's
// Control(FCTL_GETPANELINFO) with that copy, its selection and its current
// item. Drawing is not its concern: the command line and the interactive
// panel both show what it holds.
#ifndef QVORK_HOSTS_SESSION_H
#define QVORK_HOSTS_SESSION_H

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hosts/qvork/host_services.h"
#include "hosts/qvork/plugin_module.h"

namespace qvork_host {

// What GetOpenPluginInfo reported last, copied: the plug-in's texts may
// change under the host at its next call.
struct PanelFacts {
    DWORD flags = 0;
    std::string curDir;
    std::string panelTitle;
    std::string hostFile; // the site file a panel opened on one stands for
    // The key bar: [group][key], key 0 is F1; groups as in KeyBarTitles:
    // plain, Ctrl, Alt, Shift, Ctrl+Shift, Alt+Shift, Ctrl+Alt.
    std::array<std::array<std::string, 12>, 7> keyTitles;
};

// How Open reaches the plug-in, as the file manager would: the Disks menu
// (OpenPlugin on the registered cache), "vork:PATH" typed on its command
// line (OpenPlugin with OPEN_COMMANDLINE), or Enter on a file of an ordinary
// panel (OpenFilePlugin with the file's first bytes).
struct OpenTarget {
    enum Kind { kRegistered, kCommandLine, kSiteFile } kind = kRegistered;
    std::string path; // kCommandLine and kSiteFile
};

class Session : public PanelSource {
public:
    explicit Session(const PluginModule &module);
    ~Session() override;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Where the next Open goes; the Disks menu's cache unless set.
    void SetTarget(const OpenTarget &target) { target_ = target; }
    const OpenTarget &Target() const { return target_; }
    // OpenPlugin (or OpenFilePlugin, as the target says); false with `error`
    // set when the plug-in refuses.
    bool Open(std::string &error);
    // The panel was opened on one site file: its top folder is the panel's
    // top, and ".." there leaves the panel (as an archive is left).
    bool OnSiteFile() const { return onSiteFile_; }
    // The site's name in its URLs: the one the panel's title gives on a
    // site file ("qVORK: www.example.com"), else the first folder's name.
    std::string SiteOfUrls() const;
    // The cache file of the site the panel is in ("" at the root or when not
    // known): two sites of one name are told apart by it.
    std::string SiteFileHere() const {
        return onSiteFile_ ? (location_.empty() ? std::string() : location_[0])
                           : (location_.empty() ? std::string() : siteFile_);
    }
    // ClosePlugin; the listing copy is dropped.
    void Close();
    bool IsOpen() const { return open_; }
    HANDLE Handle() const { return handle_; }
    const EntryPoints &Entry() const { return entry_; }

    // GetFindData for the current folder, copied, then FreeFindData. The
    // current item and the selection stay on the items of the same name.
    bool Read(int opMode = 0);
    int Count() const { return static_cast<int>(items_.size()); }
    const PluginPanelItem &Item(int index) const { return items_[index]; }
    std::string Name(int index) const;
    bool IsFolder(int index) const;
    bool IsHidden(int index) const;
    // True when a visible item is the site `name` of the cache file `file`
    // (a deletion that left it failed).
    bool ListsSite(const std::string &name, const std::string &file) const;
    // The first item named `name`; hidden items only when `includeHidden`.
    int Find(const std::string &name, bool includeHidden = false) const;

    int CurrentItem() const { return current_; }
    void SetCurrentItem(int index);
    void SetSelected(int index, bool selected);
    void ClearSelection();
    std::vector<int> Selection() const;

    // Where the panel is: empty at the cache root, else the site name and the
    // folder names below it, as this session moved.
    const std::vector<std::string> &Location() const { return location_; }
    std::string LocationText() const; // "site/a/b", or "the cache root"
    bool AtRoot() const { return location_.empty(); }
    // Whether ChangeDirectory(name) goes into the item `name`: at the cache
    // root every site, one named ".." or "\" too (the plug-in enters it).
    bool CanEnter(const std::string &name) const;
    // The plug-in's CurDir, asked after each move.
    const std::string &CurDir() const { return facts_.curDir; }
    // All of the last GetOpenPluginInfo (asked after each read and move).
    const PanelFacts &Facts() const { return facts_; }
    // Whether the panel shows ".." above the items (OPIF_ADDDOTS).
    bool ShowsDots() const { return (facts_.flags & OPIF_ADDDOTS) != 0; }
    // The cursor on ".." rather than on an item: FCTL_GETPANELINFO then
    // reports ".." (an item of its own, listed first, as the file manager
    // lists it) as the current item. Cleared by every move.
    void SetDotsCurrent(bool onDots) { dotsCurrent_ = onDots; }
    bool DotsCurrent() const { return dotsCurrent_ && ShowsDots(); }

    // SetDirectory(name), then Read. False when the plug-in refuses; nothing
    // changed then.
    bool ChangeDirectory(const std::string &name, int opMode = 0);
    // From now on the warnings the plug-in gives reading a site (an
    // over-long URL) are shown as its first reading gives them (entering
    // it, or a copy from the root) and not again when it is read again: a
    // command that reads one site several times tells what is wrong with it
    // once. Failures of copies are all shown.
    void TellEntryWarningsOnce() { entryWarningsOnce_ = true; }

    // GetFiles with copies of the selected items (the current item when
    // none is selected). Items the plug-in deselected are deselected here;
    // `failed` receives those that stayed selected. Returns GetFiles' result.
    bool CopySelection(const std::string &destination, int opMode,
                       std::vector<int> &failed);
    // GetFiles with copies of the items at `indexes`, whatever is selected.
    bool CopyItems(const std::vector<int> &indexes, const std::string &destination, int opMode,
                   std::vector<int> &failed);
    // DeleteFiles with copies of the selected items, then Read. Returns
    // DeleteFiles' result.
    bool DeleteSelection(int opMode = 0);
    // ProcessKey; true when the plug-in handled the key.
    bool PressKey(int key, unsigned int controlState);

    bool ShowPanel(PanelShown &shown) override;

private:
    HANDLE OpenThroughTarget(std::string &error);
    void StoreListing(const PluginPanelItem *items, int count);
    void RefreshPluginInfo();
    // The selected items, or the current item when none is selected.
    std::vector<int> ChosenIndexes() const;
    std::vector<PluginPanelItem> CopiesOf(const std::vector<int> &indexes) const;

    EntryPoints entry_;
    bool open_ = false;
    HANDLE handle_ = nullptr;
    std::vector<PluginPanelItem> items_;
    std::vector<std::unique_ptr<char[]>> descriptions_; // the texts items_ point to
    std::vector<PluginPanelItem> selectedCopies_;       // what ShowPanel hands out
    std::vector<int> selectedIndexes_;                  // the selection when reportedItems_ was built
    std::vector<PluginPanelItem> reportedItems_;        // "..", then items_, for ShowPanel
    bool reportedStale_ = true;                         // reportedItems_ to be rebuilt
    int current_ = 0;
    std::vector<std::string> location_;
    PanelFacts facts_;
    bool dotsCurrent_ = false;
    OpenTarget target_;
    bool onSiteFile_ = false;
    std::string cursorAfterRead_; // name the cursor goes to after the next Read
    std::string cursorFileAfterRead_; // and its cache file, when one is known
    std::string siteFile_;        // the cache file of the site entered from the root
    bool entryWarningsOnce_ = false;
    std::map<std::string, std::set<std::string>> warningsBySite_; // by cache file, once read
    std::map<std::string, int> warningsUnplaced_; // shown in a copy of several sites
};

// The items in the order a panel shows them: folders first, then files,
// each group by name (case-insensitive first); hidden items only when asked.
std::vector<int> DisplayOrder(const Session &session, bool includeHidden);

// False for the names SetDirectory takes as moves (".." up, "\\" to the
// site's top): a listed folder of such a name cannot be entered.
inline bool Enterable(const std::string &name) { return name != ".." && name != "\\"; }

} // namespace qvork_host

#endif
