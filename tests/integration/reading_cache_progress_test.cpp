// The "reading cache" progress box of the first root read: one redraw per
// readable site file, under a saved screen that is restored at the end, and
// nothing at all for silent or find-mode reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

const char kFull = static_cast<char>(219);
const char kLight = static_cast<char>(176);

std::string Bar(int fullCells) {
    return std::string(fullCells, kFull) + std::string(49 - fullCells, kLight);
}

std::vector<SiteRecord> OneRecord() { return {OkRecord("/", "home")}; }

class ReadingCacheProgressTest : public PluginTest {
  protected:
    // Three readable sites (one with a name too long for the box) and one
    // file that is not a site: four entries, three steps.
    void WriteCache() {
        cache.WriteSite("cache1", "alpha.example", OneRecord());
        cache.WriteSite("cache2", "beta.example", OneRecord());
        cache.WriteSite("cache3", kLongName, OneRecord());
        cache.WriteRaw("cache4", "not a site file");
    }

    const std::string kLongName =
        "www.a-site-name-much-longer-than-the-box-can-show.example.com";
};

TEST_F(ReadingCacheProgressTest, OneBoxPerReadableSiteUnderSavedScreen) {
    WriteCache();
    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.count, 4);

    ASSERT_EQ(host.savedScreens.size(), 1u);
    const SaveScreenCall &saved = host.savedScreens[0];
    EXPECT_EQ(saved.x1, 0);
    EXPECT_EQ(saved.y1, 0);
    EXPECT_EQ(saved.x2, -1);
    EXPECT_EQ(saved.y2, -1);
    EXPECT_EQ(host.restoredScreens, std::vector<HANDLE>{saved.handle});
    EXPECT_EQ(host.ScreenPairingProblem(), "");
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events.front().kind, HostEventKind::SaveScreen);
    EXPECT_EQ(host.events.back().kind, HostEventKind::RestoreScreen);

    const std::vector<MessageCall> boxes = host.ProgressBoxes();
    ASSERT_EQ(boxes.size(), 3u) << "one step per readable site, none for cache4";
    EXPECT_EQ(host.messages.size(), boxes.size());
    const int expectedCells[] = {12, 25, 37}; // 1, 2 and 3 of 4, on a scale of 50
    std::set<std::string> nameLines;
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(Describe(boxes[i]));
        EXPECT_EQ(boxes[i].pluginNumber, 0);
        EXPECT_EQ(boxes[i].flags, 0u);
        EXPECT_EQ(boxes[i].helpTopic, std::optional<std::string>(""));
        EXPECT_EQ(boxes[i].itemCount, 4);
        ASSERT_EQ(boxes[i].items.size(), 4u);
        EXPECT_EQ(boxes[i].items[0], "reading cache");
        nameLines.insert(boxes[i].items[1]);
        EXPECT_EQ(boxes[i].items[2], "");
        EXPECT_EQ(boxes[i].items[3], Bar(expectedCells[i]));
    }
    EXPECT_EQ(nameLines, (std::set<std::string>{"alpha.example", "beta.example",
                                                 "..." + kLongName.substr(kLongName.size() - 43)}));
}

TEST_F(ReadingCacheProgressTest, EmptyFolderSavesAndRestoresWithoutDrawing) {
    ReadRoot();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.ScreenPairingProblem(), "");
}

struct OpModeCase {
    const char *label;
    int opMode;
    bool quiet;
};

void PrintTo(const OpModeCase &mode, std::ostream *out) { *out << mode.label; }

const OpModeCase kOpModes[] = {
    {"Plain", 0, false},
    {"View", 0x4, false},
    {"TopLevel", 0x10, false},
    {"Silent", OPM_SILENT, true},
    {"Find", OPM_FIND, true},
    {"SilentFind", OPM_SILENT | OPM_FIND, true},
    {"SilentTopLevel", OPM_SILENT | 0x10, true},
};

class ReadingCacheOpModeTest : public ReadingCacheProgressTest,
                               public ::testing::WithParamInterface<OpModeCase> {};

TEST_P(ReadingCacheOpModeTest, QuietOnlyForSilentAndFindReads) {
    WriteCache();
    const Listing listing = ReadRoot(GetParam().opMode);

    EXPECT_EQ(NamesOf(listing).size(), 4u) << "the listing is the same either way";
    EXPECT_NE(FindByName(listing, "alpha.example"), nullptr);
    if (GetParam().quiet) {
        EXPECT_TRUE(host.events.empty()) << "nothing drawn, no screen saved or restored";
    } else {
        EXPECT_EQ(host.ProgressBoxes().size(), 3u);
        EXPECT_EQ(host.savedScreens.size(), 1u);
        EXPECT_EQ(host.ScreenPairingProblem(), "");
    }
}

TEST_P(ReadingCacheOpModeTest, QuietReadLeavesTheNextBoxIntact) {
    WriteCache();
    ReadRoot(GetParam().opMode);
    ASSERT_EQ(plugin->ProcessKey(panel, 82, 0), FALSE);
    host.ClearRecords();
    ReadRoot();
    EXPECT_EQ(host.ProgressBoxes().size(), 3u) << "a quiet run must not leave the box quiet";
    EXPECT_EQ(host.ScreenPairingProblem(), "");
}

INSTANTIATE_TEST_SUITE_P(EachOpMode, ReadingCacheOpModeTest, ::testing::ValuesIn(kOpModes),
                         [](const ::testing::TestParamInfo<OpModeCase> &info) {
                             return std::string(info.param.label);
                         });

} // namespace
} // namespace qvork_test
