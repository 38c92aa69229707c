// The demo cache that make_demo writes from demo/ is listed by the plug-in
// as the demo describes it: one folder per site, with its response count.
#include <gtest/gtest.h>

#include "demo_cache.h"
#include "plugin_fixture.h"

#ifndef QVORK_DEMO_DIR
#error "QVORK_DEMO_DIR must name the demo folder (set by tests/integration/CMakeLists.txt)"
#endif

namespace qvork_test {
namespace {

using DemoRootTest = LoadedPluginTest;

TEST_F(DemoRootTest, RootListsEveryDemoSiteWithItsResponses) {
    TempDir out("qvork-demo");
    const std::vector<qvork_demo::DemoFile> files =
        qvork_demo::BuildDemoCache(QVORK_DEMO_DIR, out.Path());
    ASSERT_FALSE(files.empty());
    registry.SetCachePath(out.Path().string());

    const Listing listing = FindData(Open());
    ASSERT_EQ(listing.count, static_cast<int>(files.size()));
    for (const qvork_demo::DemoFile &file : files) {
        SCOPED_TRACE(file.fileName);
        const PluginPanelItem *item =
            FindByName(listing, file.siteName.empty() ? file.fileName : file.siteName);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(Field(item->NumberOfLinks), file.responses);
        EXPECT_EQ(DescriptionOf(*item), file.siteName.empty() ? "<none>" : file.fileName);
        EXPECT_EQ(Field(item->PackSize), file.size);
    }
}

} // namespace
} // namespace qvork_test
