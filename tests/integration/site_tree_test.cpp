// Entering a site: what its stored URLs become as folders and files, where
// each file's header and body are taken from, and how the record walk copes
// with damaged, short and hostile site files. Everything is observed through
// the entry points: SetDirectory at the root, the in-site listing, GetFiles.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "test_files.h"

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

// Sites entered as the file manager enters them (HostPanelTest), with what
// they hold dumped as a tree or copied out.
class SiteTreeTest : public HostPanelTest {
  protected:
    // The steps of the "reading site" progress box: the name line of each.
    std::vector<std::string> SiteProgressNames() const {
        std::vector<std::string> names;
        for (const MessageCall &call : host.ProgressBoxes())
            if (!call.items.empty() && call.items[0] == "reading site" && call.items.size() > 1)
                names.push_back(call.items[1]);
        return names;
    }

    // The tree below the current folder, in listing order: name, "/" for a
    // folder or "=" and the size for a file, and the children in brackets.
    std::string Dump() {
        std::string text;
        for (const PluginPanelItem &item : List()) {
            const std::string name = NameOf(item);
            if (!text.empty()) text += ",";
            text += name;
            if (item.FindData.dwFileAttributes & kFolder)
                text += "/";
            else
                text += "=" + std::to_string(item.FindData.nFileSizeLow);
            if (Cd(name) != TRUE) {
                ADD_FAILURE() << "cannot enter " << name;
                continue;
            }
            const std::string below = Dump();
            EXPECT_EQ(Cd(".."), TRUE);
            if (!below.empty()) text += "(" + below + ")";
        }
        return text;
    }

    // GetFiles on one in-site item; the bytes written, or nullopt.
    std::optional<std::string> Copy(const PluginPanelItem &item) {
        PluginPanelItem selected = item;
        std::string dest = out.Path().string();
        const int result = plugin->GetFiles(panel, &selected, 1, 0, &dest[0], 0);
        const fs::path written = out.Path() / NameOf(item);
        EXPECT_EQ(result, TRUE);
        if (!fs::is_regular_file(written)) return std::nullopt;
        std::string bytes = ReadWhole(written);
        fs::remove(written);
        return bytes;
    }

    TempDir out{"qvork-out"};
};

// A record whose body's size tells which record it is: 10 + its index.
std::vector<SiteRecord> Numbered(const std::vector<std::string> &urls) {
    std::vector<SiteRecord> records;
    for (size_t i = 0; i < urls.size(); ++i)
        records.push_back(OkRecord(urls[i], std::string(10 + i, static_cast<char>('a' + i))));
    return records;
}

// ---- What URLs become ------------------------------------------------------

struct UrlCase {
    const char *label;
    std::vector<std::string> urls;
    std::string tree; // Dump() of the site's top folder
};

void PrintTo(const UrlCase &c, std::ostream *out) { *out << c.label; }

class UrlTreeTest : public SiteTreeTest, public ::testing::WithParamInterface<UrlCase> {};

TEST_P(UrlTreeTest, SiteTreeFollowsTheUrlRules) {
    cache.WriteSite("cache1", "s.example", Numbered(GetParam().urls));
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Dump(), GetParam().tree);
    EXPECT_TRUE(WarningTexts().empty());
}

const UrlCase kUrlCases[] = {
    {"SiblingFilesInOneFolder", {"a/b", "a/c"}, "a/(b=10,c=11)"},
    {"FolderNamedAgainGetsIndex", {"a/b", "a"}, "a/(b=10,index.htm=11)"},
    {"FolderWithSlashGetsIndex", {"a/b", "a/"}, "a/(b=10,index.htm=11)"},
    {"DeeperFolderWithSlashGetsIndex", {"d/e/f", "d/e/"}, "d/(e/(f=10,index.htm=11))"},
    // A page that URLs go on below becomes a folder holding it as index.htm.
    {"FileGainsChildrenAndBecomesAFolder", {"a", "a/b"}, "a/(index.htm=10,b=11)"},
    {"FileBelowFileBelowFolder", {"a/b", "a/b/c"}, "a/(b/(index.htm=10,c=11))"},
    {"PageGoesOnTwoLevels", {"a", "a/b/c"}, "a/(index.htm=10,b/(c=11))"},
    {"IndexOfAPageFolderIsADuplicate", {"a", "a/b", "a/index.htm", "a/"}, "a/(index.htm=10,b=11)"},
    {"SameUrlTwiceFirstWins", {"x/y", "x/y"}, "x/(y=10)"},
    {"SlashAloneIsIndex", {"/"}, "index.htm=10"},
    {"EmptyUrlIsIndex", {""}, "index.htm=10"},
    {"OnlySlashesIsIndex", {"///"}, "index.htm=10"},
    {"SlashThenEmptyIsOneIndex", {"/", ""}, "index.htm=10"},
    {"IndexNamedThenSlash", {"index.htm", "/"}, "index.htm=10"},
    {"CaseMakesTwoNodes", {"A", "a"}, "A=10,a=11"},
    {"SiblingsKeepFirstNamingOrder", {"z", "m/x", "a", "m/b"}, "z=10,m/(x=11,b=13),a=12"},
    {"EmptyComponentsSkipped", {"/a/b", "a//c/"}, "a/(b=10,c=11)"},
    {"NewNodeWithSlashIsAFile", {"a/"}, "a=10"},
    {"QueryAndDotAreJustText", {"p?q=1/r", "./s"}, "p?q=1/(r=10),./(s=11)"},
};

INSTANTIATE_TEST_SUITE_P(Urls, UrlTreeTest, ::testing::ValuesIn(kUrlCases),
                         [](const auto &info) { return std::string(info.param.label); });

// A path two records share keeps the first, unless the first is a redirect
// or unreadable and the later one a readable page ("R" marks a 301, "!" a
// negative body length; sizes tell the records apart as above).
TEST_F(SiteTreeTest, APageIsNotLostBehindARedirectOnItsPath) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"Ra", "a/"}, "a=11"},
        {{"a/", "Ra"}, "a=10"},
        {{"Ra", "a/b", "a/"}, "a/(index.htm=12,b=11)"},
        {{"Ra", "Ra/"}, "a=10"},
        {{"R/", "index.htm"}, "index.htm=11"},
        {{"!a", "a/"}, "a=11"},
        {{"Ra", "!a/"}, "a=10"},
    };
    for (const auto &c : cases) {
        std::vector<SiteRecord> records;
        for (size_t i = 0; i < c.first.size(); ++i) {
            std::string url = c.first[i];
            const char mark = url[0] == 'R' || url[0] == '!' ? url[0] : 0;
            SiteRecord record = OkRecord(url.substr(mark ? 1 : 0), std::string(10 + i, 'x'));
            if (mark == 'R') record.header = "HTTP/1.1 301 Moved Permanently\r\nLocation: /a/";
            if (mark == '!') record.dataLength = 3;
            records.push_back(record);
        }
        cache.WriteSite("cache1", "s.example", records);
        ASSERT_EQ(Enter("s.example"), TRUE);
        EXPECT_EQ(Dump(), c.second) << c.first[0] << " then " << c.first[1];
        ASSERT_EQ(Cd(".."), TRUE);
    }
}

// ---- Where a file's body is taken from -------------------------------------

struct OffsetCase {
    const char *label;
    std::vector<SiteRecord> records;
    SiteFileOptions options;
    size_t checked;       // the record whose file is looked at
    bool separatorFound;  // the body starts after "\r\n\r\n"; else at the header
};

void PrintTo(const OffsetCase &c, std::ostream *out) { *out << c.label; }

SiteRecord WithHeader(const std::string &url, const std::string &header, const std::string &body) {
    SiteRecord record;
    record.url = url;
    record.header = header;
    record.body = body;
    return record;
}

std::string Filler(size_t size, const std::string &start = "HTTP/1.0 200 OK\r\nX-Fill: ") {
    std::string text = start;
    while (text.size() < size) text += static_cast<char>('a' + text.size() % 26);
    text.resize(size);
    return text;
}

// The last record is cut right after its header, which lacks a separator;
// the record before it left "\r\n\r\n" further on in the reader's window.
OffsetCase StaleSeparatorCase() {
    OffsetCase c{"SeparatorNeverTakenFromBytesNotRead", {}, {}, 1, false};
    c.records.push_back(WithHeader("f", Filler(900), "first body"));
    SiteRecord last = WithHeader("g", Filler(60), "");
    last.omitSeparator = true;
    c.records.push_back(last);
    c.options.padTail = false;
    return c;
}

// A long header without a separator of its own: the next record's is not
// taken for it.
OffsetCase LongHeaderWithoutEndCase() {
    OffsetCase c{"LongHeaderNeverEndsInTheNextRecord", {}, {}, 0, false};
    SiteRecord first = WithHeader("f", Filler(1500), "body");
    first.omitSeparator = true;
    c.records = {first, OkRecord("g", "next")};
    return c;
}

OffsetCase ZeroInHeaderCase() {
    OffsetCase c{"ZeroByteEndsTheSearch", {}, {}, 0, false};
    c.records.push_back(WithHeader("f", std::string("HTTP/1.0 200 OK\r\nX: a\0b", 24), "body"));
    return c;
}

std::vector<OffsetCase> OffsetCases() {
    // url "f": the header starts at window index 39; "\r\n\r\n" must end
    // before index 1023, the window's terminator.
    return {
        {"SeparatorInWindow", {OkRecord("f", "<html>body</html>")}, {}, 0, true},
        {"SeparatorEndsAtIndex1022", {WithHeader("f", Filler(980), "tail body")}, {}, 0, true},
        // A header filling the window is followed into the file, within its
        // record, as far as 50000 bytes and up to a zero byte.
        {"SeparatorReachesIndex1023", {WithHeader("f", Filler(981), "tail body")}, {}, 0, true},
        {"HeaderLongerThanWindow", {WithHeader("f", Filler(1500), "late body")}, {}, 0, true},
        {"HeaderOfTheSearchLimit", {WithHeader("f", Filler(49996), "body")}, {}, 0, true},
        {"ZeroByteEndsTheSearchPastTheWindow",
         {WithHeader("f", Filler(1200) + std::string(1, '\0') + Filler(300, "x"), "body")}, {}, 0, false},
        LongHeaderWithoutEndCase(),
        {"SecondRecordSeparatorInWindow",
         {OkRecord("a", std::string(3000, 'A')), OkRecord("f", "<p>x</p>")}, {}, 1, true},
        ZeroInHeaderCase(),
        StaleSeparatorCase(),
    };
}

class BodyOffsetTest : public SiteTreeTest, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(BodyOffsetTest, FileSizeAndCopyComeFromTheStoredOffsets) {
    const OffsetCase &c = GetParam();
    const SiteFileImage image = cache.WriteSite("cache1", "s.example", c.records, c.options);
    const SiteRecord &record = c.records[c.checked];
    const RecordPlacement &placement = image.records[c.checked];
    // dataLength minus 10, less the header text when its end was found.
    const size_t size = c.separatorFound ? record.body.size() : record.header.size() + record.body.size();
    const size_t from = static_cast<size_t>(c.separatorFound ? placement.bodyOffset : placement.headerOffset);
    ASSERT_LE(from + size, image.bytes.size()) << "the case itself is wrong";

    ASSERT_EQ(Enter("s.example"), TRUE);
    const PluginPanelItem item = Item(record.url);
    EXPECT_EQ(+item.FindData.dwFileAttributes, 0u);
    EXPECT_EQ(+item.FindData.nFileSizeLow, size);
    EXPECT_EQ(Copy(item), image.bytes.substr(from, size));
    EXPECT_TRUE(WarningTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Offsets, BodyOffsetTest, ::testing::ValuesIn(OffsetCases()),
                         [](const auto &info) { return std::string(info.param.label); });

// ---- The record walk --------------------------------------------------------

struct WalkCase {
    const char *label;
    std::vector<SiteRecord> records;
    SiteFileOptions options;
    std::vector<std::string> listed; // the site's top folder, in order
    int cutRecord = -1;              // the file ends 30 bytes into this record
};

void PrintTo(const WalkCase &c, std::ostream *out) { *out << c.label; }

std::vector<SiteRecord> ThreeSmall() {
    return {OkRecord("a", "A"), OkRecord("b", "BB"), OkRecord("c", "CCC")};
}

SiteFileOptions Unpadded() {
    SiteFileOptions options;
    options.padTail = false;
    return options;
}

WalkCase RecordLengthCase(const char *label, size_t which, int32_t length,
                          std::vector<std::string> listed) {
    WalkCase c{label, ThreeSmall(), {}, std::move(listed)};
    c.records[which].recordLength = length;
    return c;
}

WalkCase CountCase(const char *label, uint16_t count, std::vector<std::string> listed,
                   bool padded = true) {
    WalkCase c{label, ThreeSmall(), padded ? SiteFileOptions{} : Unpadded(), std::move(listed)};
    c.options.recordCount = count;
    return c;
}

std::vector<WalkCase> WalkCases() {
    std::vector<WalkCase> cases = {
        // Three records within the last 1024 bytes: every read is short.
        {"EndOfFileThreeSmallRecords", ThreeSmall(), Unpadded(), {"a", "b", "c"}},
        CountCase("RecordCountBeyondTheRecords", 10, {"a", "b", "c"}, false),
        CountCase("RecordCountBelowTheRecords", 3, {"a"}),
        CountCase("RecordCountTwo", 2, {}),
        // A count no site file has (damage): the records are read as far as
        // they go.
        CountCase("RecordCountOne", 1, {"a", "b", "c"}),
        CountCase("RecordCountZero", 0, {"a", "b", "c"}),
        // A broken link does not lose the records after it: the walk goes on
        // at the next place a record plausibly starts.
        RecordLengthCase("RecordLengthZeroIsPassedOver", 0, 0, {"a", "b", "c"}),
        RecordLengthCase("RecordLengthNegativeIsPassedOver", 0, -8, {"a", "b", "c"}),
        RecordLengthCase("RecordLengthMostNegative", 1, INT32_MIN, {"a", "b", "c"}),
        RecordLengthCase("RecordLengthPastTheFile", 0, 0x7FFFF000, {"a", "b", "c"}),
        RecordLengthCase("RecordLengthPast2GiB", 0, 0x7FFFFFF0, {"a", "b", "c"}),
    };
    WalkCase unreadable = RecordLengthCase("ResumedAtARecordThatReads", 0, 0, {"a", "c"});
    unreadable.records[1].urlLength = 2000;
    unreadable.options = Unpadded(); // past c the file ends, though the count allows one more
    cases.push_back(unreadable);
    WalkCase cut{"LastRecordCutInsideItsUrl", ThreeSmall(), Unpadded(), {"a", "b"}, 2};
    cut.records[2].url = "c-with-a-longer-url"; // bytes 20..38 of the record
    cases.push_back(cut);
    // A damaged site block length: the records start where the name ends.
    WalkCase block{"SiteBlockLengthPastTheFile", ThreeSmall(), {}, {"a", "b", "c"}};
    block.options.siteBlockLength = 0x7FFFFF00;
    cases.push_back(block);
    WalkCase zeroBlock{"SiteBlockLengthZero", ThreeSmall(), {}, {"a", "b", "c"}};
    zeroBlock.options.siteBlockLength = 0;
    cases.push_back(zeroBlock);
    return cases;
}

class RecordWalkTest : public SiteTreeTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(RecordWalkTest, ListsExactlyTheRecordsTheWalkReaches) {
    WalkCase c = GetParam();
    if (c.cutRecord >= 0) {
        const SiteFileImage whole = BuildSiteFile("s.example", c.records, c.options);
        c.options.truncateAt = static_cast<size_t>(whole.records[c.cutRecord].start) + 30;
    }
    cache.WriteSite("cache1", "s.example", c.records, c.options);
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Names(), c.listed);
    EXPECT_EQ(CurDir(), "s.example");
    EXPECT_TRUE(WarningTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Walk, RecordWalkTest, ::testing::ValuesIn(WalkCases()),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(SiteTreeTest, SmallRecordsAtTheEndOfTheFileCopyTheirOwnBodies) {
    cache.WriteSite("cache1", "s.example", ThreeSmall(), Unpadded());
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Copy(Item("a")), "A");
    EXPECT_EQ(Copy(Item("b")), "BB");
    EXPECT_EQ(Copy(Item("c")), "CCC");
}

// ---- URL lengths the window cannot hold ---------------------------------------

struct UrlLengthCase {
    const char *label;
    int32_t urlLength;
    bool realUrl;  // the record holds that many URL bytes; else only the field says so
    bool accepted; // read as usual; else "too least buf!" and skipped
};

void PrintTo(const UrlLengthCase &c, std::ostream *out) { *out << c.label; }

class UrlLengthTest : public SiteTreeTest, public ::testing::WithParamInterface<UrlLengthCase> {};

TEST_P(UrlLengthTest, OverLongUrlIsReportedAndTheWalkGoesOn) {
    const UrlLengthCase &c = GetParam();
    std::vector<SiteRecord> records = ThreeSmall();
    SiteRecord &middle = records[1];
    if (c.realUrl) {
        middle.url = "b/" + std::string(static_cast<size_t>(c.urlLength) - 2, 'x');
    } else {
        middle.urlLength = c.urlLength;
    }
    const SiteFileImage image = cache.WriteSite("cache1", "s.example", records);
    const int64_t recordLength = image.records[2].start - image.records[1].start;

    ASSERT_EQ(Enter("s.example"), TRUE);
    if (c.accepted) {
        EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
        EXPECT_TRUE(WarningTexts().empty());
        return;
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c"}));
    const std::string expected = "too least buf! need " + Hex(static_cast<uint32_t>(c.urlLength)) +
                                 ", have 3d9 (pa: " + Hex(static_cast<uint32_t>(recordLength)) + ")";
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{expected});
    EXPECT_EQ(SiteProgressNames(), (std::vector<std::string>{"a", "c"}))
        << "the skipped record takes no progress step";
}

const UrlLengthCase kUrlLengthCases[] = {
    {"Length985FitsTheWindow", 985, true, true},
    {"Length986", 986, true, false},
    {"Length1024", 1024, true, false},
    {"Length1025", 1025, true, false},
    {"Length1025FieldOnly", 1025, false, false},
    {"NegativeLength", -1, false, false},
    {"MostNegativeLength", INT32_MIN, false, false},
    {"HugeLength", 0x7FFFFFFF, false, false},
};

INSTANTIATE_TEST_SUITE_P(UrlLengths, UrlLengthTest, ::testing::ValuesIn(kUrlLengthCases),
                         [](const auto &info) { return std::string(info.param.label); });

// "have" names the longest URL read (985), not the window: a URL of 986 to
// 1024 bytes once read "need 3da, have 400".
TEST_F(SiteTreeTest, UrlLength1025MessageNamesNeed401AndTheLimitApplied) {
    std::vector<SiteRecord> records = {OkRecord("a", "A")};
    records[0].urlLength = 1025;
    records[0].recordLength = 0x1234;
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(WarningTexts(),
              std::vector<std::string>{"too least buf! need 401, have 3d9 (pa: 1234)"});
    EXPECT_TRUE(Names().empty());
}

// Thousands of over-long URLs once meant as many boxes, each closed alone.
// A cancelled box (Esc, F10: -1) ends them for that walk; the walk goes on,
// and the next walk warns again.
TEST_F(SiteTreeTest, CancelledWarningEndsTheWarningsOfThatWalkOnly) {
    std::vector<SiteRecord> records;
    for (int i = 0; i < 6; i++) {
        records.push_back(OkRecord("ok" + std::to_string(i), "x"));
        records.push_back(OkRecord("long" + std::to_string(i), "x"));
        records.back().urlLength = 2000;
    }
    cache.WriteSite("cache1", "s.example", records);
    host.messageAnswers = {0, -1};
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(WarningTexts().size(), 2u) << "one box after the cancelled one";
    EXPECT_EQ(Names(), (std::vector<std::string>{"ok0", "ok1", "ok2", "ok3", "ok4", "ok5"}));

    ASSERT_EQ(Cd(".."), TRUE);
    host.ClearRecords();
    host.messageAnswers = {-1};
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(WarningTexts().size(), 1u);
}

// ---- Entering sites ------------------------------------------------------------

TEST_F(SiteTreeTest, SiteFileThatDoesNotOpenIsEnteredEmpty) {
    cache.WriteSite("cache3", "gone.example", ThreeSmall());
    ReadRootIntoPanel();
    cache.Remove("cache3");
    host.ClearRecords();

    EXPECT_EQ(Enter("gone.example"), TRUE);
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't open file!"});
    EXPECT_EQ(CurDir(), "gone.example");
    EXPECT_EQ(Info().Flags, 0x8058u) << "inside site 3";
    EXPECT_TRUE(Names().empty());
}

#ifndef _WIN32
// A FIFO named like a site file once hung every command in open(): it is
// listed like any unreadable entry, and one swapped in for a listed site
// file is not opened either. A link to a device is no site file.
TEST_F(SiteTreeTest, FifoOrDeviceIsNeverOpenedAsASiteFile) {
    cache.WriteSite("cache3", "gone.example", ThreeSmall());
    WatchedFifo listed(cache.PathOf("cache1"));
    fs::create_symlink("/dev/zero", cache.PathOf("cache2"));
    ReadRootIntoPanel();
    EXPECT_EQ(root.size(), 3u);
    cache.Remove("cache3");
    WatchedFifo swapped(cache.PathOf("cache3"));

    EXPECT_EQ(Enter("gone.example"), TRUE);
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't open file!"});
    EXPECT_FALSE(listed.Opened() || swapped.Opened());
}
#endif

TEST_F(SiteTreeTest, SiteNameOf259CharactersIsEnteredWhole) {
    std::string name(259, 'n');
    for (size_t i = 0; i < name.size(); i += 10) name[i] = static_cast<char>('0' + i / 10 % 10);
    cache.WriteSite("cache1", "other.example", {OkRecord("o", "O")});
    cache.WriteSite("cache2", name, {OkRecord("in/side", "X")});
    ReadRootIntoPanel();

    // The host asks for the long name with the other site current, so the
    // plug-in has to look the name up among the held items.
    ScriptedPanel scripted;
    scripted.items = root;
    scripted.currentItem = NameOf(root[0]) == name ? 1 : 0;
    host.panel = scripted;
    ASSERT_EQ(plugin->SetDirectory(panel, name.c_str(), 0), TRUE);
    EXPECT_EQ(CurDir(), name);
    EXPECT_EQ(Dump(), "in/(side=1)");
}

TEST_F(SiteTreeTest, NameThatNoHeldItemBearsIsRefused) {
    cache.WriteSite("cache1", "s.example", ThreeSmall());
    ReadRootIntoPanel();
    ScriptedPanel scripted;
    scripted.items = root;
    host.panel = scripted;
    EXPECT_EQ(plugin->SetDirectory(panel, "S.example", 0), FALSE);
    EXPECT_EQ(plugin->SetDirectory(panel, "s.example/a", 0), FALSE);
    EXPECT_EQ(CurDir(), "");
    EXPECT_EQ(Info().Flags, 0x8050u);
    EXPECT_TRUE(WarningTexts().empty());
}

TEST_F(SiteTreeTest, ListedFileThatIsNoSiteIsNotEntered) {
    cache.WriteSite("cache1", "s.example", ThreeSmall(), [] {
        SiteFileOptions options;
        options.magic = kSiteMagic + 1;
        return options;
    }());
    EXPECT_EQ(Enter("cache1"), FALSE);
    EXPECT_EQ(CurDir(), "");
    EXPECT_TRUE(WarningTexts().empty());
}

TEST_F(SiteTreeTest, FileNamedCache012IsSiteTwelve) {
    cache.WriteSite("cache012", "twelve.example", ThreeSmall());
    ASSERT_EQ(Enter("twelve.example"), TRUE);
    EXPECT_EQ(Info().Flags, 0x8058u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
}

// Inside a site whatever number its file name carries (none, 0, or not
// after the digits): the site is listed, not the cache root.
class SiteFileWithoutNumberTest : public SiteTreeTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(SiteFileWithoutNumberTest, SiteWithoutANumberIsEnteredAndListed) {
    cache.WriteSite(GetParam(), "zero.example", {OkRecord("a", "1"), OkRecord("d/b", "2")});
    ReadRootIntoPanel();
    ASSERT_EQ(Enter("zero.example"), TRUE);
    EXPECT_EQ(CurDir(), "zero.example");
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "d"}));
    ASSERT_EQ(Cd("d"), TRUE);
    EXPECT_EQ(Names(), std::vector<std::string>{"b"});
    ASSERT_EQ(Cd(".."), TRUE);
    ASSERT_EQ(Cd(".."), TRUE);
    EXPECT_EQ(CurDir(), "");
    EXPECT_EQ(ReadRoot().count, 1);
}

INSTANTIATE_TEST_SUITE_P(FileNames, SiteFileWithoutNumberTest, ::testing::Values("cache", "cache0", "cacheX1"),
                         [](const auto &info) { return std::string(info.param); });

TEST_F(SiteTreeTest, EnteringASiteAgainRebuildsItsTree) {
    cache.WriteSite("cache1", "s.example", {OkRecord("old/one", "1")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Dump(), "old/(one=1)");
    ASSERT_EQ(Cd(".."), TRUE);
    EXPECT_EQ(CurDir(), "");

    cache.WriteSite("cache1", "s.example", {OkRecord("new/two", "22"), OkRecord("old", "333")});
    host.ClearRecords();
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Dump(), "new/(two=2),old=3");
    EXPECT_EQ(SiteProgressNames(), (std::vector<std::string>{"new/two", "old"}));
    EXPECT_EQ(host.ScreenPairingProblem(), "");
}

TEST_F(SiteTreeTest, SilentEntryDrawsNoProgress) {
    cache.WriteSite("cache1", "s.example", ThreeSmall());
    ReadRootIntoPanel();
    ScriptedPanel scripted;
    scripted.items = root;
    host.panel = scripted;
    host.ClearRecords();
    ASSERT_EQ(plugin->SetDirectory(panel, "s.example", OPM_SILENT), TRUE);
    EXPECT_TRUE(host.ProgressBoxes().empty());
    EXPECT_TRUE(host.savedScreens.empty());
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
}

} // namespace
} // namespace qvork_test
