// The plug-in open in two panels of one host. Both panels share the one
// plug-in state, so the other panel's OpenPlugin or ClosePlugin releases the
// tree and the held root listing that a panel may still show. Items the host
// keeps from such a listing come back later (copy, Shift+F3, enter, delete):
// each must be treated as absent, with no memory error (run under
// AddressSanitizer), nothing written, shown or deleted; and items read
// afresh afterwards must work again.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "test_files.h"

#ifndef _WIN32
#include <malloc.h>
// Live heap bytes: the sanitizer's count when it runs (weak: absent without it).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));
#endif

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const int kF3 = 114;
const int kR = 82;
const int kYes = 0;

// The files under `root` with their contents, for failure output.
std::string Describe(const fs::path &root) {
    std::string text;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            text += fs::relative(entry.path(), root).generic_string() + "=\"" +
                    ReadWhole(entry.path()) + "\" ";
    return text;
}

// One panel as the host keeps it: its handle and copies of the items it
// last read (the texts they point to stay the plug-in's).
struct HostPanel {
    HANDLE handle = nullptr;
    std::vector<PluginPanelItem> items;
};

// Where the panel whose items go stale is when the other panel acts.
enum class StaleAt { Root, InSite };

// What the other panel does after the stale panel has read its items.
enum class Other {
    OpensLater,                // OpenPlugin only
    OpensAndReadsRoot,         // OpenPlugin, root read
    OpensAndEntersAnotherSite, // OpenPlugin, root read, enters b.example
    OpensAndCloses,            // OpenPlugin, root read, ClosePlugin
    WasOpenAndCloses,          // opened before the stale panel; ClosePlugin now
};

struct Sequence {
    StaleAt staleAt;
    Other other;
};

std::string Describe(const Sequence &s) {
    static const char *const others[] = {"OtherOpensLater", "OtherOpensAndReadsRoot",
                                         "OtherEntersAnotherSite", "OtherOpensAndCloses",
                                         "OtherWasOpenAndCloses"};
    return std::string(s.staleAt == StaleAt::Root ? "StaleRoot" : "StaleInSite") + "_" +
           others[static_cast<int>(s.other)];
}

void PrintTo(const Sequence &s, std::ostream *out) { *out << Describe(s); }

class TwoPanelsFixture : public LoadedPluginTest {
  protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        if (HasFatalFailure()) return;
        // index.html comes first in both sites, so a node of the second tree
        // may take the place the first tree's node had.
        cache.WriteSite("cache1", "a.example",
                        {OkRecord("index.html", "A-index"), OkRecord("d/x.txt", "A-x"),
                         OkRecord("d/e/y.txt", "A-y")});
        cache.WriteSite("cache2", "b.example",
                        {OkRecord("index.html", "B-index"), OkRecord("other.txt", "B-other"),
                         OkRecord("f/z.txt", "B-z")});
        for (const char *file : {"cache1", "cache2"}) cacheBytes[file] = ReadWhole(cache.PathOf(file));
        fs::create_directories(dest);
    }

    void TearDown() override {
        for (const ViewerCall &call : host.viewers) {
            std::error_code ignored;
            fs::remove(fs::path(call.fileName), ignored); // as the viewer does on closing
        }
        LoadedPluginTest::TearDown();
    }

    HostPanel OpenPanel() { return HostPanel{Open(), {}}; }

    // GetFindData, the items copied, FreeFindData: what a host does.
    void Read(HostPanel &panel) {
        const Listing listing = FindData(panel.handle);
        ASSERT_EQ(listing.result, TRUE);
        panel.items.assign(listing.begin(), listing.end());
        plugin->FreeFindData(panel.handle, listing.items, listing.count);
    }

    // The host's panel query answers with this panel, `name` current.
    void Show(const HostPanel &panel, const std::string &name) {
        host.panel = PanelShowing(panel.items, name);
    }

    int SetDir(const HostPanel &panel, const std::string &name) {
        Show(panel, name);
        return plugin->SetDirectory(panel.handle, name.c_str(), 0);
    }

    std::vector<PluginPanelItem> Selected(const HostPanel &panel,
                                          const std::vector<std::string> &names) {
        std::vector<PluginPanelItem> chosen = SelectByName(panel.items, names);
        EXPECT_EQ(chosen.size(), names.size()) << "not every name is listed";
        return chosen;
    }

    int Get(const HostPanel &panel, std::vector<PluginPanelItem> &items) {
        std::string path = dest.string();
        return plugin->GetFiles(panel.handle, items.data(), static_cast<int>(items.size()), 0,
                                &path[0], 0);
    }

    int ShiftF3(const HostPanel &panel, const std::string &name) {
        Show(panel, name);
        return plugin->ProcessKey(panel.handle, kF3, PKF_SHIFT);
    }

    int Delete(const HostPanel &panel, std::vector<PluginPanelItem> &items) {
        host.messageAnswers.push_back(kYes);
        const int result = plugin->DeleteFiles(panel.handle, items.data(),
                                               static_cast<int>(items.size()), 0);
        host.messageAnswers.clear();
        return result;
    }

    std::string CurDir(const HostPanel &panel) { return CurDirOf(panel.handle); }

    // The texts of the error boxes (the deletion question is not one).
    std::vector<std::string> WarningTexts() const {
        std::vector<std::string> texts;
        for (const MessageCall &call : host.Warnings())
            if (call.buttonCount == 1) texts.push_back(call.items.size() > 1 ? call.items[1] : "<no text>");
        return texts;
    }

    // Every action on the stale panel's items finds nothing to act on.
    void ExpectEveryStaleItemAbsent(const HostPanel &stale) {
        ASSERT_FALSE(stale.items.empty());
        for (const PluginPanelItem &item : stale.items) {
            const std::string name = NameOf(item);
            SCOPED_TRACE(name);
            std::vector<PluginPanelItem> one = Selected(stale, {name});
            EXPECT_EQ(Get(stale, one), FALSE);
            EXPECT_EQ(FlagsOf(one[0]), static_cast<DWORD>(PPIF_SELECTED)) << "stays selected";
            EXPECT_EQ(ShiftF3(stale, name), FALSE);
            // At the root a name is looked up through the panel's current
            // item; inside a site (the other panel's) it names a child there.
            if (CurDir(stale).empty()) {
                EXPECT_EQ(SetDir(stale, name), FALSE);
            }
        }
        std::vector<PluginPanelItem> all = stale.items;
        EXPECT_EQ(Delete(stale, all), FALSE);

        EXPECT_TRUE(host.viewers.empty()) << "no header shown";
        EXPECT_TRUE(fs::is_empty(dest)) << "copied: " << Describe(dest);
        for (const auto &file : cacheBytes)
            EXPECT_EQ(ReadWhole(cache.PathOf(file.first)), file.second) << file.first << " deleted or changed";
        for (const std::string &text : WarningTexts())
            EXPECT_EQ(text.find("can't"), std::string::npos) << "no failure of a real file: " << text;
    }

    // The panel that is still open reads afresh, and its items work: copies
    // inside a site and of a whole site, Shift+F3, entering, deleting.
    void ExpectFreshItemsWork(HostPanel &live) {
        host.ClearRecords();
        Read(live);
        // Root items name their cache file; items inside a site never do.
        const bool rootListed = !live.items.empty() && live.items[0].Description != nullptr;
        EXPECT_EQ(CurDir(live).empty(), rootListed)
            << "the directory text \"" << CurDir(live) << "\" does not fit the listing read";
        if (rootListed) {
            ASSERT_EQ(SetDir(live, "b.example"), TRUE);
            Read(live);
        }
        ASSERT_EQ(CurDir(live), "b.example");
        std::vector<PluginPanelItem> other = Selected(live, {"other.txt", "f"});
        EXPECT_EQ(Get(live, other), TRUE);
        EXPECT_EQ(ReadWhole(dest / "other.txt"), "B-other");
        EXPECT_EQ(ReadWhole(dest / "f" / "z.txt"), "B-z");
        EXPECT_EQ(ShiftF3(live, "other.txt"), TRUE);
        ASSERT_EQ(host.viewers.size(), 1u);
        EXPECT_EQ(host.viewers[0].contents, OkRecord("other.txt", "B-other").header);

        ASSERT_EQ(SetDir(live, ".."), TRUE);
        Read(live);
        ASSERT_EQ(CurDir(live), "");
        std::vector<PluginPanelItem> site = Selected(live, {"a.example"});
        EXPECT_EQ(Get(live, site), TRUE);
        EXPECT_EQ(ReadWhole(dest / "a.example" / "index.html"), "A-index");
        EXPECT_EQ(ReadWhole(dest / "a.example" / "d" / "e" / "y.txt"), "A-y");
        std::vector<PluginPanelItem> doomed = Selected(live, {"b.example"});
        EXPECT_EQ(Delete(live, doomed), TRUE);
        EXPECT_FALSE(fs::exists(cache.PathOf("cache2")));
        EXPECT_EQ(WarningTexts(), std::vector<std::string>{});
    }

    TempDir work{"qvork-two-panels"};
    fs::path dest = work.Path() / "out";
    std::map<std::string, std::string> cacheBytes;
};

class TwoPanelsTest : public TwoPanelsFixture, public ::testing::WithParamInterface<Sequence> {};

TEST_P(TwoPanelsTest, StaleItemsAreAbsentAndFreshOnesWork) {
    const Sequence s = GetParam();
    HostPanel other;
    if (s.other == Other::WasOpenAndCloses) other = OpenPanel();

    HostPanel stale = OpenPanel();
    Read(stale);
    if (s.staleAt == StaleAt::InSite) {
        ASSERT_EQ(SetDir(stale, "a.example"), TRUE);
        Read(stale);
        ASSERT_EQ(CurDir(stale), "a.example");
    }

    if (s.other != Other::WasOpenAndCloses) other = OpenPanel();
    switch (s.other) {
    case Other::OpensLater: break;
    case Other::OpensAndReadsRoot: Read(other); break;
    case Other::OpensAndEntersAnotherSite:
        Read(other);
        ASSERT_EQ(SetDir(other, "b.example"), TRUE);
        Read(other);
        break;
    case Other::OpensAndCloses:
        Read(other);
        Close(other.handle);
        break;
    case Other::WasOpenAndCloses: Close(other.handle); break;
    }

    ExpectEveryStaleItemAbsent(stale);
    if (HasFatalFailure()) return;

    const bool otherOpen = s.other == Other::OpensLater || s.other == Other::OpensAndReadsRoot ||
                           s.other == Other::OpensAndEntersAnotherSite;
    ExpectFreshItemsWork(otherOpen ? other : stale);
}

std::vector<Sequence> AllSequences() {
    std::vector<Sequence> all;
    for (StaleAt at : {StaleAt::Root, StaleAt::InSite})
        for (Other other : {Other::OpensLater, Other::OpensAndReadsRoot,
                            Other::OpensAndEntersAnotherSite, Other::OpensAndCloses,
                            Other::WasOpenAndCloses})
            all.push_back({at, other});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Sequences, TwoPanelsTest, ::testing::ValuesIn(AllSequences()),
                         [](const auto &info) { return Describe(info.param); });

// The allocator may give the other panel's new tree the memory the old tree
// had (a build without sanitizers does: the stale panel's index.html item
// then addresses b.example's index.html node). Here the stale item is given
// that address outright, so the case does not hang on the allocator: a node
// alive now, of the same name, reached through an item of a listing that is
// gone, is still not the item's node.
TEST_F(TwoPanelsFixture, ItemOfAnOldTreeIsNotTakenForANewNodeAtItsAddress) {
    HostPanel first = OpenPanel();
    Read(first);
    ASSERT_EQ(SetDir(first, "a.example"), TRUE);
    Read(first);
    HostPanel second = OpenPanel();
    Read(second);
    ASSERT_EQ(SetDir(second, "b.example"), TRUE);
    Read(second);

    HostPanel stale = first;
    const std::vector<PluginPanelItem> fresh = Selected(second, {"index.html"});
    for (PluginPanelItem &item : stale.items)
        if (NameOf(item) == "index.html") item.UserData = fresh[0].UserData;

    std::vector<PluginPanelItem> one = Selected(stale, {"index.html"});
    EXPECT_EQ(Get(stale, one), FALSE);
    EXPECT_TRUE(fs::is_empty(dest)) << "copied: " << Describe(dest);
    EXPECT_EQ(ShiftF3(stale, "index.html"), FALSE);
    EXPECT_TRUE(host.viewers.empty()) << "b.example's header shown for a.example's file";

    std::vector<PluginPanelItem> own = Selected(second, {"index.html"});
    EXPECT_EQ(Get(second, own), TRUE);
    EXPECT_EQ(ReadWhole(dest / "index.html"), "B-index");
}

#ifndef _WIN32
size_t HeapInUse() {
    return __sanitizer_get_current_allocated_bytes ? __sanitizer_get_current_allocated_bytes()
                                                   : mallinfo2().uordblks;
}

// With the plug-in in both panels, each re-read (R, then a root read) left
// the listing it replaced kept for as long as two panels were open: 8000
// rounds grew the process from 3.2 MB to 20 MB. A dropped listing is freed
// as soon as no open panel was last given it.
TEST_F(TwoPanelsFixture, RereadsInTwoPanelsKeepMemoryFlat) {
    HostPanel left = OpenPanel();
    HostPanel right = OpenPanel();
    auto rounds = [&](int count) {
        for (int i = 0; i < count; i++) {
            for (HostPanel *panel : {&left, &right}) {
                plugin->ProcessKey(panel->handle, kR, 0);
                Read(*panel);
            }
            host.ClearRecords();
        }
    };
    rounds(20);
    const size_t before = HeapInUse();
    rounds(500);
    EXPECT_LT(HeapInUse(), before + 16 * 1024);
    // The listing the right panel's re-read dropped is still what the left
    // one shows: kept, and known as dropped (read without a memory error).
    EXPECT_EQ(SetDir(left, "a.example"), FALSE);
    EXPECT_EQ(SetDir(right, "a.example"), TRUE);
}
#endif

} // namespace
} // namespace qvork_test
