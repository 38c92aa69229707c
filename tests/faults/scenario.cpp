// A whole life of the plug-in in one process, as a host drives it: load,
// menus, open, list the cache root, enter a site and walk every folder,
// Shift+F3, copy entries and whole sites (also ones that fail: a cut site
// file, a full disk), delete a site, re-read, settings, a second panel that
// leaves the first one's items stale, close, unload. Every step's outcome is
// checked. scripts/valgrind-scenario.sh runs it under valgrind memcheck in a
// build without sanitizers, where any invalid access, use of uninitialised
// memory or leaked block fails the run; CTest also runs it as it is.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "recording_host.h"
#include "registry_sandbox.h"
#include "temp_cache.h"
#include "test_files.h"

namespace fs = std::filesystem;
using namespace qvork_test;

namespace {

const int kF3 = 114;
const int kR = 82;
const int kOkButton = 5;
const char kHome[] = "<html>home</html>";

int checks = 0;
int failures = 0;

void Check(bool held, const std::string &what) {
    ++checks;
    if (!held) {
        ++failures;
        std::fprintf(stderr, "scenario: FAILED: %s\n", what.c_str());
    }
}

std::string Bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    return bytes;
}

class Scenario {
  public:
    void Run();

  private:
    std::vector<PluginPanelItem> Read(HANDLE panel) {
        PluginPanelItem *items = nullptr;
        int count = 0;
        Check(plugin.GetFindData(panel, &items, &count, 0) == TRUE, "GetFindData");
        std::vector<PluginPanelItem> copy(items, items + (items && count > 0 ? count : 0));
        plugin.FreeFindData(panel, items, count);
        return copy;
    }

    void Show(const std::vector<PluginPanelItem> &items, const std::string &current) {
        host.panel = PanelShowing(items, current);
    }

    std::vector<PluginPanelItem> Pick(const std::vector<PluginPanelItem> &items,
                                      const std::vector<std::string> &names) {
        std::vector<PluginPanelItem> chosen = SelectByName(items, names);
        Check(chosen.size() == names.size(), "every item to pick is listed");
        return chosen;
    }

    int Get(HANDLE panel, std::vector<PluginPanelItem> &items, const fs::path &to) {
        std::string path = to.string();
        return plugin.GetFiles(panel, items.data(), static_cast<int>(items.size()), 0, &path[0], 0);
    }

    // Lists the folder shown, enters every folder in it and comes back; the
    // number of files below.
    int Walk(HANDLE panel, int depth) {
        int files = 0;
        const std::vector<PluginPanelItem> items = Read(panel);
        for (const PluginPanelItem &item : items) {
            if ((item.FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                ++files;
                continue;
            }
            Check(plugin.SetDirectory(panel, NameOf(item).c_str(), 0) == TRUE, "enter " + NameOf(item));
            files += Walk(panel, depth + 1);
            Check(plugin.SetDirectory(panel, "..", 0) == TRUE, "leave " + NameOf(item));
        }
        return files;
    }

    RegistrySandbox registry;
    CacheDir cache;
    TempDir work{"qvork-scenario"};
    RecordingHost host;
    PluginModule plugin;
};

void Scenario::Run() {
    const std::string big = Bytes(120001, 1);
    const std::string logo = Bytes(256, 2);
    cache.WriteSite("cache1", "www.example.com",
                    {OkRecord("index.html", kHome),
                     OkRecord("img/logo.gif", logo, "image/gif"), OkRecord("big.bin", big),
                     OkRecord("a/b/c.txt", "deep"), OkRecord("a/b/d.txt", ""),
                     OkRecord("a/x.txt", "x")});
    cache.WriteSite("cache2", "news.example.org", {OkRecord("feed.xml", "<rss/>")});
    SiteFileOptions cut;
    cut.padTail = false;
    const SiteFileImage whole = BuildSiteFile("cut.example", {OkRecord("a.txt", Bytes(3000, 3)),
                                                              OkRecord("b.txt", Bytes(3000, 4))},
                                              cut);
    cut.truncateAt = static_cast<size_t>(whole.records[1].bodyOffset) + 1000;
    cache.WriteSite("cache3", "cut.example",
                    {OkRecord("a.txt", Bytes(3000, 3)), OkRecord("b.txt", Bytes(3000, 4))}, cut);
    cache.WriteRaw("cache4", "not a site file");
    registry.SetCachePath(cache.CachePathValue());

    Check(plugin.Loaded(), "the module loads: " + plugin.Error());
    if (!plugin.Loaded()) return;
    const PluginStartupInfo info = host.StartupInfo();
    plugin.SetStartupInfo(&info);
    Check(plugin.GetMinFarVersion() != 0, "GetMinFarVersion");
    PluginInfo menus{};
    plugin.GetPluginInfo(&menus);
    Check(menus.DiskMenuStringsNumber == 1 && menus.PluginMenuStringsNumber == 0, "default menus");

    // List, enter, walk.
    HANDLE panel = plugin.OpenPlugin(0, 0);
    OpenPluginInfo panelInfo{};
    plugin.GetOpenPluginInfo(panel, &panelInfo);
    std::vector<PluginPanelItem> root = Read(panel);
    Check(root.size() == 4, "four root items");
    Show(root, "www.example.com");
    Check(plugin.SetDirectory(panel, "www.example.com", 0) == TRUE, "enter the site");
    Check(Walk(panel, 0) == 6, "six files in the site");

    // Shift+F3 on a file.
    const std::vector<PluginPanelItem> top = Read(panel);
    Show(top, "index.html");
    Check(plugin.ProcessKey(panel, kF3, PKF_SHIFT) == TRUE, "Shift+F3");
    Check(host.viewers.size() == 1 &&
              host.viewers[0].contents == OkRecord("index.html", kHome).header,
          "the header is viewed");
    for (const ViewerCall &call : host.viewers) fs::remove(call.fileName);

    // Copies inside the site, then of whole sites from the root.
    const fs::path out = work.Path() / "out";
    fs::create_directories(out);
    std::vector<PluginPanelItem> entries = Pick(top, {"big.bin", "a", "img"});
    Check(Get(panel, entries, out) == TRUE, "copy entries");
    Check(ReadWhole(out / "big.bin") == big && ReadWhole(out / "a" / "b" / "c.txt") == "deep" &&
              ReadWhole(out / "img" / "logo.gif") == logo,
          "copied bodies");
    Check(plugin.SetDirectory(panel, "..", 0) == TRUE, "back to the root");
    root = Read(panel);
    std::vector<PluginPanelItem> sites = Pick(root, {"www.example.com", "news.example.org"});
    fs::create_directories(out / "sites");
    Check(Get(panel, sites, out / "sites") == TRUE, "copy whole sites");
    Check(ReadWhole(out / "sites" / "news.example.org" / "feed.xml") == "<rss/>", "copied site");

    // A copy that fails: a cut site file; a link at a target name is replaced.
    host.ClearRecords();
    std::vector<PluginPanelItem> damaged = Pick(root, {"cut.example"});
    fs::create_directories(out / "cut");
    Check(Get(panel, damaged, out / "cut") == FALSE, "a cut site fails");
    Check(host.Warnings().size() == 2, "the cut entry is reported");
    if (access("/dev/full", W_OK) == 0) {
        fs::create_directories(out / "full" / "www.example.com");
        fs::create_symlink("/dev/full", out / "full" / "www.example.com" / "big.bin");
        std::vector<PluginPanelItem> site = Pick(root, {"www.example.com"});
        Check(Get(panel, site, out / "full") == TRUE, "a link at a target name is no obstacle");
        Check(!fs::is_symlink(out / "full" / "www.example.com" / "big.bin"),
              "the link is replaced, not written through");
    }

    // Delete, re-read.
    host.ClearRecords();
    host.messageAnswers.push_back(0);
    std::vector<PluginPanelItem> doomed = Pick(root, {"news.example.org"});
    Check(plugin.DeleteFiles(panel, doomed.data(), 1, 0) == TRUE, "delete a site");
    Check(!fs::exists(cache.PathOf("cache2")), "its file is gone");
    Check(plugin.ProcessKey(panel, kR, 0) == FALSE, "R re-reads at the root");
    Check(Read(panel).size() == 3, "three root items after the re-read");

    // Settings.
    host.dialogScript = [](std::vector<FarDialogItem> &items) {
        items[1].Selected = 1;
        std::snprintf(items[3].Data, sizeof items[3].Data, "7");
        return kOkButton;
    };
    Check(plugin.Configure(0) == 1, "Configure Ok");
    plugin.GetPluginInfo(&menus);
    Check(menus.PluginMenuStringsNumber == 1, "the Plugins menu entry after Ok");

    // A second panel leaves the first one's items stale.
    root = Read(panel);
    Show(root, "www.example.com");
    Check(plugin.SetDirectory(panel, "www.example.com", 0) == TRUE, "enter again");
    std::vector<PluginPanelItem> stale = Read(panel);
    HANDLE second = plugin.OpenPlugin(0, 0);
    Read(second);
    std::vector<PluginPanelItem> staleFiles = Pick(stale, {"index.html", "a"});
    fs::create_directories(out / "stale");
    Check(Get(panel, staleFiles, out / "stale") == FALSE, "stale items are not copied");
    Check(fs::is_empty(out / "stale"), "nothing copied for stale items");
    Show(stale, "index.html");
    Check(plugin.ProcessKey(panel, kF3, PKF_SHIFT) == FALSE, "no header for a stale item");
    plugin.ClosePlugin(second);
    std::vector<PluginPanelItem> staleRoot = Read(panel);
    HANDLE third = plugin.OpenPlugin(0, 0);
    Read(third);
    Show(staleRoot, "www.example.com");
    Check(plugin.SetDirectory(panel, "www.example.com", 0) == FALSE, "a stale root item");
    plugin.ClosePlugin(third);
    Read(panel);
    plugin.ClosePlugin(panel);
    Check(plugin.Unload(), "the module unloads");
}

} // namespace

int main() {
    {
        Scenario scenario;
        scenario.Run();
    }
    if (failures == 0)
        std::printf("scenario: all %d checks held\n", checks);
    else
        std::printf("scenario: %d of %d checks failed\n", failures, checks);
    return failures == 0 ? 0 : 1;
}
