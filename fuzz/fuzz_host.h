// The fuzz host: what the file manager would be to the plug-in, without a
// screen, for the libFuzzer targets that drive the entry points directly.
//
// Set up once per process (FuzzSetUp, from LLVMFuzzerInitialize):
//   <root>/registry.reg         the registry file (QVORK_REGISTRY), whose
//                               CachePath names <root>/cache
//   <root>/cache/icache/        cache1 and cache2, two ordinary sites, and
//                               cache7, rewritten with the fuzzed bytes
//   <root>/tmp/                 TMPDIR: the header viewer's temporary files
//   <root>/work/dest/           the copy destination (emptied every run)
//   <root>/work/sentinel/       must stay empty
//   <root>/work/sentinel.txt    must stay as it is
// <root> is a fresh folder qvork-fuzz-PID-XXXXXX under $QVORK_FUZZ_TMP, else
// /dev/shm, else $TMPDIR, else /tmp; it is removed at exit unless
// QVORK_FUZZ_KEEP is set, and by a later run when its process is gone.
//
// Host services: Message answers 0 for a one-button box and -1 otherwise,
// Dialog -1, GetMsg "", SaveScreen/RestoreScreen do nothing, Control
// FCTL_GETPANELINFO answers with the listing set by SetPanel, and Viewer
// reads the file it is given and deletes it (as VF_DELETEONCLOSE asks).
//
// The write guard: while armed, every call the plug-in's platform layer makes
// to create, truncate, remove or rename a file must name a path inside one of
// the allowed folders (after resolving its parent folder) and end in a name
// that every platform creates as given (not "." or "..", no trailing dot or
// space, no character or device name Windows refuses), or the process aborts
// with the offending path. The guard puts its checks into the layer's table
// of system calls (platform/linux/system_calls.h). fwrite counts bytes
// against a quota; past it, writes fail with ENOSPC as on a full disk, which
// keeps a run cheap.
#ifndef QVORK_FUZZ_FUZZ_HOST_H
#define QVORK_FUZZ_FUZZ_HOST_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "host/entry_points.h"

namespace qvork_fuzz {

struct Layout {
    std::string root;
    std::string cacheFolder; // <root>/cache/icache
    std::string fuzzedSite;  // <root>/cache/icache/cache7
    std::string tmp;         // <root>/tmp
    std::string work;        // <root>/work
    std::string dest;        // <root>/work/dest
    std::string sentinel;    // <root>/work/sentinel
};

extern const char kFuzzedFileName[]; // "cache7"

// Creates the layout, the registry file and the ordinary sites, and hands
// the plug-in its startup record. Safe to call more than once.
const Layout &FuzzSetUp();

// Replaces cache7 with `size` bytes of `data`.
void WriteFuzzedSite(const uint8_t *data, size_t size);

// The listing Control(FCTL_GETPANELINFO) answers with; NULL: the call fails.
void SetPanel(struct PluginPanelItem *items, int count, int current);

// Aborts with `what` when `condition` is false.
void Check(bool condition, const char *what);

// The write guard (see above).
void ArmWriteGuard(const std::vector<std::string> &allowedFolders, size_t byteQuota);
void DisarmWriteGuard();

// An item's name: cFileName up to its terminator or its 260 bytes.
std::string ItemName(const struct PluginPanelItem &item);
// The CurDir that GetOpenPluginInfo reports.
std::string CurDir(HANDLE panel);

// The root listing, checked: every entry of the cache folder listed once, as
// a folder, with a Description that is NULL or the entry's file name.
// Returns the index of the fuzzed site's item (-1 when not found).
int CheckedRootListing(HANDLE panel, struct PluginPanelItem **items, int *count);

// Enters the item `index` of the root listing as the file manager does:
// SetDirectory with its name while the panel's current item is `current`
// (the same item, or another one, as after typing a folder's name).
// TRUE when entered.
bool EnterSite(HANDLE panel, struct PluginPanelItem *rootItems, int count, int index, int current);

// Walks the whole tree of the entered site, depth first: lists the folder
// shown, hands the live listing to `visit` (which may call entry points but
// must leave the position as it found it), then enters every item by name,
// walks it, and comes back with "..". Every move is checked against CurDir.
// Returns with the position where it started.
void WalkSite(HANDLE panel, const std::function<void(struct PluginPanelItem *, int)> &visit);

// Leaves the site from its top folder and checks the held root listing
// comes back without a new scan.
void LeaveSite(HANDLE panel, struct PluginPanelItem *rootItems, int rootCount);

// Every file and folder under `folder` (paths relative to it, with type,
// size and modification time), skipping the relative paths in `skip`.
std::vector<std::string> Snapshot(const std::string &folder, const std::vector<std::string> &skip);

// Removes everything inside `folder`, leaving it empty.
void EmptyFolder(const std::string &folder);

} // namespace qvork_fuzz

#endif
