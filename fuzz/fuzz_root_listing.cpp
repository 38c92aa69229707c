// The root listing of a cache folder that holds the fuzzed bytes as the site
// file cache7, beside two ordinary sites: OpenPlugin, GetFindData (read
// twice: the second must be the held listing), a re-read key, GetFindData
// again, SetDirectory into cache7's site while the host's panel query fails,
// ClosePlugin.
// Reading the cache never writes anywhere.
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
    Check(CurDir(panel).empty(), "CurDir is empty at the root");
    struct PluginPanelItem *items = NULL;
    int count = 0;
    CheckedRootListing(panel, &items, &count);
    struct PluginPanelItem *again = NULL;
    int againCount = 0;
    Check(GetFindData(panel, &again, &againCount, OPM_SILENT) == TRUE, "second root read");
    Check(again == items && againCount == count, "the second root read is the held listing");
    FreeFindData(panel, items, count);
    // R drops the held listing; the next read scans again.
    Check(ProcessKey(panel, KEY_CODE_R, 0) == FALSE, "R is left to the host");
    int fuzzed = CheckedRootListing(panel, &items, &count);
    Check(fuzzed >= 0, "cache7 is listed");
    // SetDirectory while the host's panel query fails: no site file is read.
    std::string name = ItemName(items[fuzzed]);
    SetPanel(NULL, 0, 0);
    SetDirectory(panel, name.c_str(), OPM_SILENT);
    struct PluginPanelItem *after = NULL;
    int afterCount = 0;
    Check(GetFindData(panel, &after, &afterCount, 0) == TRUE, "GetFindData after a blind entry");
    FreeFindData(panel, after, afterCount);
    FreeFindData(panel, items, count);
    ClosePlugin(panel);
    DisarmWriteGuard();
    return 0;
}
