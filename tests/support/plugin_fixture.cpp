#include "plugin_fixture.h"

#include <algorithm>

namespace qvork_test {

std::string NameOf(const PluginPanelItem &item) {
    const char *name = item.FindData.cFileName;
    return std::string(name, std::find(name, name + sizeof item.FindData.cFileName, '\0'));
}

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
    plugin = std::make_unique<PluginModule>();
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

void PluginTest::SetUp() {
    LoadedPluginTest::SetUp();
    if (HasFatalFailure()) return;
    panel = Open();
}

} // namespace qvork_test
