#include "bench_host.h"

#include <stdexcept>

namespace qvork_bench {

BenchHost::BenchHost(const std::string &modulePath) {
    std::string error;
    if (!Load(modulePath, error))
        throw std::runtime_error(error);
    if (!FreeFindData || !SetDirectory || !GetFiles)
        throw std::runtime_error(modulePath + ": " + Error());
    KeepLoaded();
    static const PluginStartupInfo info = StartupInfo(modulePath, 1, "Software\\qvork-bench\\Plugins");
    SetStartupInfo(&info);
}

void BenchHost::ShowPanel(PluginPanelItem *items, int count, int current) {
    panel_.items = items;
    panel_.count = count;
    panel_.current = current;
}

int BenchHost::Message(int, DWORD, const char *, const char *const *, int, int buttons) {
    counters_.messages++;
    if (buttons > 0)
        counters_.warnings++;
    return 0;
}

int BenchHost::Control(HANDLE plugin, int command, void *param) {
    counters_.controls++;
    return HostServices::Control(plugin, command, param);
}

HANDLE BenchHost::SaveScreen(int, int, int, int) {
    counters_.saveScreens++;
    return reinterpret_cast<HANDLE>(1);
}

bool BenchHost::Panel(HANDLE, qvork_host::PanelShown &shown) {
    shown = panel_;
    return true;
}

int FindRootItem(const PluginPanelItem *items, int count, const std::string &siteName) {
    for (int i = 0; i < count; i++) {
        if (siteName == items[i].FindData.cFileName)
            return i;
    }
    return -1;
}

} // namespace qvork_bench
