// Entering the fuzzed site by name (another item current) and walking its
// whole tree: every item of every
// folder entered by name and listed, ".." back out of each, then down the
// first chain and "\" to the top folder, and ".." out of the site, which
// must bring back the held root listing; then the file opened as from a file
// panel (OpenFilePlugin). Reading never writes anywhere.
#include "fuzz_host.h"

using namespace qvork_fuzz;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSetUp();
    WriteFuzzedSite(data, size);
    ArmWriteGuard({}, 0);
    HANDLE panel = OpenPlugin(0, 0);
    struct PluginPanelItem *root = NULL;
    int rootCount = 0;
    int fuzzed = CheckedRootListing(panel, &root, &rootCount);
    Check(fuzzed >= 0, "cache7 is listed");
    // Another item current: the site is found by its name in the held listing.
    if (EnterSite(panel, root, rootCount, fuzzed, (fuzzed + 1) % rootCount)) {
        WalkSite(panel, nullptr);
        LeaveSite(panel, root, rootCount);
    }
    ClosePlugin(panel);
    // The same bytes as the first bytes an ordinary panel hands over on
    // Enter: refused, or a panel on the site's top folder.
    std::string name = FuzzSetUp().fuzzedSite;
    HANDLE own = OpenFilePlugin(&name[0], data, (int)(size < 0x10000 ? size : 0x10000));
    if (own != INVALID_HANDLE_VALUE) {
        struct PluginPanelItem *items = NULL;
        int count = -1;
        Check(GetFindData(own, &items, &count, 0) == TRUE, "a site file's panel lists");
        FreeFindData(own, items, count);
        Check(CurDir(own).empty(), "a site file's panel opens on its top folder");
        ClosePlugin(own);
    }
    DisarmWriteGuard();
    return 0;
}
