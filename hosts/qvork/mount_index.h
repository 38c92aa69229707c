// What `qvork mount` shows: the cache as a tree of folders and files, read
// from the plug-in through one Session as the file manager reads a panel
// (listings from GetFindData, headers through the header view, bodies
// through GetFiles) and kept once read. Folders are listed on their first
// visit, headers read on first need, a body extracted into a private folder
// the first time its file is opened (a folder whose name SetDirectory takes
// as a move, ".." or "\", is copied out whole when its parent is listed).
//
// Invariants:
//  1. The plug-in has one state and no threads: every call into it, and
//     every change to the tree, happens under `lock_`. Only reads of an
//     extracted body (pread on its descriptor) run outside it.
//  2. Entries are never removed or moved once made (a deque): ids and
//     references stay valid for the life of the index.
//  3. Names are the ones `qvork get` of the whole site writes (WrittenName),
//     unique within a folder: a later item whose name an earlier one took
//     is numbered (NumberedName) in listing order, as the copy numbers it.
#ifndef QVORK_HOSTS_MOUNT_INDEX_H
#define QVORK_HOSTS_MOUNT_INDEX_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hosts/qvork/mount_header.h"
#include "hosts/qvork/session.h"

namespace qvork_host {

// One site: of the cache root, or the one site file opened.
struct MountSite {
    std::string rawName;   // the site name as the plug-in lists it
    std::string cacheFile; // the site file's name in the cache folder ("cache7")
    std::string filePath;  // that file on disk, watched for changes
    struct stat signature; // the file when the mount started
    bool changed = false;  // reported once
};

struct MountEntry {
    std::string name;    // as `get` writes it
    bool folder = false;
    uint64_t size = 0;   // the stored body's length (files); once `sized`, what is served
    int parent = -1;     // the entry id of the folder holding it; -1 for the top
    int site = -1;       // index in the sites; -1 for a cache folder's top
    // The raw names below the site that lead the plug-in to this entry.
    std::vector<std::string> source;
    int item = -1; // its place in the plug-in's listing of its folder (names may be cut alike)
    // Set when the entry lies below a folder SetDirectory cannot enter (named
    // ".." or "\"): that folder was copied out whole, and this is the
    // entry's copy on disk.
    std::string extracted;
    bool listed = false;               // children read
    std::map<std::string, int> children;
    std::map<std::string, unsigned> lastNumber; // written name: its last "~N" given here
    bool headerRead = false;
    HeaderFacts header;                // when headerRead
    int bodyFd = -1;                   // the extracted body while cached; -1 when not
    int opens = 0;                     // open handles on bodyFd
    bool sized = false;                // `size` is what the file serves (once opened)
};

class MountUi;

// Failures come back as -errno, the file system's answer.
class MountIndex {
public:
    // With `decode`, files serve (and are the size of) their bodies decoded
    // as `qvork get --decode` writes them.
    // Bodies are copied out into `workFolder`, small ones into
    // `memoryFolder` (tmpfs where there is one).
    MountIndex(const PluginModule &module, const std::string &workFolder,
               const std::string &memoryFolder, bool decode);
    ~MountIndex();
    MountIndex(const MountIndex &) = delete;
    MountIndex &operator=(const MountIndex &) = delete;

    // Opens the panel on `source` (a cache folder, its icache folder or one
    // site file) and lists its sites; false with `error` set when the
    // plug-in lists none it can open.
    bool Start(const std::string &source, std::string &error);
    // Closes the panel; called once, before the module goes.
    void Stop();

    // The entry at `path` ("/", "/site/a/b"); -errno when there is none.
    int Lookup(const std::string &path);
    bool IsFolder(int id);
    // Fills `st` for entry `id` (reads the header of a file on first need).
    int Stat(int id, struct stat &st);
    // The names in folder `id`, each with its entry id.
    int List(int id, std::vector<std::pair<std::string, int>> &names);
    // A descriptor holding the body of file `id` (decoded with `decode`),
    // extracted on the first call; -errno on failure. Each success is
    // matched by one CloseBody.
    int OpenBody(int id);
    // One handle of OpenBody is done; bodies beyond the cache's budget go.
    void CloseBody(int id);
    // The header fact `attribute` ("user.http.header", ...) of file `id`.
    int Attribute(int id, const std::string &attribute, std::string &value);
    // The attribute names file `id` has.
    int AttributeNames(int id, std::vector<std::string> &names);

    // Called, outside any FUSE request, when a site file changed under the
    // mount so that it can no longer be followed.
    void SetOnSiteChanged(std::function<void(const std::string &)> callback) {
        onSiteChanged_ = std::move(callback);
    }
    // The messages the plug-in showed (damaged sites, failed copies).
    static void Warn(const std::string &text);
    // Warnings said from now on start with `prefix`; none when `quiet`.
    static void SetWarnings(const char *prefix, bool quiet);
    // From now on warnings go to the system log too (a mount in the background).
    static void SendWarningsToSystemLog();

private:
    int ListLocked(int id);
    void ListExtracted(int id);
    void ExtractFolder(int id, int item);
    bool ReadHeaderLocked(MountEntry &entry);
    bool GoTo(int site, const std::vector<std::string> &names);
    bool LeaveSite();
    bool SiteUnchanged(int site);
    int AddChild(int parentId, const std::string &rawName, bool folder, uint64_t size,
                 const std::vector<std::string> &source);
    bool HasChildren(const std::string &rawName);
    // Whether SetDirectory enters the listed folder `items[index]` itself.
    bool EntersAlone(const std::vector<std::pair<std::string, PluginPanelItem>> &items, size_t index);
    // The listed item of `entry` in the folder the session is at; -1 when none.
    int ItemOf(const MountEntry &entry) const;
    int ExtractLocked(MountEntry &entry);
    int DecodeLocked(MountEntry &entry, int stored);
    int OpenBodyLocked(MountEntry &entry);
    void CloseBodyLocked(MountEntry &entry);

    std::string workFolder_;
    std::string memoryFolder_;
    bool decode_;
    std::mutex lock_;
    Session session_;
    std::vector<MountSite> sites_;
    std::deque<MountEntry> entries_;
    int currentSite_ = -1;           // where the session is: -1 the root
    std::vector<std::string> where_; // raw names below the current site
    unsigned extractions_ = 0;
    std::function<void(const std::string &)> onSiteChanged_;
    std::unique_ptr<MountUi> ui_;
    time_t started_ = 0;
    uint64_t cachedBytes_ = 0; // bodies held in bodyFd
    int cachedBodies_ = 0;     // entries holding a bodyFd
};

} // namespace qvork_host

#endif
