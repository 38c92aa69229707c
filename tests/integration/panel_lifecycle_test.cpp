// A panel's life at the cache root: handles, the panel description, the root
// listing held between reads, the keys that drop it and ClosePlugin, which
// releases it (the sanitizer build reports anything left behind as a leak).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

intptr_t Number(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

std::vector<SiteRecord> OneRecord() { return {OkRecord("/index.html", "<html>home</html>")}; }

TEST(PluginModuleTest, LoadsWithEveryEntryPointAndUnloadsCompletely) {
    PluginModule plugin;
    ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
    EXPECT_EQ(plugin.GetMinFarVersion(), 326) << "host version 1.70";
    EXPECT_TRUE(plugin.Unload());
}

class HandleTest : public LoadedPluginTest {};

TEST_F(HandleTest, HandlesCountUpAndClosingDoesNotLowerTheCount) {
    HANDLE first = Open();
    EXPECT_EQ(Number(first), 1);
    Close(first);
    HANDLE second = Open();
    EXPECT_EQ(Number(second), 2);
    HANDLE third = Open(); // a second panel while the first is open
    EXPECT_EQ(Number(third), 3);
}

TEST_F(HandleTest, FreshlyLoadedModuleStartsCountingAtOneAgain) {
    Close(Open());
    Close(Open());
    ASSERT_TRUE(plugin->Unload());
    plugin = std::make_unique<PluginModule>();
    ASSERT_TRUE(plugin->Loaded()) << plugin->Error();
    const PluginStartupInfo info = host.StartupInfo();
    plugin->SetStartupInfo(&info);
    EXPECT_EQ(Number(Open()), 1);
}

TEST_F(HandleTest, CacheFolderMissingStillOpens) {
    registry.DeleteCachePath();
    HANDLE panel = Open();
    EXPECT_EQ(Number(panel), 1);
    EXPECT_TRUE(host.messages.empty()) << "no message for a missing value";
}

// ---- GetOpenPluginInfo ----------------------------------------------------

// Values a host might leave in the fields the plug-in must not touch.
OpenPluginInfo CanaryInfo() {
    static const char hostFile[] = "host-file";
    static const char shortcut[] = "shortcut";
    OpenPluginInfo info;
    std::memset(&info, 0, sizeof info);
    info.HostFile = hostFile;
    info.InfoLines = hostFile;
    info.InfoLinesNumber = 11;
    info.DescrFiles = reinterpret_cast<const char *const *>(&info);
    info.DescrFilesNumber = 12;
    info.PanelModesArray = shortcut;
    info.PanelModesNumber = 13;
    info.StartPanelMode = 14;
    info.StartSortMode = 15;
    info.StartSortOrder = 16;
    info.ShortcutData = shortcut;
    info.Reserved = 17;
    return info;
}

// Entry `key` of row `row` (Titles, CtrlTitles, ... CtrlAltTitles). The record
// is packed to 2 bytes, so its pointers are read by copying, not in place.
const char *KeyTitle(const KeyBarTitles *bar, int row, int key) {
    const char *title;
    std::memcpy(&title, reinterpret_cast<const char *>(bar) + (row * 12 + key) * sizeof title,
                sizeof title);
    return title;
}

void ExpectKeyBarHasOnlyViewHeader(const KeyBarTitles *bar) {
    ASSERT_NE(bar, nullptr);
    for (int row = 0; row < 7; ++row) {
        for (int key = 0; key < 12; ++key) {
            const char *title = KeyTitle(bar, row, key);
            if (row == 3 && key == 2) {
                ASSERT_NE(title, nullptr) << "Shift+F3";
                EXPECT_STREQ(title, "VwHdr");
            } else {
                EXPECT_EQ(title, nullptr) << "row " << row << ", F" << key + 1;
            }
        }
    }
}

using PanelInfoTest = PluginTest;

TEST_F(PanelInfoTest, RootPanelDescription) {
    cache.WriteSite("cache1", "www.example.com", OneRecord());
    for (bool afterRead : {false, true}) {
        SCOPED_TRACE(afterRead ? "after the root was read" : "before any read");
        if (afterRead) ReadRoot();
        const OpenPluginInfo canary = CanaryInfo();
        OpenPluginInfo info = canary;
        plugin->GetOpenPluginInfo(panel, &info);

        // 72, the host's size, on Win32 (far_abi.h asserts it); wider pointers elsewhere.
        EXPECT_EQ(Field(info.StructSize), static_cast<int>(sizeof(OpenPluginInfo)));
        EXPECT_EQ(Field(info.Flags),
                  static_cast<DWORD>(OPIF_USEATTRHIGHLIGHTING | OPIF_SHOWNAMESONLY |
                                     OPIF_RAWSELECTION));
        EXPECT_EQ(Field(info.Flags), 0x8050u);
        ASSERT_NE(Field(info.CurDir), nullptr);
        EXPECT_STREQ(info.CurDir, "");
        ASSERT_NE(Field(info.Format), nullptr);
        EXPECT_STREQ(info.Format, "VORK");
        ASSERT_NE(Field(info.PanelTitle), nullptr);
        EXPECT_STREQ(info.PanelTitle, "qVORK");
        ExpectKeyBarHasOnlyViewHeader(info.KeyBar);

        EXPECT_EQ(Field(info.HostFile), Field(canary.HostFile));
        EXPECT_EQ(Field(info.InfoLines), Field(canary.InfoLines));
        EXPECT_EQ(Field(info.InfoLinesNumber), Field(canary.InfoLinesNumber));
        EXPECT_EQ(Field(info.DescrFiles), Field(canary.DescrFiles));
        EXPECT_EQ(Field(info.DescrFilesNumber), Field(canary.DescrFilesNumber));
        EXPECT_EQ(Field(info.PanelModesArray), Field(canary.PanelModesArray));
        EXPECT_EQ(Field(info.PanelModesNumber), Field(canary.PanelModesNumber));
        EXPECT_EQ(Field(info.StartPanelMode), Field(canary.StartPanelMode));
        EXPECT_EQ(Field(info.StartSortMode), Field(canary.StartSortMode));
        EXPECT_EQ(Field(info.StartSortOrder), Field(canary.StartSortOrder));
        EXPECT_EQ(Field(info.ShortcutData), Field(canary.ShortcutData));
        EXPECT_EQ(Field(info.Reserved), Field(canary.Reserved));
    }
}

TEST_F(PanelInfoTest, TextsHandedOutOutliveTheCall) {
    OpenPluginInfo first = CanaryInfo();
    plugin->GetOpenPluginInfo(panel, &first);
    OpenPluginInfo second = CanaryInfo();
    plugin->GetOpenPluginInfo(panel, &second);
    ReadRoot();
    EXPECT_STREQ(first.Format, "VORK");
    EXPECT_STREQ(first.PanelTitle, "qVORK");
    EXPECT_STREQ(first.CurDir, "");
    EXPECT_STREQ(KeyTitle(first.KeyBar, 3, 2), "VwHdr");
}

// ---- The held root listing -----------------------------------------------

using HeldListingTest = PluginTest;

TEST_F(HeldListingTest, LaterReadsHandOutTheSameArrayWithoutScanning) {
    cache.WriteSite("cache1", "one.example", OneRecord());
    const Listing first = ReadRoot();
    ASSERT_EQ(first.count, 1);
    plugin->FreeFindData(panel, first.items, first.count); // must release nothing

    // Changes to the folder do not show while the listing is held.
    cache.WriteSite("cache2", "two.example", OneRecord());
    cache.Remove("cache1");
    for (int read = 2; read <= 3; ++read) {
        SCOPED_TRACE("read " + std::to_string(read));
        host.ClearRecords();
        const Listing again = ReadRoot();
        EXPECT_EQ(again.result, TRUE);
        EXPECT_EQ(again.items, first.items);
        ASSERT_EQ(again.count, 1);
        EXPECT_EQ(NameOf(again.items[0]), "one.example");
        EXPECT_EQ(DescriptionOf(again.items[0]), "cache1");
        EXPECT_TRUE(host.events.empty()) << "no progress box, no screen saved";
        plugin->FreeFindData(panel, again.items, again.count);
    }
}

TEST_F(HeldListingTest, QuietFirstReadIsHeldToo) {
    cache.WriteSite("cache1", "one.example", OneRecord());
    const Listing first = ReadRoot(OPM_FIND);
    cache.WriteSite("cache2", "two.example", OneRecord());
    const Listing second = ReadRoot();
    EXPECT_EQ(second.items, first.items);
    EXPECT_EQ(second.count, 1);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(HeldListingTest, ClosePluginDropsTheListingAndTheNextPanelScansAgain) {
    cache.WriteSite("cache1", "one.example", OneRecord());
    cache.WriteSite("cache2", "two.example", OneRecord());
    ASSERT_EQ(ReadRoot().count, 2);
    Close(panel);

    cache.WriteSite("cache3", "three.example", OneRecord());
    host.ClearRecords();
    HANDLE next = Open();
    const Listing listing = FindData(next);
    EXPECT_EQ(NamesOf(listing),
              (std::vector<std::string>{"one.example", "three.example", "two.example"}));
    EXPECT_EQ(host.savedScreens.size(), 1u) << "a new scan under the progress box";
}

TEST_F(HeldListingTest, ClosePluginWithoutListingAndTwiceIsHarmless) {
    Close(panel);
    plugin->ClosePlugin(panel);
    HANDLE next = Open();
    cache.WriteSite("cache1", "one.example", OneRecord());
    EXPECT_EQ(FindData(next).count, 1);
}

// ---- Keys at the cache root ----------------------------------------------

struct KeyCase {
    const char *label;
    int key;
    unsigned controlState;
    bool drops; // the next root read scans the folder again
};

void PrintTo(const KeyCase &key, std::ostream *out) { *out << key.label; }

const KeyCase kRootKeys[] = {
    {"R", 82, 0, true},
    {"ShiftR", 82, PKF_SHIFT, true},
    {"CtrlR", 82, PKF_CONTROL, true},
    {"AltR", 82, PKF_ALT, true},
    {"CtrlAltShiftR", 82, PKF_CONTROL | PKF_ALT | PKF_SHIFT, true},
    {"F3", 114, 0, true},
    {"CtrlF3", 114, PKF_CONTROL, true},
    {"AltF3", 114, PKF_ALT, true},
    {"CtrlShiftF3", 114, PKF_CONTROL | PKF_SHIFT, true},
    {"AltShiftF3", 114, PKF_ALT | PKF_SHIFT, true},
    {"ShiftF3", 114, PKF_SHIFT, true}, // no header to show at the root
    {"F2", 113, 0, false},
    {"F4", 115, 0, false},
    {"ShiftF4", 115, PKF_SHIFT, false},
    {"S", 83, 0, false},
    {"Q", 81, PKF_SHIFT, false},
    {"Enter", 13, 0, false},
    {"KeyZero", 0, 0, false},
};

class RootKeyTest : public PluginTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(RootKeyTest, LeftToTheHostAndDropsListingOnlyForRefreshKeys) {
    const KeyCase &key = GetParam();
    cache.WriteSite("cache1", "one.example", OneRecord());
    const Listing first = ReadRoot();
    ASSERT_EQ(first.count, 1);
    cache.WriteSite("cache2", "two.example", OneRecord());

    EXPECT_EQ(plugin->ProcessKey(panel, key.key, key.controlState), FALSE);
    host.ClearRecords();
    const Listing next = ReadRoot();

    if (key.drops) {
        EXPECT_EQ(NamesOf(next), (std::vector<std::string>{"one.example", "two.example"}));
        EXPECT_EQ(host.savedScreens.size(), 1u) << "scanned under the progress box";
    } else {
        EXPECT_EQ(next.items, first.items);
        EXPECT_EQ(NamesOf(next), std::vector<std::string>{"one.example"});
        EXPECT_TRUE(host.events.empty());
    }
    EXPECT_TRUE(host.Warnings().empty());
}

TEST_P(RootKeyTest, KeyBeforeAnyReadChangesNothing) {
    const KeyCase &key = GetParam();
    cache.WriteSite("cache1", "one.example", OneRecord());
    EXPECT_EQ(plugin->ProcessKey(panel, key.key, key.controlState), FALSE);
    EXPECT_EQ(NamesOf(ReadRoot()), std::vector<std::string>{"one.example"});
}

INSTANTIATE_TEST_SUITE_P(EachKey, RootKeyTest, ::testing::ValuesIn(kRootKeys),
                         [](const ::testing::TestParamInfo<KeyCase> &info) {
                             return std::string(info.param.label);
                         });

TEST_F(HeldListingTest, RefreshTwiceInARowIsHarmless) {
    cache.WriteSite("cache1", "one.example", OneRecord());
    ReadRoot();
    EXPECT_EQ(plugin->ProcessKey(panel, 82, 0), FALSE);
    EXPECT_EQ(plugin->ProcessKey(panel, 82, 0), FALSE);
    EXPECT_EQ(ReadRoot().count, 1);
}

} // namespace
} // namespace qvork_test
