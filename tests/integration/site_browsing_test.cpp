// Moving inside an entered site and listing its folders: SetDirectory with
// child names, ".." and "\", the directory text the host shows, the flags of
// the panel, the in-site items, and leaving the site back to the held root.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
const DWORD kInSite = 0x8058; // attribute highlighting, names only, raw selection, ".."
const DWORD kAtRoot = 0x8050;

class BrowseTest : public HostPanelTest {};

// ---- Walking down and back up ------------------------------------------------

struct Step {
    const char *dir;
    int result;
    const char *curDir;
    DWORD flags;
    std::vector<std::string> listed; // in tree order; the root listing once left
};

void PrintTo(const Step &step, std::ostream *out) { *out << "SetDirectory(\"" << step.dir << "\")"; }

std::vector<SiteRecord> WalkSite() {
    return {OkRecord("a/b/f.html", "f"), OkRecord("a/g.html", "g"), OkRecord("top.html", "t")};
}

class CurDirWalkTest : public BrowseTest, public ::testing::WithParamInterface<std::vector<Step>> {};

TEST_P(CurDirWalkTest, DirectoryTextFollowsEveryMove) {
    cache.WriteSite("cache7", "s", WalkSite());
    ReadRootIntoPanel();
    ASSERT_EQ(Enter("s"), TRUE);
    for (const Step &step : GetParam()) {
        SCOPED_TRACE(::testing::PrintToString(step));
        EXPECT_EQ(Cd(step.dir), step.result);
        EXPECT_EQ(CurDir(), step.curDir);
        EXPECT_EQ(Info().Flags, step.flags);
        EXPECT_EQ(Names(), step.listed);
    }
}

const std::vector<std::string> kTop = {"a", "top.html"};
const std::vector<std::string> kA = {"b", "g.html"};
const std::vector<std::string> kB = {"f.html"};
const std::vector<std::string> kRoot = {"s"};

INSTANTIATE_TEST_SUITE_P(
    Walks, CurDirWalkTest,
    ::testing::Values(
        std::vector<Step>{{"a", TRUE, "s/a", kInSite, kA},
                          {"b", TRUE, "s/a/b", kInSite, kB},
                          {"..", TRUE, "s/a", kInSite, kA},
                          {"b", TRUE, "s/a/b", kInSite, kB},
                          {"\\", TRUE, "s", kInSite, kTop},
                          {"a", TRUE, "s/a", kInSite, kA},
                          {"..", TRUE, "s", kInSite, kTop},
                          {"..", TRUE, "", kAtRoot, kRoot}},
        std::vector<Step>{{"a", TRUE, "s/a", kInSite, kA},
                          {"\\", TRUE, "s", kInSite, kTop},
                          {"\\", TRUE, "", kAtRoot, kRoot}},
        std::vector<Step>{{"\\", TRUE, "", kAtRoot, kRoot}},
        // Refused names leave everything as it was.
        std::vector<Step>{{"a", TRUE, "s/a", kInSite, kA},
                          {"A", FALSE, "s/a", kInSite, kA},
                          {"b/f.html", FALSE, "s/a", kInSite, kA},
                          {"f.html", FALSE, "s/a", kInSite, kA},
                          {"", FALSE, "s/a", kInSite, kA},
                          {"...", FALSE, "s/a", kInSite, kA},
                          {"/", FALSE, "s/a", kInSite, kA},
                          {"b ", FALSE, "s/a", kInSite, kA},
                          {"b", TRUE, "s/a/b", kInSite, kB}},
        // A directory text as CurDir gave it leads back there (the host's
        // search returns so); one naming anything but folders moves nothing.
        std::vector<Step>{{"a", TRUE, "s/a", kInSite, kA},
                          {"b", TRUE, "s/a/b", kInSite, kB},
                          {"\\", TRUE, "s", kInSite, kTop},
                          {"s/a/b", TRUE, "s/a/b", kInSite, kB},
                          {"s/a/x", FALSE, "s/a/b", kInSite, kB},
                          {"s/a/b/f.html", FALSE, "s/a/b", kInSite, kB},
                          {"t/a", FALSE, "s/a/b", kInSite, kB},
                          {"s/a", TRUE, "s/a", kInSite, kA}},
        // A file is pushed like a folder; it has nothing to list.
        std::vector<Step>{{"top.html", TRUE, "s/top.html", kInSite, {}},
                          {"..", TRUE, "s", kInSite, kTop},
                          {"a", TRUE, "s/a", kInSite, kA},
                          {"b", TRUE, "s/a/b", kInSite, kB},
                          {"f.html", TRUE, "s/a/b/f.html", kInSite, {}},
                          {"\\", TRUE, "s", kInSite, kTop}}),
    [](const auto &info) { return "Walk" + std::to_string(info.index); });

TEST_F(BrowseTest, OpModeInsideASiteChangesNothing) {
    cache.WriteSite("cache7", "s", WalkSite());
    ASSERT_EQ(Enter("s"), TRUE);
    host.ClearRecords();
    EXPECT_EQ(Cd("a", OPM_SILENT | OPM_FIND), TRUE);
    EXPECT_EQ(CurDir(), "s/a");
    EXPECT_EQ(Cd("..", OPM_FIND), TRUE);
    EXPECT_EQ(CurDir(), "s");
    EXPECT_TRUE(host.messages.empty());
}

// ---- Listing a folder ----------------------------------------------------------

TEST_F(BrowseTest, InSiteItemsCarryNameKindSizeAndNodeOnly) {
    std::vector<SiteRecord> records = {OkRecord("folder/x", "xx"), OkRecord("empty.gif", ""),
                                       OkRecord("both", "12345"), OkRecord("both/child", "c"),
                                       OkRecord("file.html", std::string(70000, 'h'))};
    cache.WriteSite("cache7", "s", records);
    ASSERT_EQ(Enter("s"), TRUE);
    const std::vector<PluginPanelItem> items = List();
    ASSERT_EQ(items.size(), 4u);

    struct Expected {
        const char *name;
        DWORD attributes;
        DWORD size;
    } const expected[] = {
        {"folder", kFolder, 0},
        {"empty.gif", 0, 0},     // a file of size 0, not a folder
        {"both", kFolder, 0},    // body and children: a folder, its page inside
        {"file.html", 0, 70000},
    };
    for (size_t i = 0; i < items.size(); ++i) {
        const PluginPanelItem &item = items[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(NameOf(item), expected[i].name) << "tree order";
        EXPECT_EQ(+item.FindData.dwFileAttributes, expected[i].attributes);
        EXPECT_EQ(+item.FindData.nFileSizeLow, expected[i].size);
        EXPECT_EQ(+item.FindData.nFileSizeHigh, 0u);
        EXPECT_EQ(+item.FindData.ftLastWriteTime.dwLowDateTime, 0u);
        EXPECT_EQ(+item.FindData.ftCreationTime.dwHighDateTime, 0u);
        EXPECT_EQ(item.FindData.cAlternateFileName[0], 0);
        EXPECT_NE(+item.UserData, 0u) << "the item refers to its node";
        EXPECT_EQ(+item.Description, nullptr);
        EXPECT_EQ(+item.Flags, 0u);
        EXPECT_EQ(+item.PackSize, 0u);
        EXPECT_EQ(+item.NumberOfLinks, 0u);
        EXPECT_EQ(+item.Owner, nullptr);
        EXPECT_EQ(+item.CustomColumnNumber, 0);
    }
    ASSERT_EQ(Cd("both"), TRUE);
    EXPECT_EQ(Names(), (std::vector<std::string>{"index.htm", "child"}));
}

TEST_F(BrowseTest, SiteWithoutRecordsListsNothing) {
    SiteFileOptions options;
    options.recordCount = 2;
    cache.WriteSite("cache7", "s", WalkSite(), options);
    ASSERT_EQ(Enter("s"), TRUE);
    const Listing listing = FindData(panel);
    EXPECT_EQ(listing.result, TRUE);
    EXPECT_EQ(listing.count, 0);
    plugin->FreeFindData(panel, listing.items, listing.count);
}

TEST_F(BrowseTest, ChildNameOf300CharactersListsItsFirst260Bytes) {
    std::string name(300, 'x');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i % 26);
    cache.WriteSite("cache7", "s", {OkRecord("d/" + name, "body")});
    ASSERT_EQ(Enter("s"), TRUE);
    ASSERT_EQ(Cd("d"), TRUE);
    const std::vector<PluginPanelItem> items = List();
    ASSERT_EQ(items.size(), 1u);
    const FAR_FIND_DATA &find = items[0].FindData;
    EXPECT_EQ(std::string(find.cFileName, sizeof find.cFileName), name.substr(0, 260))
        << "the whole field, no terminator inside it";
    EXPECT_EQ(find.cAlternateFileName[0], 0);
    EXPECT_EQ(+find.nFileSizeLow, 4u);
}

// ---- Panel flags ----------------------------------------------------------------

TEST_F(BrowseTest, FlagsAddDotsOnlyInsideASiteWithAPositiveNumber) {
    cache.WriteSite("cache3", "three", WalkSite());
    cache.WriteSite("cache-5", "minus five", WalkSite());
    ReadRootIntoPanel();
    EXPECT_EQ(Info().Flags, kAtRoot);

    ASSERT_EQ(Enter("three"), TRUE);
    EXPECT_EQ(Info().Flags, kInSite);
    ASSERT_EQ(Cd(".."), TRUE);
    EXPECT_EQ(Info().Flags, kAtRoot);

    ASSERT_EQ(Enter("minus five"), TRUE);
    EXPECT_EQ(Info().Flags, kAtRoot) << "site -5 is inside a site all the same";
    EXPECT_EQ(CurDir(), "minus five");
    EXPECT_EQ(Names(), kTop);
    ASSERT_EQ(Cd("a"), TRUE);
    EXPECT_EQ(CurDir(), "minus five/a");
}

// ---- Leaving and re-entering ----------------------------------------------------

TEST_F(BrowseTest, LeavingTheSiteHandsOutTheHeldRootListingWithoutAScan) {
    cache.WriteSite("cache7", "s", WalkSite());
    cache.WriteSite("cache8", "t", WalkSite());
    const Listing first = ReadRoot();
    root.assign(first.begin(), first.end());
    ASSERT_EQ(Enter("s"), TRUE);
    ASSERT_EQ(Cd("a"), TRUE);
    ASSERT_EQ(Cd(".."), TRUE);
    ASSERT_EQ(Cd(".."), TRUE);
    cache.Remove("cache8"); // a scan would notice

    host.ClearRecords();
    const Listing again = ReadRoot();
    EXPECT_EQ(again.items, first.items);
    EXPECT_EQ(again.count, 2);
    EXPECT_TRUE(host.messages.empty()) << "no progress box";
    EXPECT_TRUE(host.savedScreens.empty());
    EXPECT_EQ(CurDir(), "");
}

TEST_F(BrowseTest, NewPanelAfterCloseListsTheRootNotTheOldSite) {
    cache.WriteSite("cache7", "s", WalkSite());
    ASSERT_EQ(Enter("s"), TRUE);
    ASSERT_EQ(Cd("a"), TRUE);
    Close(panel);
    panel = Open();
    const Listing listing = ReadRoot();
    EXPECT_EQ(NamesOf(listing), kRoot);
    EXPECT_EQ(CurDir(), "");
}

TEST_F(BrowseTest, HostNamingAnotherSiteThanItsCurrentItemEntersTheNamedSite) {
    cache.WriteSite("cache1", "first", {OkRecord("one", "1")});
    cache.WriteSite("cache2", "second", {OkRecord("two", "2")});
    ReadRootIntoPanel();
    ShowInPanel(root, "first");
    ASSERT_EQ(Cd("second"), TRUE);
    EXPECT_EQ(CurDir(), "second");
    EXPECT_EQ(Names(), std::vector<std::string>{"two"});
}

// Without the host's panel the site is found by its name alone. A name no
// site bears enters nothing: it once returned TRUE with the directory text
// of the site entered before.
class NoPanelTest : public BrowseTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NoPanelTest, EntryWithoutThePanelFindsTheSiteByName) {
    cache.WriteSite("cache7", "s", WalkSite());
    cache.WriteSite("cache8", "t", {OkRecord("t.html", "t")});
    ReadRootIntoPanel();
    ASSERT_EQ(Enter("t"), TRUE);
    ASSERT_EQ(Cd(".."), TRUE);
    ScriptedPanel scripted; // the host's panel is empty, or the call fails
    if (GetParam()) scripted.answer = FALSE;
    host.panel = scripted;

    EXPECT_EQ(plugin->SetDirectory(panel, "nosuch", 0), FALSE);
    EXPECT_EQ(CurDir(), "");
    EXPECT_EQ(Info().Flags, kAtRoot);
    EXPECT_EQ(plugin->SetDirectory(panel, "s", 0), TRUE);
    EXPECT_EQ(CurDir(), "s");
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "top.html"}));
}

INSTANTIATE_TEST_SUITE_P(Panel, NoPanelTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "ControlFails" : "EmptyPanel"; });

// ---- The directory text at its limit ----------------------------------------------

TEST_F(BrowseTest, LongDirectoryTextIsCutAt767Characters) {
    const std::string site(200, 's');
    std::vector<std::string> parts;
    std::string url;
    for (char c = 'a'; c < 'a' + 6; ++c) {
        parts.push_back(std::string(150, c));
        url += (url.empty() ? "" : "/") + parts.back();
    }
    cache.WriteSite("cache7", site, {OkRecord(url, "deep")});
    ASSERT_EQ(Enter(site), TRUE);

    std::vector<std::string> expected = {site};
    for (const std::string &part : parts) expected.push_back(expected.back() + "/" + part);
    for (std::string &text : expected)
        if (text.size() > 767) text.resize(767); // every cut falls inside a name here

    EXPECT_EQ(CurDir(), expected[0]);
    for (size_t depth = 1; depth <= parts.size(); ++depth) {
        ASSERT_EQ(Cd(parts[depth - 1]), TRUE);
        EXPECT_EQ(CurDir(), expected[depth]) << "depth " << depth;
    }
    EXPECT_EQ(Names(), std::vector<std::string>{}) << "the file at the bottom";
    for (size_t depth = parts.size(); depth-- > 0;) {
        ASSERT_EQ(Cd(".."), TRUE);
        EXPECT_EQ(CurDir(), expected[depth]) << "back at depth " << depth;
    }
}

TEST_F(BrowseTest, LongestSiteNameAndUrlStayWithinTheDirectoryText) {
    const std::string site(259, 'S');
    std::vector<std::string> parts = {std::string(255, 'x'), std::string(255, 'y'),
                                      std::string(255, 'z')};
    cache.WriteSite("cache7", site, {OkRecord(parts[0] + "/" + parts[1] + "/" + parts[2], "b")});
    ASSERT_EQ(Enter(site), TRUE);
    std::string full = site;
    for (const std::string &part : parts) {
        ASSERT_EQ(Cd(part), TRUE);
        full += "/" + part;
        const std::string shown = CurDir();
        EXPECT_LE(shown.size(), 767u);
        EXPECT_EQ(shown, full.substr(0, shown.size()));
    }
    EXPECT_EQ(CurDir().size(), 767u);
}

} // namespace
} // namespace qvork_test
