#include "plugin_fixture.h"

#include <algorithm>

namespace qvork_test {

std::string DescriptionOf(const PluginPanelItem &item) {
    return item.Description ? std::string(item.Description) : std::string("<none>");
}

const PluginPanelItem *FindByName(const Listing &listing, const std::string &name) {
    const PluginPanelItem *found = nullptr;
    for (const PluginPanelItem &item : listing) {
        if (NameOf(item) != name) continue;
        EXPECT_EQ(found, nullptr) << "two items named " << name;
        found = &item;
    }
    return found;
}

std::vector<std::string> NamesOf(const Listing &listing) {
    std::vector<std::string> names;
    for (const PluginPanelItem &item : listing) names.push_back(NameOf(item));
    std::sort(names.begin(), names.end());
    return names;
}

void LoadedPluginTest::SetUp() {
    registry.SetCachePath(cache.CachePathValue());
    plugin = std::make_unique<PluginModule>(modulePath);
    ASSERT_TRUE(plugin->Loaded()) << plugin->Error();
    const PluginStartupInfo info = host.StartupInfo();
    plugin->SetStartupInfo(&info);
}

void LoadedPluginTest::TearDown() {
    if (!plugin) return;
    for (HANDLE panel : openPanels)
        if (plugin->ClosePlugin) plugin->ClosePlugin(panel);
    openPanels.clear();
    EXPECT_TRUE(plugin->Unload()) << "the module stayed loaded after its last reference went";
    plugin.reset();
    EXPECT_EQ(OrphanServiceCalls(), 0) << "host services called with no host current";
}

HANDLE LoadedPluginTest::Open() {
    HANDLE panel = plugin->OpenPlugin(0, 0);
    openPanels.push_back(panel);
    return panel;
}

void LoadedPluginTest::Close(HANDLE panel) {
    plugin->ClosePlugin(panel);
    openPanels.erase(std::remove(openPanels.begin(), openPanels.end(), panel), openPanels.end());
}

Listing LoadedPluginTest::FindData(HANDLE panel, int opMode) {
    Listing listing;
    listing.count = -12345; // must be overwritten
    listing.result = plugin->GetFindData(panel, &listing.items, &listing.count, opMode);
    return listing;
}

OpenPluginInfo LoadedPluginTest::InfoOf(HANDLE panel) {
    OpenPluginInfo info{};
    plugin->GetOpenPluginInfo(panel, &info);
    return info;
}

std::string LoadedPluginTest::CurDirOf(HANDLE panel) {
    const OpenPluginInfo info = InfoOf(panel);
    return info.CurDir ? info.CurDir : "<null>";
}

void PluginTest::SetUp() {
    LoadedPluginTest::SetUp();
    if (HasFatalFailure()) return;
    panel = Open();
}

void HostPanelTest::ReadRootIntoPanel() {
    const Listing listing = ReadRoot();
    root.assign(listing.begin(), listing.end());
}

void HostPanelTest::ShowInPanel(const std::vector<PluginPanelItem> &items,
                                const std::string &current) {
    host.panel = PanelShowing(items, current);
}

int HostPanelTest::EnterFrom(const std::vector<PluginPanelItem> &shown, const std::string &site) {
    ShowInPanel(shown, site);
    return plugin->SetDirectory(panel, site.c_str(), 0);
}

int HostPanelTest::Enter(const std::string &site) {
    if (root.empty()) ReadRootIntoPanel();
    return EnterFrom(root, site);
}

int HostPanelTest::Cd(const std::string &dir, int opMode) {
    return plugin->SetDirectory(panel, dir.c_str(), opMode);
}

std::vector<PluginPanelItem> HostPanelTest::List() {
    const Listing listing = FindData(panel);
    EXPECT_EQ(listing.result, TRUE);
    std::vector<PluginPanelItem> items(listing.begin(), listing.end());
    plugin->FreeFindData(panel, listing.items, listing.count);
    return items;
}

std::vector<std::string> HostPanelTest::Names() {
    std::vector<std::string> names;
    for (const PluginPanelItem &item : List()) names.push_back(NameOf(item));
    return names;
}

PluginPanelItem HostPanelTest::Item(const std::string &name) {
    for (const PluginPanelItem &item : List())
        if (NameOf(item) == name) return item;
    ADD_FAILURE() << name << " is not listed";
    return MakePanelItem("<not listed>");
}

std::vector<PluginPanelItem> HostPanelTest::Select(const std::vector<std::string> &names) {
    std::vector<std::string> unlisted;
    std::vector<PluginPanelItem> chosen = SelectByName(List(), names, &unlisted);
    for (const std::string &name : unlisted) ADD_FAILURE() << name << " is not listed";
    return chosen;
}

std::vector<std::string> HostPanelTest::WarningTexts() const {
    std::vector<std::string> texts;
    for (const MessageCall &call : host.Warnings())
        texts.push_back(call.items.size() > 1 ? call.items[1] : "<no text>");
    return texts;
}

} // namespace qvork_test
