// Panels opened elsewhere than on NetSonic's registered cache, as the file
// manager opens them: OpenFilePlugin with a file's first bytes (Enter on a
// file of an ordinary panel), and OpenPlugin(OPEN_COMMANDLINE) with the text
// typed after "vork:". The registry value is deleted first: a copied cache
// must open without it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "test_files.h"

namespace qvork_test {
namespace {

const std::vector<SiteRecord> kRecords = {OkRecord("/index.html", "<html>home</html>"),
                                          OkRecord("/img/logo.gif", "GIF89a-logo", "image/gif")};

class OpenElsewhereTest : public LoadedPluginTest {
  protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        registry.DeleteCachePath();
        // Not named cache<N>, with a decoy cache1 beside it: the site must
        // be reopened by its own name, never by a number.
        image = WriteSiteFile(copy.Path() / "old site.dat", "www.example.com", kRecords);
        WriteSiteFile(copy.Path() / "cache1", "decoy.example", {OkRecord("/img/logo.gif", "DECOY")});
    }

    HANDLE OpenFile(const std::string &bytes, const std::filesystem::path &path) {
        std::string name = path.string();
        HANDLE panel = plugin->OpenFilePlugin(name.data(),
                                              reinterpret_cast<const unsigned char *>(bytes.data()),
                                              static_cast<int>(bytes.size()));
        if (panel != INVALID_HANDLE_VALUE) openPanels.push_back(panel);
        return panel;
    }

    HANDLE OpenCommandLine(const std::string &text) {
        HANDLE panel = plugin->OpenPlugin(OPEN_COMMANDLINE, reinterpret_cast<intptr_t>(text.c_str()));
        if (panel != INVALID_HANDLE_VALUE) openPanels.push_back(panel);
        return panel;
    }

    std::vector<std::string> Listed(HANDLE panel) {
        const Listing listing = FindData(panel);
        std::vector<std::string> names = NamesOf(listing);
        plugin->FreeFindData(panel, listing.items, listing.count);
        return names;
    }

    TempDir copy{"qvork-copy"};
    SiteFileImage image;
};

TEST_F(OpenElsewhereTest, FilesThatAreNoSiteFileAreRefusedSilently) {
    const std::string site = image.bytes;
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"an HTML file", "<!DOCTYPE html><html><body>hello</body></html>"},
        {"an empty file", ""},
        {"a header cut before the name length", site.substr(0, 30)},
        {"a header cut inside the name", site.substr(0, 40)},
        {"a negative name length", [&] { std::string b = site; PutLE32(b, kNameLengthOffset, 0xFFFFFFF0u); return b; }()},
        {"another magic", [&] { std::string b = site; b[0] = 'M'; return b; }()},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(OpenFile(c.bytes, copy.Path() / "old site.dat"), INVALID_HANDLE_VALUE) << c.what;
    }
    EXPECT_EQ(plugin->OpenFilePlugin(nullptr, nullptr, 0), INVALID_HANDLE_VALUE) << "Shift+F1";
    EXPECT_TRUE(host.messages.empty()) << "no box for files that are not ours";
}

// A site without a name (damage) lists in its cache folder, so it opens here too.
TEST_F(OpenElsewhereTest, ASiteWithoutANameOpens) {
    const SiteFileImage nameless = WriteSiteFile(copy.Path() / "old site.dat", "", kRecords);
    EXPECT_NE(OpenFile(nameless.bytes, copy.Path() / "old site.dat"), INVALID_HANDLE_VALUE);
}

TEST_F(OpenElsewhereTest, SiteFileOpensOnItsTopFolderAndIsLeftAsAnArchive) {
    HANDLE panel = OpenFile(image.bytes.substr(0, 4096), copy.Path() / "old site.dat");
    ASSERT_NE(panel, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"img", "index.html"}));
    OpenPluginInfo info = InfoOf(panel);
    EXPECT_STREQ(info.CurDir, "") << "the host leaves the panel on \"..\" here";
    EXPECT_NE(info.Flags & OPIF_ADDDOTS, 0u);
    ASSERT_NE(info.HostFile, nullptr);
    EXPECT_EQ(std::string(info.HostFile), (copy.Path() / "old site.dat").string());
    EXPECT_STREQ(info.PanelTitle, "qVORK: www.example.com");

    ASSERT_TRUE(plugin->SetDirectory(panel, "img", 0));
    EXPECT_EQ(CurDirOf(panel), "img");
    Listing listing = FindData(panel);
    ASSERT_EQ(listing.count, 1);
    PluginPanelItem logo = listing.items[0];
    plugin->FreeFindData(panel, listing.items, listing.count);
    TempDir out;
    std::string dest = out.Path().string();
    EXPECT_TRUE(plugin->GetFiles(panel, &logo, 1, 0, dest.data(), OPM_SILENT));
    EXPECT_EQ(ReadWhole(out.Path() / "logo.gif"), "GIF89a-logo") << "copied from its own file";

    ASSERT_TRUE(plugin->SetDirectory(panel, "..", 0));
    EXPECT_EQ(CurDirOf(panel), "");
    EXPECT_FALSE(plugin->SetDirectory(panel, "..", 0)) << "nothing above the site's top";
    EXPECT_TRUE(plugin->SetDirectory(panel, "\\", 0));
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"img", "index.html"}));
    EXPECT_TRUE(host.Warnings().empty());
}

TEST_F(OpenElsewhereTest, CommandLineOpensCacheFoldersAndSiteFiles) {
    CacheDir copied; // <root>/icache/ as NetSonic leaves it
    copied.WriteSite("cache3", "news.example.org", kRecords);
    copied.WriteSite("cache4", "www.example.com", kRecords);
    const std::vector<std::string> sites{"news.example.org", "www.example.com"};
    const std::string siteFile = (copy.Path() / "old site.dat").string();
    const struct {
        std::string text;
        std::vector<std::string> listed;
    } cases[] = {
        {copied.Root().string(), sites},
        {"  \"" + copied.Root().string() + "\"  ", sites},
        {copied.Folder().string(), sites},
        {siteFile, {"img", "index.html"}},
    };
    for (const auto &c : cases) {
        HANDLE panel = OpenCommandLine(c.text);
        ASSERT_NE(panel, INVALID_HANDLE_VALUE) << c.text;
        EXPECT_EQ(Listed(panel), c.listed) << c.text;
        Close(panel);
    }
    // A site of the copied folder is entered as from the registered cache.
    HANDLE panel = OpenCommandLine(copied.Root().string());
    const Listing root = FindData(panel);
    const std::vector<PluginPanelItem> shown(root.begin(), root.end());
    host.panel = PanelShowing(shown, "www.example.com");
    ASSERT_TRUE(plugin->SetDirectory(panel, "www.example.com", 0));
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"img", "index.html"}));
    EXPECT_EQ(CurDirOf(panel), "www.example.com");
    EXPECT_TRUE(host.Warnings().empty());
    TempDir empty;
    WriteBytes(empty.Path() / "page.html", "<html></html>");
    for (const std::string &neither : {std::string(" "), (copy.Path() / "missing").string(),
                                       empty.Path().string(), (empty.Path() / "page.html").string()}) {
        host.messages.clear();
        EXPECT_EQ(OpenCommandLine(neither), INVALID_HANDLE_VALUE) << neither;
        ASSERT_EQ(host.Warnings().size(), 1u) << neither;
        EXPECT_EQ(host.messages[0].items.at(1), "not a cache folder or site file!");
    }
}

// A folder shortcut: the host keeps ShortcutData and CurDir, and later opens
// the panel with OPEN_SHORTCUT and hands CurDir back before any listing.
TEST_F(OpenElsewhereTest, FolderShortcutReturnsToItsOwnFolderAndPlace) {
    CacheDir copied;
    copied.WriteSite("cache4", "www.example.com", kRecords);
    cache.WriteSite("cache1", "registered.example", kRecords);
    registry.SetCachePath(cache.CachePathValue());
    HANDLE panel = OpenCommandLine(copied.Root().string());
    const Listing root = FindData(panel);
    host.panel = PanelShowing(std::vector<PluginPanelItem>(root.begin(), root.end()), "www.example.com");
    ASSERT_TRUE(plugin->SetDirectory(panel, "www.example.com", 0));
    ASSERT_TRUE(plugin->SetDirectory(panel, "img", 0));
    const OpenPluginInfo info = InfoOf(panel);
    ASSERT_NE(Field(info.ShortcutData), nullptr);
    const std::string shortcut = info.ShortcutData, place = info.CurDir;
    Close(panel);

    host.panel = PanelShowing({}, "");
    panel = plugin->OpenPlugin(OPEN_SHORTCUT, reinterpret_cast<intptr_t>(shortcut.c_str()));
    ASSERT_NE(panel, INVALID_HANDLE_VALUE);
    openPanels.push_back(panel);
    EXPECT_TRUE(plugin->SetDirectory(panel, place.c_str(), 0));
    EXPECT_EQ(CurDirOf(panel), "www.example.com/img");
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"logo.gif"}));
    Close(panel);

    // The registered cache's panel leaves ShortcutData alone and is reopened
    // on the registered cache; a folder that is gone leaves it at the root.
    panel = Open();
    EXPECT_TRUE(plugin->SetDirectory(panel, "registered.example/img", 0));
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"logo.gif"}));
    Close(panel);
    panel = Open();
    EXPECT_FALSE(plugin->SetDirectory(panel, "registered.example/gone", 0));
    EXPECT_EQ(CurDirOf(panel), "");
    EXPECT_EQ(Listed(panel), (std::vector<std::string>{"registered.example"}));
    EXPECT_TRUE(host.Warnings().empty());
}

TEST_F(OpenElsewhereTest, RegisteredPanelKeepsItsOwnCacheBesideAFilePanel) {
    cache.WriteSite("cache1", "registered.example", kRecords);
    registry.SetCachePath(cache.CachePathValue());
    HANDLE registered = Open();
    EXPECT_EQ(Listed(registered), (std::vector<std::string>{"registered.example"}));
    HANDLE own = OpenFile(image.bytes, copy.Path() / "old site.dat");
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Listed(registered), (std::vector<std::string>{"registered.example"}));
    EXPECT_EQ(Listed(own), (std::vector<std::string>{"img", "index.html"}));
    Close(own);
    EXPECT_EQ(Listed(registered), (std::vector<std::string>{"registered.example"}));
}

} // namespace
} // namespace qvork_test
