// The cache root as the host sees it: one folder item per "cache*." entry of
// the cache folder, named by the site file's header when the file is a
// readable site, by its own file name otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

std::vector<SiteRecord> TwoRecords() {
    return {OkRecord("/index.html", "<html>home</html>"), OkRecord("/a.html", "<p>a</p>")};
}

// A name whose every position is recognisable, so a cut shows where it fell.
std::string PatternName(size_t length) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('a' + (i * 7) % 26);
    return name;
}

using RootListingTest = PluginTest;

TEST_F(RootListingTest, ReadableSiteIsAFolderNamedBySiteFieldByField) {
    const SiteFileImage image = cache.WriteSite("cache12", "www.example.com", TwoRecords());
    const Listing listing = ReadRoot();

    ASSERT_EQ(listing.result, TRUE);
    ASSERT_EQ(listing.count, 1);
    const PluginPanelItem &item = listing.items[0];
    const FAR_FIND_DATA &find = item.FindData;
    EXPECT_EQ(NameOf(item), "www.example.com");
    EXPECT_EQ(Field(find.dwFileAttributes), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(Field(find.nFileSizeLow), image.bytes.size());
    EXPECT_EQ(Field(find.nFileSizeHigh), 0u);
    EXPECT_NE(find.ftLastWriteTime.dwLowDateTime | find.ftLastWriteTime.dwHighDateTime, 0u)
        << "times come from the directory search";
    EXPECT_EQ(Field(item.PackSize), image.bytes.size());
    EXPECT_EQ(Field(item.PackSizeHigh), 0u);
    EXPECT_EQ(Field(item.NumberOfLinks), 2u);
    EXPECT_EQ(DescriptionOf(item), "cache12") << "the key the site file is opened by";
    EXPECT_EQ(Field(item.Flags), 0u);
    EXPECT_EQ(Field(item.Owner), nullptr);
    EXPECT_EQ(Field(item.CustomColumnData), nullptr);
    EXPECT_EQ(Field(item.CustomColumnNumber), 0);
    EXPECT_EQ(Field(item.UserData), 0u);
    EXPECT_EQ(Field(item.CRC32), 0u);
    EXPECT_EQ(Field(item.Reserved[0]), 0u);
    EXPECT_EQ(Field(item.Reserved[1]), 0u);
}

// One entry named cache1 in the cache folder, and what the root makes of it.
struct EntryCase {
    const char *label;
    std::function<void(const CacheDir &)> make;
    std::string name;                       // expected cFileName
    DWORD links;                            // expected NumberOfLinks
    bool readable;                          // Description "cache1", else none
};

void PrintTo(const EntryCase &entry, std::ostream *out) { *out << entry.label; }

SiteFileOptions WithRecordCount(uint16_t count) {
    SiteFileOptions options;
    options.recordCount = count;
    return options;
}

SiteFileOptions WithMagic(uint32_t magic) {
    SiteFileOptions options;
    options.magic = magic;
    return options;
}

SiteFileOptions WithNameLength(int32_t length) {
    SiteFileOptions options;
    options.nameLength = length;
    return options;
}

SiteFileOptions TruncatedAt(size_t size) {
    SiteFileOptions options;
    options.truncateAt = size;
    return options;
}

auto Site(const std::string &name, std::vector<SiteRecord> records, SiteFileOptions options) {
    return [=](const CacheDir &cache) { cache.WriteSite("cache1", name, records, options); };
}

auto Raw(const std::string &bytes) {
    return [=](const CacheDir &cache) { cache.WriteRaw("cache1", bytes); };
}

const EntryCase kEntryCases[] = {
    {"ReadableSite", Site("www.example.com", TwoRecords(), {}), "www.example.com", 2, true},
    {"WrongMagic", Site("www.example.com", TwoRecords(), WithMagic(kSiteMagic + 1)), "cache1",
     0, false},
    {"MagicBytesReversed", Site("www.example.com", TwoRecords(), WithMagic(0x676B0400)),
     "cache1", 0, false},
    // One changed bit is damage to a site file, not another kind of file.
    {"MagicWithOneBitChanged", Site("www.example.com", TwoRecords(), WithMagic(kSiteMagic ^ 0x100000)),
     "www.example.com", 2, true},
    {"EmptyFile", Raw(""), "cache1", 0, false},
    {"OnlyThreeMagicBytes", Raw(std::string("\x67\x6B\x04", 3)), "cache1", 0, false},
    {"TextFile", Raw("NetSonic cache index\r\n"), "cache1", 0, false},
    {"FolderNamedLikeSiteFile", [](const CacheDir &cache) { cache.MakeFolder("cache1"); },
     "cache1", 0, false},
    // recordCount minus 2; a damaged count below 2 lists 0, not 4294967294.
    {"RecordCountZero", Site("s.example", {}, WithRecordCount(0)), "s.example", 0, true},
    {"RecordCountOne", Site("s.example", {}, WithRecordCount(1)), "s.example", 0, true},
    {"RecordCountTwo", Site("s.example", {}, WithRecordCount(2)), "s.example", 0, true},
    // 16 bits widened without sign: a signed read would go negative here.
    {"RecordCountHighBit", Site("s.example", {}, WithRecordCount(0x8000)), "s.example", 0x7FFE,
     true},
    {"RecordCountMaximum", Site("s.example", {}, WithRecordCount(0xFFFF)), "s.example", 0xFFFD,
     true},
    {"SiteNameHostAndPort", Site("localhost:8080", TwoRecords(), {}), "localhost:8080", 2, true},
    {"SiteNameEmpty", Site("", TwoRecords(), {}), "", 2, true},
    {"SiteName259Bytes", Site(PatternName(259), TwoRecords(), {}), PatternName(259), 2, true},
    // Longer names are cut to what cFileName holds before its terminator.
    {"SiteName260Bytes", Site(PatternName(260), TwoRecords(), {}), PatternName(259), 2, true},
    {"SiteName300Bytes", Site(PatternName(300), TwoRecords(), {}), PatternName(259), 2, true},
    {"NameLengthHuge",
     Site(PatternName(300), TwoRecords(), WithNameLength(0x7FFFFFFF)), PatternName(259), 2, true},
    {"NameLengthHugeButFileShort", Site("short", {}, WithNameLength(0x7FFFFFFF)), "cache1", 0,
     false},
    {"NameLengthMinusOne", Site("s.example", TwoRecords(), WithNameLength(-1)), "cache1", 0,
     false},
    {"NameLengthMinimum", Site("s.example", TwoRecords(), WithNameLength(INT32_MIN)), "cache1",
     0, false},
    // The header ends before the name does.
    {"NameLengthPastEndOfFile", Site("short", {}, WithNameLength(50)), "cache1", 0, false},
    {"EndsInsideRecordCount", Site("s.example", TwoRecords(), TruncatedAt(9)), "cache1", 0,
     false},
    {"EndsBeforeNameLength", Site("s.example", TwoRecords(), TruncatedAt(30)), "cache1", 0,
     false},
    {"EndsInsideNameLength", Site("s.example", TwoRecords(), TruncatedAt(34)), "cache1", 0,
     false},
    {"EndsInsideName", Site("s.example", TwoRecords(), TruncatedAt(kNameOffset + 8)), "cache1",
     0, false},
    {"EndsRightAfterName", Site("s.example", TwoRecords(), TruncatedAt(kNameOffset + 9)),
     "s.example", 2, true},
};

class RootEntryTest : public PluginTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(RootEntryTest, ListedAsFolderWithExpectedFields) {
    const EntryCase &entry = GetParam();
    entry.make(cache);
    const Listing listing = ReadRoot();

    ASSERT_EQ(listing.result, TRUE);
    ASSERT_EQ(listing.count, 1);
    const PluginPanelItem &item = listing.items[0];
    EXPECT_EQ(NameOf(item), entry.name);
    EXPECT_EQ(Field(item.FindData.dwFileAttributes),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(Field(item.NumberOfLinks), entry.links);
    EXPECT_EQ(DescriptionOf(item), entry.readable ? "cache1" : "<none>");
    EXPECT_EQ(Field(item.PackSize), Field(item.FindData.nFileSizeLow));
    if (std::filesystem::is_regular_file(cache.PathOf("cache1"))) {
        EXPECT_EQ(Field(item.PackSize), cache.SizeOf("cache1"));
    }
    EXPECT_TRUE(host.messages.empty() || entry.readable)
        << "an unreadable entry is listed without any box: " << Describe(host.messages[0]);
    EXPECT_TRUE(host.Warnings().empty()) << Describe(host.Warnings()[0]);
}

INSTANTIATE_TEST_SUITE_P(EachKind, RootEntryTest, ::testing::ValuesIn(kEntryCases),
                         [](const ::testing::TestParamInfo<EntryCase> &info) {
                             return std::string(info.param.label);
                         });

TEST_F(RootListingTest, OnlyNamesStartingWithCacheWithoutExtensionAreListed) {
    cache.WriteSite("cache1", "one.example", TwoRecords());
    cache.WriteSite("Cache7", "seven.example", TwoRecords());
    cache.WriteSite("cache", "bare.example", TwoRecords());
    cache.MakeFolder("cachefolder");
    // Wine's directory search lets "*." match names with an extension too;
    // Windows itself and our Linux layer do not, and the listing never does.
    cache.WriteSite("cache12.tmp", "tmp.example", TwoRecords());
    cache.WriteSite("cache.1", "dot.example", TwoRecords());
    cache.WriteSite("xcache2", "x.example", TwoRecords());
    cache.WriteSite("cach5", "short.example", TwoRecords());
    cache.WriteRaw("index.dat", "not a site");

    const Listing listing = ReadRoot();

    EXPECT_EQ(NamesOf(listing), (std::vector<std::string>{"bare.example", "cachefolder",
                                                          "one.example", "seven.example"}));
    const PluginPanelItem *seven = FindByName(listing, "seven.example");
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(DescriptionOf(*seven), "Cache7") << "the file's own name, as found";
}

TEST_F(RootListingTest, EmptyCacheFolderGivesNoItems) {
    const Listing listing = ReadRoot();
    EXPECT_EQ(listing.result, TRUE);
    EXPECT_EQ(listing.count, 0);
}

TEST_F(RootListingTest, MissingCacheFolderGivesNoItems) {
    std::filesystem::remove_all(cache.Folder());
    const Listing listing = ReadRoot();
    EXPECT_EQ(listing.result, TRUE);
    EXPECT_EQ(listing.count, 0);
    EXPECT_TRUE(host.Warnings().empty());
}

TEST_F(RootListingTest, ManySitesAreAllListedOnce) {
    std::vector<std::string> expected;
    for (int i = 1; i <= 40; ++i) {
        const std::string site = "site" + std::to_string(i) + ".example";
        cache.WriteSite("cache" + std::to_string(i), site, TwoRecords());
        expected.push_back(site);
    }
    std::sort(expected.begin(), expected.end());
    const Listing listing = ReadRoot();
    EXPECT_EQ(NamesOf(listing), expected);
    for (const PluginPanelItem &item : listing) {
        const std::string number = NameOf(item).substr(4, NameOf(item).find('.') - 4);
        EXPECT_EQ(DescriptionOf(item), "cache" + number);
    }
}

// ---- The cache folder lookup ---------------------------------------------

// A "CachePath" value that names the test's cache folder but is `length`
// characters long: "." components pad it without changing where it leads.
std::string PaddedCachePath(const CacheDir &cache, size_t length) {
    const char separator = std::filesystem::path::preferred_separator;
    std::string value = cache.CachePathValue();
    while (value.size() + 2 <= length) value += std::string{separator, '.'};
    if (value.size() < length) value.insert(value.size() - 2, 1, separator);
    return value;
}

class CacheLookupTest : public LoadedPluginTest {};

TEST_F(CacheLookupTest, NoCachePathValueGivesEmptyListingHeldLikeAnyOther) {
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    registry.DeleteCachePath();
    HANDLE panel = Open();

    const Listing first = FindData(panel);
    EXPECT_EQ(first.result, TRUE);
    EXPECT_EQ(first.count, 0);
    EXPECT_TRUE(host.Warnings().empty());
    EXPECT_EQ(host.ScreenPairingProblem(), "");

    host.ClearRecords();
    const Listing second = FindData(panel);
    EXPECT_EQ(second.count, 0);
    EXPECT_TRUE(host.events.empty()) << "the empty listing is held: no second scan";
}

TEST_F(CacheLookupTest, PaddedValueThatFitsStillFindsTheCache) {
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    registry.SetCachePath(PaddedCachePath(cache, 200));
    HANDLE panel = Open();
    EXPECT_EQ(NamesOf(FindData(panel)), std::vector<std::string>{"www.example.com"});
}

TEST_F(CacheLookupTest, ValueStoredAsBinaryIsAccepted) {
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    const std::string value = cache.CachePathValue();
    registry.SetValue(HKEY_LOCAL_MACHINE, kNetSonicKey, kCachePathName, REG_BINARY,
                      std::string(value.c_str(), value.size() + 1));
    HANDLE panel = Open();
    EXPECT_EQ(NamesOf(FindData(panel)), std::vector<std::string>{"www.example.com"});
}

// Ways the lookup fails; each must leave the cache folder as it was.
struct LookupFailure {
    const char *label;
    size_t valueLength; // 0: the value is removed
};

void PrintTo(const LookupFailure &failure, std::ostream *out) { *out << failure.label; }

const LookupFailure kLookupFailures[] = {
    {"ValueRemoved", 0},
    // With "\icache\" appended, 242 characters need 251 bytes of the 250.
    {"Value242Characters", 242},
    {"Value249Characters", 249},
    {"Value250Characters", 250}, // does not fit the 250 bytes offered
    {"Value600Characters", 600},
};

class FailedLookupTest : public LoadedPluginTest,
                         public ::testing::WithParamInterface<LookupFailure> {
  protected:
    void BreakLookup() {
        if (GetParam().valueLength == 0)
            registry.DeleteCachePath();
        else
            registry.SetCachePath(PaddedCachePath(cache, GetParam().valueLength));
    }
};

TEST_P(FailedLookupTest, WithoutEarlierLookupRootIsEmpty) {
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    BreakLookup();
    HANDLE panel = Open();
    const Listing listing = FindData(panel);
    EXPECT_EQ(listing.result, TRUE);
    EXPECT_EQ(listing.count, 0) << "the over-long value leads to the real cache: it was used";
}

TEST_P(FailedLookupTest, EarlierCacheFolderStays) {
    CacheDir earlier;
    earlier.WriteSite("cache1", "earlier.example", TwoRecords());
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    registry.SetCachePath(earlier.CachePathValue());
    Close(Open());

    BreakLookup();
    HANDLE panel = Open();
    EXPECT_EQ(NamesOf(FindData(panel)), std::vector<std::string>{"earlier.example"});
}

INSTANTIATE_TEST_SUITE_P(EachWay, FailedLookupTest, ::testing::ValuesIn(kLookupFailures),
                         [](const ::testing::TestParamInfo<LookupFailure> &info) {
                             return std::string(info.param.label);
                         });

TEST_F(CacheLookupTest, EveryOpenLooksTheValueUpAgain) {
    CacheDir other;
    other.WriteSite("cache1", "other.example", TwoRecords());
    cache.WriteSite("cache1", "www.example.com", TwoRecords());
    HANDLE first = Open();
    EXPECT_EQ(NamesOf(FindData(first)), std::vector<std::string>{"www.example.com"});
    Close(first);

    registry.SetCachePath(other.CachePathValue());
    HANDLE second = Open();
    EXPECT_EQ(NamesOf(FindData(second)), std::vector<std::string>{"other.example"});
}

} // namespace
} // namespace qvork_test
