// Copying the fuzzed site out: GetFiles of the whole site from the root into
// <dest>/wwww...w, then inside the site GetFiles of every item of its top
// folder into <dest>/iiii...i, and Shift+F3 on every file of every folder (the host's
// panel answering with that item as current). Before the copy inside the
// site, a link into the sentinel folder lies at the name of each file item.
// The write guard allows only the destination and the viewer's temporary
// folder, caps the bytes written, and refuses a write through a link or over
// a file written earlier in the same run; afterwards everything outside them
// must be as it was, the sentinel folder empty and every temporary header
// file deleted.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "fuzz_host.h"

using namespace qvork_fuzz;

namespace {

const size_t kByteQuota = 8u << 20;

// Both destination paths are padded to this many characters, so the path
// cuts (at 260 characters) fall at the same place of an input wherever the
// temporary folder is, and a finding reproduces anywhere.
const size_t kDestPathLength = 120;

std::string PaddedDestination(const std::string &dest, char fill)
{
    std::string path = dest + "/" + fill;
    if (path.size() < kDestPathLength)
        path.append(kDestPathLength - path.size(), fill);
    return path;
}

void CheckFlagsAfterCopy(int result, const std::vector<struct PluginPanelItem> &items)
{
    bool allDeselected = true;
    for (const struct PluginPanelItem &item : items) {
        Check(item.Flags == 0 || item.Flags == PPIF_SELECTED, "GetFiles sets Flags to 0 or keeps them");
        allDeselected = allDeselected && item.Flags == 0;
    }
    Check((result == TRUE) == allDeselected, "GetFiles is TRUE exactly when every item was written");
}

// A name that lands unchanged in the destination (nothing to clean or cut).
bool PortableLinkName(const std::string &name)
{
    if (name.empty() || name.size() > 100 || name.back() == '.' || name.back() == ' ')
        return false;
    for (unsigned char c : name) {
        if (c < 32 || strchr("<>:\"|?*\\/+", c) != NULL)
            return false;
    }
    return name.find_first_not_of('.') != std::string::npos;
}

void ShiftF3OnFiles(HANDLE panel, struct PluginPanelItem *items, int count)
{
    for (int i = 0; i < count; i++) {
        bool file = (items[i].FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        SetPanel(items, count, i);
        int handled = ProcessKey(panel, KEY_CODE_F3, PKF_SHIFT);
        SetPanel(NULL, 0, 0);
        Check(handled == (file ? TRUE : FALSE), "Shift+F3 views files and leaves folders to the host");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Layout &layout = FuzzSetUp();
    WriteFuzzedSite(data, size);
    const std::vector<std::string> outside = {"cache/icache/" + std::string(kFuzzedFileName),
                                              "work/dest", "tmp"};
    std::vector<std::string> before = Snapshot(layout.root, outside);
    EmptyFolder(layout.dest);
    std::string whole = PaddedDestination(layout.dest, 'w');
    std::string inSite = PaddedDestination(layout.dest, 'i');
    Check(mkdir(whole.c_str(), 0777) == 0 && mkdir(inSite.c_str(), 0777) == 0, "destinations");

    ArmWriteGuard({layout.dest, layout.tmp}, kByteQuota);
    HANDLE panel = OpenPlugin(0, 0);
    struct PluginPanelItem *root = NULL;
    int rootCount = 0;
    int fuzzed = CheckedRootListing(panel, &root, &rootCount);
    Check(fuzzed >= 0, "cache7 is listed");

    // The whole site, from the root: loaded, copied, unloaded again.
    std::vector<struct PluginPanelItem> selected(1, root[fuzzed]);
    selected[0].Flags = PPIF_SELECTED;
    SetPanel(root, rootCount, fuzzed);
    int result = GetFiles(panel, selected.data(), 1, 0, &whole[0], 0);
    SetPanel(NULL, 0, 0);
    CheckFlagsAfterCopy(result, selected);
    Check(CurDir(panel).empty(), "a whole-site copy leaves the panel at the root");
    struct PluginPanelItem *again = NULL;
    int againCount = 0;
    GetFindData(panel, &again, &againCount, 0);
    Check(again == root && againCount == rootCount, "a whole-site copy keeps the held listing");

    // Inside the site: the top folder's items, then Shift+F3 everywhere.
    if (EnterSite(panel, root, rootCount, fuzzed, fuzzed)) {
        struct PluginPanelItem *items = NULL;
        int count = 0;
        GetFindData(panel, &items, &count, 0);
        std::vector<struct PluginPanelItem> copies(items, items + count);
        for (struct PluginPanelItem &item : copies) {
            item.Flags = PPIF_SELECTED;
            std::string name(item.FindData.cFileName, strnlen(item.FindData.cFileName, MAX_PATH));
            // A link the copy must replace, never write through.
            if ((item.FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                PortableLinkName(name))
                symlink((layout.sentinel + "/" + name).c_str(), (inSite + "/" + name).c_str());
        }
        result = GetFiles(panel, copies.data(), count, 0, &inSite[0], OPM_SILENT);
        CheckFlagsAfterCopy(result, copies);
        FreeFindData(panel, items, count);
        WalkSite(panel, [panel](struct PluginPanelItem *listing, int n) {
            ShiftF3OnFiles(panel, listing, n);
        });
        LeaveSite(panel, root, rootCount);
    }
    ClosePlugin(panel);
    DisarmWriteGuard();

    Check(Snapshot(layout.root, outside) == before, "nothing changed outside the destination");
    Check(Snapshot(layout.tmp, {}).empty(), "every temporary header file was deleted");
    Check(Snapshot(layout.sentinel, {}).empty(), "the sentinel folder stays empty");
    EmptyFolder(layout.dest);
    return 0;
}
