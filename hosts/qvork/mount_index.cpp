// The mount's tree, filled through the plug-in's entry points (see the
// header). Positions: the session is either at the cache root
// (currentSite_ -1) or inside site currentSite_ at the folder where_.
#include "hosts/qvork/mount_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "hosts/qvork/mount_names.h"
#include "hosts/qvork/open_target.h"
#include "hosts/qvork/stored_items.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

bool SameFile(const struct stat &a, const struct stat &b) {
    // Not the change time: a chmod, a link or a backup's access changes it,
    // and the mount must not end for those.
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string TextOf(const char *text) { return text != nullptr ? text : ""; }

} // namespace

// The screen the plug-in sees: no one to ask. Progress boxes are ignored,
// warnings are logged, a box asking a question is cancelled, and the header
// view's file is read into `shown` and deleted as the viewer would.
class MountUi : public HostUi {
public:
    explicit MountUi(std::vector<std::string> privateFolders) : privateFolders_(std::move(privateFolders)) {}

    int ShowMessage(const MessageBoxText &box) override {
        if (box.buttons.empty()) {
            return 0;
        }
        std::string text = box.title;
        for (const std::string &line : box.lines) {
            text += ": " + Shown(line);
        }
        MountIndex::Warn(text);
        return box.buttons.size() == 1 ? 0 : -1;
    }
    int RunDialog(FarDialogItem *, int, int, int) override { return -1; }
    HANDLE SaveScreen() override { return nullptr; }
    void RestoreScreen(HANDLE) override {}
    int ShowFile(const std::string &path, const std::string &, DWORD flags) override {
        std::ifstream file(path, std::ios::binary);
        const bool opened = static_cast<bool>(file);
        if (opened) {
            shown.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            ++filesShown;
        }
        file.close();
        if ((flags & VF_DELETEONCLOSE) != 0) {
            std::remove(path.c_str());
        }
        return opened ? 1 : 0;
    }

    std::string shown;
    int filesShown = 0;

private:
    // A path in a folder of the mount's own is told from past the
    // extraction's folder in it ("body7/"), as the cache names it.
    std::string Shown(const std::string &line) const {
        for (const std::string &folder : privateFolders_) {
            const std::string rest = PastPrivateFolder(line, folder);
            if (rest != line) {
                const size_t past = rest.find('/');
                return past == std::string::npos ? rest : rest.substr(past + 1);
            }
        }
        return line;
    }

    std::vector<std::string> privateFolders_;
};

MountIndex::MountIndex(const PluginModule &module, const std::string &workFolder,
                       const std::string &memoryFolder, bool decode)
    : workFolder_(workFolder), memoryFolder_(memoryFolder), decode_(decode), session_(module),
      ui_(new MountUi({workFolder, memoryFolder})) {}

MountIndex::~MountIndex() { Stop(); }

namespace {
const char *WarningPrefix = "qvork mount";
bool WarningsQuiet = false;
bool WarningsToSystemLog = false;
} // namespace

void MountIndex::SetWarnings(const char *prefix, bool quiet) {
    WarningPrefix = prefix;
    WarningsQuiet = quiet;
}

void MountIndex::SendWarningsToSystemLog() {
    openlog("qvork", LOG_PID, LOG_USER);
    WarningsToSystemLog = true;
}

void MountIndex::Warn(const std::string &text) {
    if (!WarningsQuiet) {
        std::fprintf(stderr, "%s: %s\n", WarningPrefix, DisplayText(text).c_str());
        if (WarningsToSystemLog) {
            syslog(LOG_WARNING, "%s: %s", WarningPrefix, DisplayText(text).c_str());
        }
    }
}

bool MountIndex::Start(const std::string &source, std::string &error) {
    std::lock_guard<std::mutex> hold(lock_);
    InstallUi(ui_.get());
    started_ = time(nullptr);
    // As "vork:SOURCE" typed on the file manager's command line: the plug-in
    // opens a cache folder at its root, a site file inside its site.
    error = BackslashProblem(source);
    if (!error.empty()) {
        return false;
    }
    std::error_code ignored;
    const std::string path = std::filesystem::absolute(source, ignored).string();
    session_.SetTarget(OpenTarget{OpenTarget::kCommandLine, path});
    if (!session_.Open(error) || !session_.Read(OPM_SILENT)) {
        const bool opened = session_.IsOpen();
        if (!std::filesystem::exists(path, ignored)) {
            error = source + ": no such file or folder";
        } else if (!opened) {
            error = source + " is neither a NetSonic cache folder (one that holds icache, or " +
                    "site files) nor a site file";
        } else if (error.empty()) {
            error = "the plug-in could not list " + source;
        }
        return false;
    }
    std::map<std::string, int> nameCount;
    // Inside a site from the start: ".." shown and a directory text.
    const bool onSiteFile = session_.OnSiteFile() || (session_.ShowsDots() && !session_.CurDir().empty());
    if (onSiteFile) {
        // The file is the site: its top folder is the mount's top.
        MountSite site;
        site.cacheFile = std::filesystem::path(path).filename().string();
        site.filePath = path;
        if (stat(path.c_str(), &site.signature) != 0) {
            error = "cannot read " + source;
            return false;
        }
        sites_.push_back(site);
        currentSite_ = 0; // and never left: the panel is this site
        entries_.emplace_back();
        entries_[0].folder = true;
        entries_[0].site = 0;
        return true;
    }
    // The site files of a cache folder lie in its icache/, or in it.
    const std::string folder = SiteFilesFolder(path);
    for (int i = 0; i < session_.Count(); ++i) {
        const PluginPanelItem &item = session_.Item(i);
        // Sites deleted in this run are hidden; items without a cache file
        // name are files that are no site.
        if (session_.IsHidden(i) || !session_.IsFolder(i) || item.Description == nullptr) {
            continue;
        }
        MountSite site;
        site.rawName = session_.Name(i);
        site.cacheFile = TextOf(item.Description);
        site.filePath = folder + "/" + site.cacheFile;
        if (site.cacheFile.find('/') != std::string::npos ||
            stat(site.filePath.c_str(), &site.signature) != 0) {
            continue;
        }
        ++nameCount[WrittenName(site.rawName)];
        sites_.push_back(site);
    }
    if (sites_.empty()) {
        error = "no readable site in " + source;
        return false;
    }
    entries_.emplace_back();
    entries_[0].folder = true;
    entries_[0].listed = true;
    // Two sites of one name are told apart by their cache files. Those names
    // are given first: a site that bears one as its own is numbered instead.
    std::vector<std::string> made(sites_.size());
    std::set<std::string> byCacheFile;
    for (size_t s = 0; s < sites_.size(); ++s) {
        made[s] = WrittenName(sites_[s].rawName);
        if (nameCount[made[s]] > 1) {
            made[s] = SiteFolderName(made[s], "@" + sites_[s].cacheFile);
            byCacheFile.insert(made[s]);
        }
    }
    for (size_t s = 0; s < sites_.size(); ++s) {
        MountEntry site;
        site.name = made[s];
        const bool own = nameCount[WrittenName(sites_[s].rawName)] > 1; // its name is one of those
        // A site may bear the name made for another: numbered, never lost.
        for (int number = 2; entries_[0].children.count(site.name) != 0 ||
                             (!own && byCacheFile.count(site.name) != 0);
             ++number) {
            site.name = SiteFolderName(made[s], "~" + std::to_string(number));
        }
        site.folder = true;
        site.parent = 0;
        site.site = static_cast<int>(s);
        entries_[0].children[site.name] = static_cast<int>(entries_.size());
        entries_.push_back(site);
    }
    return true;
}

void MountIndex::Stop() {
    std::lock_guard<std::mutex> hold(lock_);
    session_.Close();
    InstallUi(nullptr);
    for (MountEntry &entry : entries_) {
        if (entry.bodyFd >= 0) {
            close(entry.bodyFd);
            entry.bodyFd = -1;
        }
    }
}

bool MountIndex::SiteUnchanged(int site) {
    MountSite &watched = sites_[site];
    struct stat now;
    if (stat(watched.filePath.c_str(), &now) == 0 && SameFile(now, watched.signature)) {
        return true;
    }
    if (!watched.changed) {
        watched.changed = true;
        if (onSiteChanged_) {
            onSiteChanged_("the site file " + watched.filePath +
                           " changed or went away under the mount");
        }
    }
    return false;
}

bool MountIndex::LeaveSite() {
    if (currentSite_ < 0) {
        return true;
    }
    // "\" goes to the site's top folder, ".." from there leaves the site.
    if (!where_.empty() && !session_.ChangeDirectory("\\", OPM_SILENT)) {
        return false;
    }
    where_.clear();
    currentSite_ = -1;
    return session_.ChangeDirectory("..", OPM_SILENT) && session_.AtRoot();
}

bool MountIndex::GoTo(int site, const std::vector<std::string> &names) {
    if (currentSite_ != site) {
        if (!LeaveSite() || !SiteUnchanged(site)) {
            return false;
        }
        // The site's item is the current one, as when the user presses Enter
        // on it: two sites may share a name.
        const MountSite &target = sites_[site];
        int item = -1;
        for (int i = 0; i < session_.Count() && item < 0; ++i) {
            if (session_.Name(i) == target.rawName &&
                TextOf(session_.Item(i).Description) == target.cacheFile) {
                item = i;
            }
        }
        session_.SetCurrentItem(item);
        if (item < 0 || !session_.ChangeDirectory(target.rawName, OPM_SILENT) ||
            session_.AtRoot()) {
            return false;
        }
        currentSite_ = site;
    }
    size_t common = 0;
    while (common < where_.size() && common < names.size() && where_[common] == names[common]) {
        ++common;
    }
    while (where_.size() > common) {
        if (!session_.ChangeDirectory("..", OPM_SILENT)) {
            return false;
        }
        where_.pop_back();
    }
    while (where_.size() < names.size()) {
        if (!Enterable(names[where_.size()]) ||
            !session_.ChangeDirectory(names[where_.size()], OPM_SILENT)) {
            return false;
        }
        where_.push_back(names[where_.size()]);
    }
    return true;
}

bool MountIndex::HasChildren(const std::string &rawName) {
    // Entering a file lists what lies below it. This goes past the session
    // on purpose: it comes straight back, and re-reading the folder after
    // each such probe would cost a listing per file.
    const EntryPoints &entry = session_.Entry();
    if (!Enterable(rawName) || !entry.SetDirectory(session_.Handle(), rawName.c_str(), OPM_SILENT)) {
        return false;
    }
    PluginPanelItem *items = nullptr;
    int count = 0;
    if (entry.GetFindData(session_.Handle(), &items, &count, OPM_SILENT) &&
        entry.FreeFindData != nullptr) {
        entry.FreeFindData(session_.Handle(), items, count);
    }
    entry.SetDirectory(session_.Handle(), "..", OPM_SILENT);
    return count > 0;
}

bool MountIndex::EntersAlone(const std::vector<std::pair<std::string, PluginPanelItem>> &items,
                             size_t index) {
    // A name that fills the listing's field may be a longer one cut short,
    // which SetDirectory does not know, or would take for another of the
    // same first bytes.
    const std::string &raw = items[index].first;
    if (raw.size() < sizeof(WIN32_FIND_DATAA{}.cFileName)) {
        return true;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (i != index && items[i].first == raw) {
            return false;
        }
    }
    const EntryPoints &entry = session_.Entry();
    if (!entry.SetDirectory(session_.Handle(), raw.c_str(), OPM_SILENT)) {
        return false;
    }
    entry.SetDirectory(session_.Handle(), "..", OPM_SILENT);
    return true;
}

int MountIndex::ItemOf(const MountEntry &entry) const {
    const std::string &raw = entry.source.back();
    if (entry.item >= 0 && entry.item < session_.Count() && session_.Name(entry.item) == raw) {
        return entry.item;
    }
    // Two names cut alike are told apart by their place alone.
    return raw.size() < sizeof(WIN32_FIND_DATAA{}.cFileName) ? session_.Find(raw, true) : -1;
}

int MountIndex::AddChild(int parentId, const std::string &rawName, bool folder, uint64_t size,
                         const std::vector<std::string> &source) {
    // As a copy of the whole site writes it: a name something earlier in
    // this folder took (a file or a folder) is numbered, "x~2", "x~3", ...
    // Numbers below the last one a name got were all taken then, and still
    // are: the search goes on from there.
    const std::string written = WrittenName(rawName);
    std::string name = written;
    MountEntry &parent = entries_[parentId];
    if (parent.children.count(name) != 0) {
        unsigned &number = parent.lastNumber[written];
        do {
            number = std::max(number + 1, 2u);
            name = NumberedName(written, number);
        } while (parent.children.count(name) != 0);
    }
    MountEntry child;
    child.name = name;
    child.folder = folder;
    child.size = folder ? 0 : size;
    child.parent = parentId;
    child.site = entries_[parentId].site;
    child.source = source;
    const int id = static_cast<int>(entries_.size());
    entries_.push_back(child);
    entries_[parentId].children[name] = id;
    return id;
}

int MountIndex::ListLocked(int id) {
    if (entries_[id].listed) {
        return 0;
    }
    entries_[id].listed = true;
    if (!entries_[id].extracted.empty()) {
        ListExtracted(id);
        return 0;
    }
    // Copied: AddChild grows the deque.
    const std::vector<std::string> source = entries_[id].source;
    if (!GoTo(entries_[id].site, source)) {
        // A damaged site shows what it can; a changed one ends the mount.
        if (entries_[id].site >= 0 && SiteUnchanged(entries_[id].site)) {
            Warn(entries_[id].name + ": the folder could not be listed");
        }
        return 0;
    }
    // The listing is copied before the probes below move the plug-in.
    std::vector<std::pair<std::string, PluginPanelItem>> items;
    for (int i = 0; i < session_.Count(); ++i) {
        items.emplace_back(session_.Name(i), session_.Item(i));
    }
    for (size_t i = 0; i < items.size(); ++i) {
        const auto &[raw, item] = items[i];
        const bool listedFolder = (item.FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A copy writes an entry with children as a folder.
        const bool folder = listedFolder || HasChildren(raw);
        std::vector<std::string> path = source;
        path.push_back(raw);
        const uint64_t size = (static_cast<uint64_t>(item.FindData.nFileSizeHigh) << 32) |
                              item.FindData.nFileSizeLow;
        const int child = AddChild(id, raw, folder, size, path);
        entries_[child].item = static_cast<int>(i);
        if (listedFolder && (!Enterable(raw) || !EntersAlone(items, i))) {
            ExtractFolder(child, static_cast<int>(i));
        }
    }
    return 0;
}

int MountIndex::Lookup(const std::string &path) {
    std::lock_guard<std::mutex> hold(lock_);
    int id = 0;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > start) {
            if (!entries_[id].folder) {
                return -ENOTDIR;
            }
            ListLocked(id);
            auto found = entries_[id].children.find(path.substr(start, end - start));
            if (found == entries_[id].children.end()) {
                return -ENOENT;
            }
            id = found->second;
        }
        start = end + 1;
    }
    return id;
}

bool MountIndex::ReadHeaderLocked(MountEntry &entry) {
    if (entry.headerRead || entry.folder || !entry.extracted.empty()) {
        return entry.headerRead;
    }
    // A view that fails (no descriptor or no room for its file just now)
    // is not remembered: the next stat, attribute or open asks again.
    std::vector<std::string> folder = entry.source;
    folder.pop_back();
    if (!SiteUnchanged(entry.site) || !GoTo(entry.site, folder)) {
        return false;
    }
    const int item = ItemOf(entry);
    if (item < 0) {
        return false;
    }
    session_.SetCurrentItem(item);
    const int before = ui_->filesShown;
    if (session_.PressKey(KEY_CODE_F3, PKF_SHIFT) && ui_->filesShown != before &&
        SiteUnchanged(entry.site)) { // not a header the file's writer was changing
        entry.header = ParseHeaderFacts(ui_->shown);
        entry.headerRead = true;
    }
    return entry.headerRead;
}

int MountIndex::Stat(int id, struct stat &st) {
    std::lock_guard<std::mutex> hold(lock_);
    std::memset(&st, 0, sizeof(st));
    MountEntry &entry = entries_[id];
    st.st_ino = static_cast<ino_t>(id) + 1;
    st.st_uid = getuid();
    st.st_gid = getgid();
    st.st_mtime = entry.site >= 0 ? sites_[entry.site].signature.st_mtime : started_;
    if (entry.folder) {
        st.st_mode = S_IFDIR | 0555;
        st.st_nlink = 2;
    } else {
        // With decode the size depends on the header: a view that failed just
        // now must not give the kernel a size it keeps for an hour.
        if (!ReadHeaderLocked(entry) && decode_ && !entry.sized && entry.extracted.empty()) {
            return -EIO;
        }
        // Decoded sizes are known once decoded: an encoded body is decoded
        // on its first stat.
        if (decode_ && !entry.sized && entry.extracted.empty() &&
            !(entry.header.contentEncoding.empty() && entry.header.transferEncoding.empty()) &&
            OpenBodyLocked(entry) >= 0) {
            CloseBodyLocked(entry);
        }
        st.st_mode = S_IFREG | 0444;
        st.st_nlink = 1;
        st.st_size = static_cast<off_t>(entry.size);
        if (entry.header.time) {
            st.st_mtime = *entry.header.time;
        }
    }
    st.st_atime = st.st_mtime;
    st.st_ctime = st.st_mtime;
    st.st_blocks = (st.st_size + 511) / 512;
    return 0;
}

bool MountIndex::IsFolder(int id) {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_[id].folder;
}

int MountIndex::List(int id, std::vector<std::pair<std::string, int>> &names) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!entries_[id].folder) {
        return -ENOTDIR;
    }
    ListLocked(id);
    for (const auto &[name, child] : entries_[id].children) {
        names.emplace_back(name, child);
    }
    return 0;
}

int MountIndex::Attribute(int id, const std::string &attribute, std::string &value) {
    std::lock_guard<std::mutex> hold(lock_);
    MountEntry &entry = entries_[id];
    if (entry.folder || !ReadHeaderLocked(entry)) {
        return -ENODATA;
    }
    if (attribute == "user.http.header") {
        value = entry.header.text;
    } else if (attribute == "user.http.status") {
        value = entry.header.status;
    } else if (attribute == "user.http.content_type") {
        value = entry.header.contentType;
    } else {
        return -ENODATA;
    }
    return value.empty() ? -ENODATA : 0;
}

int MountIndex::AttributeNames(int id, std::vector<std::string> &names) {
    static const char *const kNames[] = {"user.http.header", "user.http.status",
                                         "user.http.content_type"};
    for (const char *name : kNames) {
        std::string value;
        if (Attribute(id, name, value) == 0) {
            names.push_back(name);
        }
    }
    return 0;
}

} // namespace qvork_host
