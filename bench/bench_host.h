// The smallest host that can drive qvork.so for the benchmarks: it loads the
// module with dlopen as the file manager loads a plug-in, hands it a startup
// record whose Message, SaveScreen and RestoreScreen do nothing (they only
// count), and answers FCTL_GETPANELINFO with the panel it was told to show:
// the root listing with the site being entered as the current item.
#ifndef QVORK_BENCH_BENCH_HOST_H
#define QVORK_BENCH_BENCH_HOST_H

#include <string>

#include "host/entry_points.h"

namespace qvork_bench {

struct HostCounters {
    long messages = 0;    // Message calls (progress steps and warnings)
    long warnings = 0;    // of them, calls with buttons: ShowError boxes
    long saveScreens = 0;
    long controls = 0;
};

class BenchHost {
  public:
    // Loads `modulePath` and calls SetStartupInfo; throws on failure.
    explicit BenchHost(const std::string &modulePath);
    ~BenchHost();
    BenchHost(const BenchHost &) = delete;
    BenchHost &operator=(const BenchHost &) = delete;

    // What FCTL_GETPANELINFO reports until the next call.
    void ShowPanel(PluginPanelItem *items, int count, int current);

    HostCounters &Counters();

    SetStartupInfoFn SetStartupInfo = nullptr;
    OpenPluginFn OpenPlugin = nullptr;
    ClosePluginFn ClosePlugin = nullptr;
    GetFindDataFn GetFindData = nullptr;
    FreeFindDataFn FreeFindData = nullptr;
    SetDirectoryFn SetDirectory = nullptr;
    GetFilesFn GetFiles = nullptr;

  private:
    void *handle_ = nullptr;
};

// The index of the root item named `siteName`, or -1.
int FindRootItem(const PluginPanelItem *items, int count, const std::string &siteName);

} // namespace qvork_bench

#endif
