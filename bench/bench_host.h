// The smallest host that can drive qvork.so for the benchmarks, on the host
// library (hosts/common/): its loader, and services whose Message,
// SaveScreen and Control only count what the plug-in asks, the panel shown
// being the root listing with the site being entered as the current item.
#ifndef QVORK_BENCH_BENCH_HOST_H
#define QVORK_BENCH_BENCH_HOST_H

#include <string>

#include "hosts/common/host_services.h"
#include "hosts/common/plugin_module.h"

namespace qvork_bench {

struct HostCounters {
    long messages = 0;    // Message calls (progress steps and warnings)
    long warnings = 0;    // of them, calls with buttons: ShowError boxes
    long saveScreens = 0;
    long controls = 0;
};

// The loaded module's entry points, and the services it calls back.
class BenchHost : public qvork_host::PluginModule, public qvork_host::HostServices {
  public:
    // Loads `modulePath` (kept loaded until the process ends, as in the
    // file manager) and calls SetStartupInfo; throws on failure.
    explicit BenchHost(const std::string &modulePath);

    // What FCTL_GETPANELINFO reports until the next call.
    void ShowPanel(PluginPanelItem *items, int count, int current);

    HostCounters &Counters() { return counters_; }

    int Message(int, DWORD, const char *, const char *const *, int, int buttons) override;
    int Control(HANDLE plugin, int command, void *param) override;
    HANDLE SaveScreen(int, int, int, int) override;

  protected:
    bool Panel(HANDLE plugin, qvork_host::PanelShown &shown) override;

  private:
    HostCounters counters_;
    qvork_host::PanelShown panel_;
};

// The index of the root item named `siteName`, or -1.
int FindRootItem(const PluginPanelItem *items, int count, const std::string &siteName);

} // namespace qvork_bench

#endif
