// Deleting sites at the cache root: one confirmation for the whole call,
// every item attempted, and the held root listing marking each deleted site
// in place (hidden, sizes 0, no Description) until a refresh scans again.
// Held entries are found by cache file name, so two sites of the same name
// each hide their own entry.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const DWORD kHidden = FILE_ATTRIBUTE_HIDDEN;
const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

// How the host's copies of the selected items refer to their Description.
enum class TextCopy {
    Own,    // the host keeps a copy of its own
    Shared, // the record is copied, the pointer still names the plug-in's text
};

// The held root item whose Description (cache file name) is `fileName`.
const PluginPanelItem *ByFile(const Listing &listing, const std::string &fileName) {
    for (const PluginPanelItem &item : listing)
        if (item.Description && fileName == item.Description) return &item;
    return nullptr;
}

// The same, or a blank item (and a failure) when none is listed so.
const PluginPanelItem &Entry(const Listing &listing, const std::string &fileName) {
    static const PluginPanelItem blank = MakePanelItem("<not listed>");
    const PluginPanelItem *item = ByFile(listing, fileName);
    if (item) return *item;
    ADD_FAILURE() << fileName << " is not listed";
    return blank;
}

// The held item named `name`, or a blank item (and a failure).
const PluginPanelItem &Named(const Listing &listing, const std::string &name) {
    static const PluginPanelItem blank = MakePanelItem("<not listed>");
    const PluginPanelItem *item = FindByName(listing, name);
    if (item) return *item;
    ADD_FAILURE() << name << " is not listed";
    return blank;
}

// What the host hands to DeleteFiles: copies of root items, as selected.
class Selection {
  public:
    explicit Selection(TextCopy copy = TextCopy::Own) : copy_(copy) {}

    void Add(const PluginPanelItem &item) {
        PluginPanelItem chosen = item;
        chosen.Flags |= PPIF_SELECTED;
        const char *description = item.Description; // out of the packed record
        if (copy_ == TextCopy::Own && description) {
            texts_.emplace_back(description);
            chosen.Description = &texts_.back()[0];
        }
        items_.push_back(chosen);
    }
    void AddFile(const Listing &listing, const std::string &fileName) {
        const PluginPanelItem *item = ByFile(listing, fileName);
        ASSERT_NE(item, nullptr) << fileName << " is not listed";
        Add(*item);
    }

    PluginPanelItem *Items() { return items_.data(); }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::vector<PluginPanelItem> &All() const { return items_; }

  private:
    TextCopy copy_;
    std::vector<PluginPanelItem> items_;
    std::deque<std::string> texts_;
};

// The fields deletion may change, copied out so a later check does not read
// through a pointer the plug-in may have released.
struct EntryState {
    DWORD attributes = 0;
    DWORD size = 0;
    DWORD packSize = 0;
    DWORD links = 0;
    std::string description;
    std::string name;
};

EntryState StateOf(const PluginPanelItem &item) {
    return {item.FindData.dwFileAttributes, item.FindData.nFileSizeLow, item.PackSize,
            item.NumberOfLinks, DescriptionOf(item), NameOf(item)};
}

void ExpectSame(const EntryState &actual, const EntryState &expected) {
    EXPECT_EQ(actual.attributes, expected.attributes) << expected.name;
    EXPECT_EQ(actual.size, expected.size) << expected.name;
    EXPECT_EQ(actual.packSize, expected.packSize) << expected.name;
    EXPECT_EQ(actual.links, expected.links) << expected.name;
    EXPECT_EQ(actual.description, expected.description) << expected.name;
    EXPECT_EQ(actual.name, expected.name);
}

// A deleted site's held entry: hidden added, sizes and record count 0, no
// cache file name, the name kept.
void ExpectMarkedDeleted(const PluginPanelItem &item, const EntryState &before) {
    const EntryState now = StateOf(item);
    EXPECT_EQ(now.attributes, before.attributes | kHidden) << before.name;
    EXPECT_EQ(now.size, 0u) << before.name;
    EXPECT_EQ(now.packSize, 0u) << before.name;
    EXPECT_EQ(now.links, 0u) << before.name;
    EXPECT_EQ(now.description, "<none>") << before.name << ": Description NULL";
    EXPECT_EQ(now.name, before.name);
}

std::vector<SiteRecord> OneRecord(const std::string &site) {
    return {OkRecord("/index.html", "<html>" + site + "</html>")};
}

class SiteDeletionTest : public PluginTest {
  protected:
    void WriteSites(const std::vector<std::pair<std::string, std::string>> &sites) {
        for (const auto &site : sites)
            cache.WriteSite(site.first, site.second, OneRecord(site.second));
    }

    int Delete(Selection &selection, int opMode = 0) {
        return plugin->DeleteFiles(panel, selection.Items(), selection.Count(), opMode);
    }

    // Boxes that ask the user something: every box with buttons.
    std::vector<MessageCall> Questions() const {
        std::vector<MessageCall> asked;
        for (const MessageCall &call : host.messages)
            if (call.buttonCount > 0) asked.push_back(call);
        return asked;
    }

    bool Exists(const std::string &fileName) const { return fs::exists(cache.PathOf(fileName)); }

    std::vector<EntryState> Snapshot(const Listing &listing) const {
        std::vector<EntryState> states;
        for (const PluginPanelItem &item : listing) states.push_back(StateOf(item));
        return states;
    }
    void ExpectListingUnchanged(const Listing &listing, const std::vector<EntryState> &before) {
        ASSERT_EQ(static_cast<size_t>(listing.count), before.size());
        for (int i = 0; i < listing.count; ++i) ExpectSame(StateOf(listing.items[i]), before[i]);
    }
};

// --- The confirmation ----------------------------------------------------------

struct ConfirmCase {
    const char *label;
    int sites;
    int opMode;
    const char *countLine;
};

void PrintTo(const ConfirmCase &entry, std::ostream *out) { *out << entry.label; }

class ConfirmationTest : public SiteDeletionTest,
                         public ::testing::WithParamInterface<ConfirmCase> {};

TEST_P(ConfirmationTest, OneQuestionForTheWholeCallThenEverySiteGoes) {
    const ConfirmCase &param = GetParam();
    for (int i = 1; i <= param.sites; ++i)
        cache.WriteSite("cache" + std::to_string(i), "site" + std::to_string(i) + ".example",
                        OneRecord("s"));
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, param.sites);
    const std::vector<EntryState> before = Snapshot(listing);
    Selection selection;
    for (const PluginPanelItem &item : listing) selection.Add(item);
    host.ClearRecords();
    host.messageAnswers = {0};

    EXPECT_EQ(Delete(selection, param.opMode), TRUE);

    const std::vector<MessageCall> asked = Questions();
    ASSERT_EQ(asked.size(), 1u) << "one confirmation, shown whatever the OpMode";
    const MessageCall &box = asked[0];
    EXPECT_EQ(box.pluginNumber, host.moduleNumber);
    EXPECT_EQ(box.flags, static_cast<DWORD>(FMSG_WARNING));
    EXPECT_EQ(box.helpTopic, std::nullopt) << "no help topic";
    EXPECT_EQ(box.items, (std::vector<std::string>{"qVORK", param.countLine, "", "Yes", "No"}));
    EXPECT_EQ(box.itemCount, 5);
    EXPECT_EQ(box.buttonCount, 2);
    for (int i = 0; i < listing.count; ++i) {
        EXPECT_FALSE(Exists(before[i].description));
        ExpectMarkedDeleted(listing.items[i], before[i]);
    }
    for (const PluginPanelItem &item : selection.All()) {
        const DWORD flags = item.Flags; // out of the packed record
        EXPECT_EQ(flags, static_cast<DWORD>(PPIF_SELECTED)) << "the items' Flags are not touched";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ConfirmationTest,
    ::testing::Values(ConfirmCase{"OneSite", 1, 0, "Delete 1 site(z)."},
                      ConfirmCase{"ThreeSites", 3, 0, "Delete 3 site(z)."},
                      ConfirmCase{"OneSiteSilent", 1, OPM_SILENT, "Delete 1 site(z)."},
                      ConfirmCase{"ThreeSitesSilentFind", 3, OPM_SILENT | OPM_FIND,
                                  "Delete 3 site(z)."}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(SiteDeletionTest, NoOrACancelledBoxDeletesNothing) {
    WriteSites({{"cache1", "a.example"}, {"cache2", "b.example"}});
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 2);
    const std::vector<EntryState> before = Snapshot(listing);
    for (int answer : {1, -1}) {
        SCOPED_TRACE(answer == 1 ? "No" : "Escape");
        Selection selection;
        for (const PluginPanelItem &item : listing) selection.Add(item);
        host.ClearRecords();
        host.messageAnswers = {answer};

        EXPECT_EQ(Delete(selection), FALSE);

        EXPECT_EQ(Questions().size(), 1u);
        EXPECT_TRUE(Exists("cache1"));
        EXPECT_TRUE(Exists("cache2"));
        ExpectListingUnchanged(ReadRoot(), before);
    }
}

TEST_F(SiteDeletionTest, InsideASiteNothingIsAskedOrDeleted) {
    WriteSites({{"cache1", "a.example"}});
    const Listing root = ReadRoot();
    ASSERT_EQ(root.count, 1);
    Selection selection;
    selection.Add(root.items[0]);
    ScriptedPanel shown; // the host's panel, on the site's item
    shown.items.assign(root.begin(), root.end());
    host.panel = shown;
    ASSERT_EQ(plugin->SetDirectory(panel, "a.example", 0), TRUE);
    OpenPluginInfo info;
    std::memset(&info, 0, sizeof info);
    plugin->GetOpenPluginInfo(panel, &info);
    const char *curDir = info.CurDir;
    ASSERT_STREQ(curDir, "a.example") << "inside the site";
    host.ClearRecords();
    host.messageAnswers = {0};

    EXPECT_EQ(Delete(selection), FALSE);

    EXPECT_TRUE(Questions().empty());
    EXPECT_TRUE(Exists("cache1"));
}

// --- Failures among several items -------------------------------------------------

struct BrokenCase {
    const char *label;
    std::function<void(const CacheDir &)> breakFile; // spoils cache2 after the listing
    bool fileStays;                                  // something named cache2 is left
};

void PrintTo(const BrokenCase &entry, std::ostream *out) { *out << entry.label; }

class OneOfThreeFailsTest : public SiteDeletionTest,
                            public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(OneOfThreeFailsTest, TheOthersAreDeletedAndHiddenTheResultIsFalse) {
    WriteSites({{"cache1", "a.example"}, {"cache2", "b.example"}, {"cache3", "c.example"}});
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 3);
    const EntryState first = StateOf(Entry(listing, "cache1"));
    const EntryState second = StateOf(Entry(listing, "cache2"));
    const EntryState third = StateOf(Entry(listing, "cache3"));
    Selection selection;
    selection.AddFile(listing, "cache1");
    selection.AddFile(listing, "cache2");
    selection.AddFile(listing, "cache3");
    GetParam().breakFile(cache);
    host.ClearRecords();
    host.messageAnswers = {0};

    EXPECT_EQ(Delete(selection), FALSE);

    EXPECT_EQ(Questions().size(), 1u) << "a failed deletion shows no message";
    EXPECT_FALSE(Exists("cache1"));
    EXPECT_FALSE(Exists("cache3"));
    EXPECT_EQ(Exists("cache2"), GetParam().fileStays);
    const Listing again = ReadRoot();
    ASSERT_EQ(again.items, listing.items);
    ExpectMarkedDeleted(Named(again, "a.example"), first);
    ExpectSame(StateOf(Named(again, "b.example")), second);
    ExpectMarkedDeleted(Named(again, "c.example"), third);
}

const BrokenCase kBrokenCases[] = {
    {"AlreadyMissing", [](const CacheDir &cache) { cache.Remove("cache2"); }, false},
#ifndef _WIN32
    // DeleteFileA deletes files only; a folder under the file's name stays.
    {"FolderInItsPlace",
     [](const CacheDir &cache) {
         cache.Remove("cache2");
         cache.MakeFolder("cache2");
     },
     true},
#endif
};

INSTANTIATE_TEST_SUITE_P(SecondFile, OneOfThreeFailsTest, ::testing::ValuesIn(kBrokenCases),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(SiteDeletionTest, AnItemWithoutDescriptionDeletesNothingForItself) {
    // cache5 is not a site: listed under its own name with no Description.
    WriteSites({{"cache1", "a.example"}, {"cache2", "b.example"}});
    cache.WriteRaw("cache5", "not a site file");
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 3);
    const PluginPanelItem *unreadable = FindByName(listing, "cache5");
    ASSERT_NE(unreadable, nullptr);
    ASSERT_EQ(DescriptionOf(*unreadable), "<none>");
    const EntryState unreadableBefore = StateOf(*unreadable);
    const EntryState secondBefore = StateOf(Entry(listing, "cache2"));

    {
        SCOPED_TRACE("alone");
        Selection selection;
        selection.Add(*unreadable);
        host.messageAnswers = {0};
        EXPECT_EQ(Delete(selection), FALSE);
        EXPECT_TRUE(Exists("cache5"));
        ExpectSame(StateOf(*unreadable), unreadableBefore);
    }
    {
        SCOPED_TRACE("beside a site: the site still goes");
        Selection selection;
        selection.Add(*unreadable);
        selection.AddFile(listing, "cache1");
        host.messageAnswers = {0};
        EXPECT_EQ(Delete(selection), FALSE);
        EXPECT_TRUE(Exists("cache5"));
        EXPECT_FALSE(Exists("cache1"));
        ExpectSame(StateOf(*unreadable), unreadableBefore);
    }
    {
        SCOPED_TRACE("a deleted site, still shown, selected again");
        const PluginPanelItem *gone = FindByName(listing, "a.example");
        ASSERT_NE(gone, nullptr);
        ASSERT_EQ(DescriptionOf(*gone), "<none>");
        Selection selection;
        selection.Add(*gone);
        host.messageAnswers = {0};
        EXPECT_EQ(Delete(selection), FALSE);
        EXPECT_TRUE(Exists("cache2"));
        ExpectSame(StateOf(Entry(listing, "cache2")), secondBefore);
    }
}

// A file that is no longer the site listed (another site's put in its place,
// or the same name written since) is another site: it is not deleted.
TEST_F(SiteDeletionTest, AFileNoLongerTheSiteListedIsKept) {
    WriteSites({{"cache1", "a.example"}, {"cache2", "b.example"}, {"cache3", "c.example"}});
    const Listing listing = ReadRoot();
    fs::rename(cache.PathOf("cache2"), cache.PathOf("cache1"));
    cache.WriteSite("cache3", "c.example", {OkRecord("/x", "a longer body than before")});
    Selection selection;
    selection.AddFile(listing, "cache1");
    selection.AddFile(listing, "cache3");
    host.messageAnswers = {0};
    EXPECT_EQ(Delete(selection), FALSE);
    EXPECT_TRUE(Exists("cache1")) << "b.example's file, now named cache1";
    EXPECT_TRUE(Exists("cache3"));
    EXPECT_EQ(DescriptionOf(Entry(listing, "cache1")), "cache1");
}

#ifndef _WIN32
// Where names differ by letter case alone, a listed file that has gone is
// not found again as its namesake, a copy, and deleted in its place.
TEST_F(SiteDeletionTest, ANamesakeInAnotherCaseIsNeverTakenForAFileGone) {
    WriteSites({{"cache1", "a.example"}});
    fs::copy_file(cache.PathOf("cache1"), cache.PathOf("CACHE1"));
    fs::last_write_time(cache.PathOf("CACHE1"), fs::last_write_time(cache.PathOf("cache1")));
    const Listing listing = ReadRoot();
    fs::remove(cache.PathOf("cache1"));
    Selection selection;
    selection.AddFile(listing, "cache1");
    host.messageAnswers = {0};
    EXPECT_EQ(Delete(selection), FALSE);
    EXPECT_TRUE(Exists("CACHE1"));
}
#endif

// --- The held listing ---------------------------------------------------------------

TEST_F(SiteDeletionTest, TheHeldListingHidesDeletedSitesUntilARefreshScansAgain) {
    WriteSites({{"cache1", "a.example"}, {"cache2", "b.example"}, {"cache3", "c.example"}});
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 3);
    const std::vector<EntryState> before = Snapshot(listing);
    Selection selection;
    selection.AddFile(listing, "cache2");
    host.messageAnswers = {0};
    ASSERT_EQ(Delete(selection), TRUE);

    // A site file added now shows only after a scan.
    cache.WriteSite("cache9", "late.example", OneRecord("late"));
    host.ClearRecords();
    const Listing held = ReadRoot();
    EXPECT_TRUE(host.ProgressBoxes().empty()) << "no scan";
    ASSERT_EQ(held.items, listing.items) << "the same array, changed in place";
    ASSERT_EQ(held.count, 3);
    for (int i = 0; i < held.count; ++i) {
        if (before[i].description == "cache2")
            ExpectMarkedDeleted(held.items[i], before[i]);
        else
            ExpectSame(StateOf(held.items[i]), before[i]);
    }

    EXPECT_EQ(plugin->ProcessKey(panel, KEY_CODE_R, PKF_CONTROL), FALSE);
    const Listing rescanned = ReadRoot();
    EXPECT_EQ(NamesOf(rescanned),
              (std::vector<std::string>{"a.example", "c.example", "late.example"}));
    for (const PluginPanelItem &item : rescanned)
        EXPECT_EQ(StateOf(item).attributes, kFolder) << NameOf(item);
}

// A cache folder path far longer than 93 characters: the path of each
// cache file is still built whole and the file deleted.
TEST_F(SiteDeletionTest, ALongCacheFolderPathStillDeletes) {
#ifdef _WIN32
    const std::string step = "\\.";
#else
    const std::string step = "/.";
#endif
    std::string longPath = cache.CachePathValue();
    while (longPath.size() < 200) longPath += step;
    registry.SetCachePath(longPath);
    Close(panel);
    panel = Open();
    WriteSites({{"cache1", "a.example"}, {"cache22", "b.example"}});
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 2);
    const EntryState before = StateOf(Entry(listing, "cache22"));
    Selection selection;
    selection.AddFile(listing, "cache22");
    host.messageAnswers = {0};

    EXPECT_EQ(Delete(selection), TRUE);

    EXPECT_FALSE(Exists("cache22"));
    EXPECT_TRUE(Exists("cache1"));
    ExpectMarkedDeleted(Named(listing, "b.example"), before);
}

// --- Two sites of the same name -------------------------------------------------------
// Finding the held entry by site name would hide the first "twin.example"
// whichever file went, and release a Description another item of the same
// call may still point to. Each entry must follow its own cache file.

struct TwinCase {
    const char *label;
    const char *firstFile; // deleted first; the other file goes second
    TextCopy copy;
};

void PrintTo(const TwinCase &entry, std::ostream *out) { *out << entry.label; }

class TwinSitesTest : public SiteDeletionTest, public ::testing::WithParamInterface<TwinCase> {};

TEST_P(TwinSitesTest, DeletingEachInTurnHidesTheEntryOfTheFileDeleted) {
    const TwinCase &param = GetParam();
    const std::string secondFile = std::string(param.firstFile) == "cache1" ? "cache2" : "cache1";
    WriteSites(
        {{"cache1", "twin.example"}, {"cache2", "twin.example"}, {"cache3", "other.example"}});
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 3);
    const PluginPanelItem *firstEntry = ByFile(listing, param.firstFile);
    const PluginPanelItem *secondEntry = ByFile(listing, secondFile);
    ASSERT_NE(firstEntry, nullptr);
    ASSERT_NE(secondEntry, nullptr);
    const EntryState firstBefore = StateOf(*firstEntry);
    const EntryState secondBefore = StateOf(*secondEntry);
    const EntryState otherBefore = StateOf(Entry(listing, "cache3"));

    Selection first(param.copy);
    first.AddFile(listing, param.firstFile);
    host.messageAnswers = {0};
    EXPECT_EQ(Delete(first), TRUE);
    EXPECT_FALSE(Exists(param.firstFile));
    EXPECT_TRUE(Exists(secondFile));
    ExpectMarkedDeleted(*firstEntry, firstBefore);
    ExpectSame(StateOf(*secondEntry), secondBefore);

    Selection second(param.copy);
    second.AddFile(ReadRoot(), secondFile);
    host.messageAnswers = {0};
    EXPECT_EQ(Delete(second), TRUE);
    EXPECT_FALSE(Exists(secondFile));
    ExpectMarkedDeleted(*firstEntry, firstBefore);
    ExpectMarkedDeleted(*secondEntry, secondBefore);
    ExpectSame(StateOf(Entry(listing, "cache3")), otherBefore);
    EXPECT_TRUE(Exists("cache3"));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, TwinSitesTest,
    ::testing::Values(TwinCase{"Cache1First", "cache1", TextCopy::Own},
                      TwinCase{"Cache2First", "cache2", TextCopy::Own},
                      TwinCase{"Cache1FirstSharedTexts", "cache1", TextCopy::Shared},
                      TwinCase{"Cache2FirstSharedTexts", "cache2", TextCopy::Shared}),
    [](const auto &info) { return std::string(info.param.label); });

// How the two items reach DeleteFiles in one call. Handed in the reverse of
// the listing order, an item whose entry was found by site name would have
// released the text the next item still points to.
enum class Handing { OwnTexts, SharedTexts, SharedTextsLastFirst, HeldItemsThemselves };

void PrintTo(Handing handing, std::ostream *out) {
    switch (handing) {
    case Handing::OwnTexts: *out << "OwnTexts"; break;
    case Handing::SharedTexts: *out << "SharedTexts"; break;
    case Handing::SharedTextsLastFirst: *out << "SharedTextsLastFirst"; break;
    case Handing::HeldItemsThemselves: *out << "HeldItemsThemselves"; break;
    }
}

class TwinsInOneCallTest : public SiteDeletionTest,
                           public ::testing::WithParamInterface<Handing> {};

TEST_P(TwinsInOneCallTest, BothAreDeletedAndBothHidden) {
    WriteSites({{"cache1", "twin.example"}, {"cache2", "twin.example"}});
    Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 2);
    const std::vector<EntryState> before = Snapshot(listing);
    host.messageAnswers = {0};

    int result = FALSE;
    if (GetParam() == Handing::HeldItemsThemselves) {
        result = plugin->DeleteFiles(panel, listing.items, listing.count, 0);
    } else {
        Selection selection(GetParam() == Handing::OwnTexts ? TextCopy::Own : TextCopy::Shared);
        if (GetParam() == Handing::SharedTextsLastFirst) {
            selection.Add(listing.items[1]);
            selection.Add(listing.items[0]);
        } else {
            for (const PluginPanelItem &item : listing) selection.Add(item);
        }
        result = Delete(selection);
    }

    EXPECT_EQ(result, TRUE);
    EXPECT_FALSE(Exists("cache1"));
    EXPECT_FALSE(Exists("cache2"));
    for (int i = 0; i < listing.count; ++i) ExpectMarkedDeleted(listing.items[i], before[i]);
}

INSTANTIATE_TEST_SUITE_P(Handings, TwinsInOneCallTest,
                         ::testing::Values(Handing::OwnTexts, Handing::SharedTexts,
                                           Handing::SharedTextsLastFirst,
                                           Handing::HeldItemsThemselves),
                         [](const auto &info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

} // namespace
} // namespace qvork_test
