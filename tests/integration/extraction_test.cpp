// Copying out of the cache with GetFiles: file bodies byte for byte across
// the 50000-byte chunks, folder walks, whole sites from the root, the names
// written to disk (also for a cache built to attack the destination), the
// path limits, and every failure: each reported with the entry's name, the
// item left selected, the walk going on.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "plugin_fixture.h"
#include "test_files.h"

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

void WriteWhole(const fs::path &path, const std::string &bytes) { WriteBytes(path, bytes); }

// Bytes of every value, zero and "\r\n\r\n" included, different per seed.
std::string BodyPattern(size_t size, unsigned seed) {
    std::string bytes = Pattern(size, seed);
    if (size >= 8) bytes.replace(size / 2, 4, "\r\n\r\n");
    return bytes;
}

// The tree that holds exactly these files, with their folders.
std::map<std::string, std::string> TreeOf(const std::map<std::string, std::string> &files) {
    std::map<std::string, std::string> tree = files;
    for (const auto &file : files) {
        fs::path parent = fs::path(file.first).parent_path();
        for (; !parent.empty(); parent = parent.parent_path()) tree[parent.generic_string()] = kDirMark;
    }
    return tree;
}

class ExtractTest : public HostPanelTest {
  protected:
    void SetUp() override {
        HostPanelTest::SetUp();
        fs::create_directories(dest);
    }

    std::vector<PluginPanelItem> SelectAll() {
        std::vector<PluginPanelItem> chosen = List();
        for (PluginPanelItem &item : chosen) item.Flags |= PPIF_SELECTED;
        return chosen;
    }

    int Get(std::vector<PluginPanelItem> &items, const std::string &destPath, int move = 0,
            int opMode = 0) {
        std::string path = destPath;
        const int result = plugin->GetFiles(panel, items.empty() ? nullptr : items.data(),
                                            static_cast<int>(items.size()), move, &path[0], opMode);
        EXPECT_EQ(path, destPath) << "DestPath is never changed";
        return result;
    }
    int Get(std::vector<PluginPanelItem> &items) { return Get(items, dest.string()); }

    TempDir work{"qvork-extract"};
    fs::path dest = work.Path() / "out";
};

// ---- Bodies byte for byte -----------------------------------------------------

TEST_F(ExtractTest, BodiesAreCopiedWholeAcrossChunkBoundaries) {
    const size_t sizes[] = {0, 1, 49999, 50000, 50001, 100000, 100001, 150001};
    std::vector<SiteRecord> records;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "body" + std::to_string(sizes[i]);
        records.push_back(OkRecord(name, BodyPattern(sizes[i], static_cast<unsigned>(i))));
        expected[name] = records.back().body;
    }
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    ASSERT_EQ(items.size(), std::size(sizes));

    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), expected);
    for (const PluginPanelItem &item : items) EXPECT_EQ(FlagsOf(item), 0u) << NameOf(item);
    EXPECT_TRUE(WarningTexts().empty());
}

TEST_F(ExtractTest, MoveOnlyCopiesAndLeavesTheCacheAlone) {
    const SiteFileImage image = cache.WriteSite("cache1", "s.example", {OkRecord("f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"f"});
    EXPECT_EQ(Get(items, dest.string(), 1), TRUE);
    EXPECT_EQ(ReadWhole(dest / "f"), "body");
    EXPECT_EQ(ReadWhole(cache.PathOf("cache1")), image.bytes);
    EXPECT_EQ(FlagsOf(items[0]), 0u);
    EXPECT_EQ(Names(), std::vector<std::string>{"f"});
}

// ---- Folders --------------------------------------------------------------------

std::vector<SiteRecord> NestedSite() {
    return {OkRecord("d/a.txt", "A"),        OkRecord("d/e/b.txt", "BB"),
            OkRecord("d/e/f/c.txt", "CCC"),  OkRecord("d/g.txt", ""),
            OkRecord("other.txt", "other"),  OkRecord("n", "n's own body"),
            OkRecord("n/c", "under n"),      OkRecord("p/m", "m's own body"),
            OkRecord("p/m/k", "under m")};
}

TEST_F(ExtractTest, FolderIsWrittenWithEverythingUnderIt) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"d"});
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest),
              TreeOf({{"d/a.txt", "A"}, {"d/e/b.txt", "BB"}, {"d/e/f/c.txt", "CCC"}, {"d/g.txt", ""}}));
    EXPECT_EQ(FlagsOf(items[0]), 0u);

    // From inside the folder, a sub-folder and a file together.
    fs::remove_all(dest);
    fs::create_directories(dest);
    ASSERT_EQ(Cd("d"), TRUE);
    items = Select({"e", "a.txt"});
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf({{"e/b.txt", "BB"}, {"e/f/c.txt", "CCC"}, {"a.txt", "A"}}));
    EXPECT_TRUE(WarningTexts().empty());
}

// A page that URLs go on below is a folder holding the page as index.htm:
// selected or reached in a walk, the page and everything below it are written.
TEST_F(ExtractTest, EntryWithBodyAndChildrenKeepsBothSelectedAndInAWalk) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"n", "p"});
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf({{"n/index.htm", "n's own body"}, {"n/c", "under n"},
                                      {"p/m/index.htm", "m's own body"}, {"p/m/k", "under m"}}));
}

TEST_F(ExtractTest, ExistingDestinationIsReusedAndFilesOverwritten) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    fs::create_directories(dest / "d" / "e");
    WriteWhole(dest / "d" / "a.txt", "an older and much longer content");
    WriteWhole(dest / "d" / "keep.txt", "not in the cache");
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"d"});
    // A DestPath ending in a separator gives a doubled one; it still works.
    EXPECT_EQ(Get(items, dest.string() + "\\"), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), TreeOf({{"d/a.txt", "A"},
                                      {"d/keep.txt", "not in the cache"},
                                      {"d/e/b.txt", "BB"},
                                      {"d/e/f/c.txt", "CCC"},
                                      {"d/g.txt", ""}}));
}

TEST_F(ExtractTest, WhatIsInTheWayFailsItsEntryAndTheRestIsWritten) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    WriteWhole(dest / "d", "a file where the folder goes");
    fs::create_directories(dest / "other.txt"); // a folder where the file goes
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"d", "other.txt", "n"});

    EXPECT_EQ(Get(items), FALSE);
    // The folder "exists", so its entries are tried one by one, in tree order.
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't create file!", "a.txt",
                                                        "can't create dir!", "e",
                                                        "can't create file!", "g.txt",
                                                        "can't create file!", "other.txt"}));
    EXPECT_EQ(ReadWhole(dest / "d"), "a file where the folder goes");
    EXPECT_EQ(ReadWhole(dest / "n" / "index.htm"), "n's own body");
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED)) << "failed: stays selected";
    EXPECT_EQ(FlagsOf(items[1]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[2]), 0u) << "written: deselected";
}

// ---- Whole sites from the root -----------------------------------------------------

TEST_F(ExtractTest, WholeSiteMirrorsItsUrlsAndLeavesThePanelAtTheRoot) {
    cache.WriteSite("cache1", "www.example.com:8080", NestedSite());
    cache.WriteSite("cache2", "second.example", {OkRecord("/", "home"), OkRecord("x/y", "xy")});
    const Listing first = ReadRoot();
    root.assign(first.begin(), first.end());
    std::vector<PluginPanelItem> items = Select({"www.example.com:8080", "second.example"});
    host.ClearRecords();

    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), TreeOf({{"www.example.com-8080/d/a.txt", "A"},
                                      {"www.example.com-8080/d/e/b.txt", "BB"},
                                      {"www.example.com-8080/d/e/f/c.txt", "CCC"},
                                      {"www.example.com-8080/d/g.txt", ""},
                                      {"www.example.com-8080/other.txt", "other"},
                                      {"www.example.com-8080/n/index.htm", "n's own body"},
                                      {"www.example.com-8080/n/c", "under n"},
                                      {"www.example.com-8080/p/m/index.htm", "m's own body"},
                                      {"www.example.com-8080/p/m/k", "under m"},
                                      {"second.example/index.htm", "home"},
                                      {"second.example/x/y", "xy"}}));
    EXPECT_EQ(FlagsOf(items[0]), 0u);
    EXPECT_EQ(FlagsOf(items[1]), 0u);
    bool readingSite = false;
    for (const MessageCall &box : host.ProgressBoxes())
        readingSite = readingSite || (!box.items.empty() && box.items[0] == "reading site");
    EXPECT_TRUE(readingSite) << "each site is loaded under its progress box";
    EXPECT_EQ(host.ScreenPairingProblem(), "");

    EXPECT_EQ(CurDir(), "");
    EXPECT_EQ(Info().Flags, 0x8050u);
    host.ClearRecords();
    const Listing again = ReadRoot();
    EXPECT_EQ(again.items, first.items) << "the held root listing";
    EXPECT_EQ(again.count, 2);
    EXPECT_TRUE(host.ProgressBoxes().empty());
}

TEST_F(ExtractTest, SilentWholeSiteCopyDrawsNothing) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    ReadRootIntoPanel();
    std::vector<PluginPanelItem> items = Select({"s.example"});
    host.ClearRecords();
    EXPECT_EQ(Get(items, dest.string(), 0, OPM_SILENT), TRUE);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.savedScreens.empty());
    EXPECT_EQ(ReadWhole(dest / "s.example" / "d" / "a.txt"), "A");
}

TEST_F(ExtractTest, WholeSiteWhoseFileIsGoneFails) {
    cache.WriteSite("cache1", "gone.example", NestedSite());
    cache.WriteSite("cache2", "here.example", {OkRecord("f", "F")});
    ReadRootIntoPanel();
    std::vector<PluginPanelItem> items = Select({"gone.example", "here.example"});
    cache.Remove("cache1");

    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't open file!"});
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), 0u);
    EXPECT_EQ(ReadWhole(dest / "here.example" / "f"), "F");
    EXPECT_EQ(CurDir(), "");
}

TEST_F(ExtractTest, ListedFileThatIsNoSiteWritesNothing) {
    SiteFileOptions options;
    options.magic = kSiteMagic + 1;
    cache.WriteSite("cache1", "s.example", NestedSite(), options);
    ReadRootIntoPanel();
    std::vector<PluginPanelItem> items = Select({"cache1"});
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_TRUE(DiskTree(dest).empty());
    EXPECT_EQ(CurDir(), "");
}

// ---- Names on disk ---------------------------------------------------------------------

TEST_F(ExtractTest, ReservedCharactersBecomeDashes) {
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("q?x=1+2", "1"), OkRecord("s*", "2"), OkRecord("c:d", "3"),
                     OkRecord("p|q", "4"), OkRecord("f/a:b?/z", "5")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf({{"q-x=1-2", "1"}, {"s-", "2"}, {"c-d", "3"}, {"p-q", "4"},
                                      {"f/a-b-/z", "5"}}));
}

// A path of 260 characters is used whole; a longer one has its name cut so
// the path is 259 long. Entries that agree that far get numbered names.
TEST_F(ExtractTest, LongPathsAreCutTo259Characters) {
    const std::string destText = dest.string();
    const size_t room = 261 - destText.size() - 1; // a name that makes the path 261 long
    ASSERT_GT(room, 10u);
    ASSERT_LT(room, 250u) << "the temporary folder's path is too short for this test";
    std::string stem(room - 1, 'n');
    for (size_t i = 0; i < stem.size(); i += 7) stem[i] = static_cast<char>('a' + i % 26);

    std::vector<SiteRecord> records = {OkRecord(stem + "1", "first 261"),
                                       OkRecord(stem + "2", "second 261"),
                                       OkRecord(stem + "22", "262")};
#ifndef _WIN32
    records.push_back(OkRecord(stem.substr(0, room - 2) + "x", "exactly 260"));
#endif
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    EXPECT_EQ(Get(items), TRUE);
    std::map<std::string, std::string> expected = {{stem.substr(0, room - 2), "first 261"},
                                                    {stem.substr(0, room - 4) + "~2", "second 261"},
                                                    {stem.substr(0, room - 4) + "~3", "262"}};
#ifndef _WIN32
    expected[stem.substr(0, room - 2) + "x"] = "exactly 260";
#endif
    EXPECT_EQ(DiskTree(dest), expected);
}

#ifdef _WIN32
// Windows gives a file a short name too: a URL that is another page's short
// name is a page of its own, not written over that page, also when the
// destination is given by its own short name.
TEST_F(ExtractTest, AUrlThatIsAnotherPagesShortNameIsAPageOfItsOwn) {
    const fs::path folder = dest / "destination-folder-long";
    fs::create_directories(folder);
    const fs::path probe = folder / "download-page.html"; // the short name it gets there
    WriteWhole(probe, "");
    char shortFolder[MAX_PATH];
    char shortPath[MAX_PATH];
    const DWORD folderLength = GetShortPathNameA(folder.string().c_str(), shortFolder, sizeof shortFolder);
    const DWORD length = GetShortPathNameA(probe.string().c_str(), shortPath, sizeof shortPath);
    fs::remove(probe);
    const std::string alias = length != 0 ? fs::path(shortPath).filename().string() : "";
    if (folderLength == 0 || alias.empty() || alias == probe.filename().string())
        GTEST_SKIP() << "no short names on this file system";
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("download-page.html", "long"), OkRecord(alias, "short")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    EXPECT_EQ(Get(items, shortFolder), TRUE);
    std::map<std::string, std::string> tree = DiskTree(folder);
    EXPECT_EQ(tree.size(), 2u) << alias << " in " << shortFolder;
    EXPECT_EQ(tree["download-page.html"], "long");
}
#endif

// No temporary name fits behind a folder path of 248 characters or more,
// though the files' names may: their temporaries go to a folder above it.
TEST_F(ExtractTest, FilesOfAFolderTooDeepForATemporaryAreWritten) {
    const std::string folder(250 - dest.string().size() - 1, 'f');
    cache.WriteSite("cache1", "s.example", {OkRecord(folder + "/a", "a"), OkRecord(folder + "/bb", "bb")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf({{folder + "/a", "a"}, {folder + "/bb", "bb"}}));
    EXPECT_TRUE(WarningTexts().empty());
}

// A listed name of 300 characters fills cFileName without a terminator; the
// copy takes its 260 bytes and the path cut then applies as to any name.
TEST_F(ExtractTest, ListedNameWithoutTerminatorIsWrittenUnderTheCutPath) {
    std::string name(300, 'x');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i % 26);
    cache.WriteSite("cache1", "s.example", {OkRecord("d/" + name, "long"), OkRecord("e/" + name, "in walk")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> walk = Select({"e"});
    ASSERT_EQ(Cd("d"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    ASSERT_EQ(items.size(), 1u);

    EXPECT_EQ(Get(items), TRUE);
    const size_t kept = 259 - dest.string().size() - 1;
    EXPECT_EQ(DiskTree(dest), (std::map<std::string, std::string>{{name.substr(0, kept), "long"}}));

    fs::remove_all(dest);
    fs::create_directories(dest);
    EXPECT_EQ(Get(walk), TRUE);
    const size_t keptInWalk = 259 - dest.string().size() - 3; // behind "\e\"
    EXPECT_EQ(DiskTree(dest), TreeOf({{"e/" + name.substr(0, keptInWalk), "in walk"}}));
    EXPECT_TRUE(WarningTexts().empty());
}

#ifndef _WIN32
// A folder whose own path is 259 characters: every entry's path is cut back
// to the folder's, so each entry fails by name and the walk goes on.
TEST_F(ExtractTest, EntriesBehindTheCutOfALongFolderPathFailOneByOne) {
    const std::string folder(259 - dest.string().size() - 1, 'f');
    cache.WriteSite("cache1", "s.example",
                    {OkRecord(folder + "/c1", "1"), OkRecord(folder + "/c2", "2"), OkRecord("ok", "ok")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({folder, "ok"});
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't create file!", "c1",
                                                        "can't create file!", "c2"}));
    EXPECT_EQ(DiskTree(dest), (std::map<std::string, std::string>{{folder, kDirMark}, {"ok", "ok"}}));
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), 0u);
}
#endif

// A cache built to write outside the destination: parent components, path
// separators inside names, names Windows would trim or send to a device.
struct Attack {
    std::string url;
    std::string written; // where it must land, relative to its folder
};

std::vector<Attack> Attacks() {
    return {
        {"../escape1", "--/escape1"},
        {"..\\..\\escape2", "..-..-escape2"},
        {"./x/../../escape3", "-/x/--/--/escape3"},
        {"d1/.", "d1/-"},
        {"d2/...", "d2/---"},
        {"d3/. . .", "d3/-----"},
        {"d4/  ", "d4/--"},
        {"d5/.. ", "d5/---"},
        {"a.", "a-"},
        {"b ", "b-"},
        {"c<d>e\"f", "c-d-e-f"},
        {std::string("ctl\x01z\x1fz\tq", 9), "ctl-z-z-q"},
        {"q?+*:|", "q-----"},
        {"slash\\in", "slash-in"},
        {"CON", "_CON"},
        {"nul.txt", "_nul.txt"},
        {"com1", "_com1"},
        {"LpT9.html", "_LpT9.html"},
        {"CONIN$", "_CONIN$"},
        {"conout$.log", "_conout$.log"},
        {"aux .txt", "_aux .txt"},
        {"PRN ", "_PRN-"},
        {"y/Nul", "y/_Nul"},
        {"COM10", "COM10"},
        {"CONX", "CONX"},
        {"lpt", "lpt"},
    };
}

class AttackTest : public ExtractTest {
  protected:
    void SetUp() override {
        ExtractTest::SetUp();
        // The destination sits three levels down; a sentinel at each level.
        dest = work.Path() / "l1" / "l2" / "out";
        fs::create_directories(dest);
        for (const fs::path &level : {work.Path(), work.Path() / "l1", work.Path() / "l1" / "l2"})
            WriteWhole(level / "sentinel", "untouched");
        std::vector<SiteRecord> records;
        for (size_t i = 0; i < Attacks().size(); ++i)
            records.push_back(OkRecord(Attacks()[i].url, "R" + std::to_string(i)));
        cache.WriteSite("cache1", kSite, records);
    }

    std::map<std::string, std::string> Expected(const std::string &under) const {
        std::map<std::string, std::string> files;
        for (size_t i = 0; i < Attacks().size(); ++i)
            files[under + Attacks()[i].written] = "R" + std::to_string(i);
        return TreeOf(files);
    }

    // Only the sentinels and the destination are in the work folder.
    void ExpectNothingOutside() {
        std::map<std::string, std::string> outside;
        for (const auto &entry : DiskTree(work.Path()))
            if (entry.first.rfind("l1/l2/out", 0) != 0) outside.insert(entry);
        EXPECT_EQ(outside, (std::map<std::string, std::string>{{"l1", kDirMark},
                                                               {"l1/l2", kDirMark},
                                                               {"l1/l2/sentinel", "untouched"},
                                                               {"l1/sentinel", "untouched"},
                                                               {"out", kDirMark}, // unused
                                                               {"sentinel", "untouched"}}));
    }

    static constexpr const char *kSite = "../../site\\x";
};

TEST_F(AttackTest, WholeSiteStaysInsideTheDestination) {
    ReadRootIntoPanel();
    std::vector<PluginPanelItem> items = Select({kSite});
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), Expected("..-..-site-x/"));
    ExpectNothingOutside();
}

TEST_F(AttackTest, SelectedEntriesStayInsideTheDestination) {
    ASSERT_EQ(Enter(kSite), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), Expected(""));
    ExpectNothingOutside();
}

// ---- Failures while copying ---------------------------------------------------------------

#ifndef _WIN32
// A link already at a target name is replaced by the written file, never
// written through: not into a device, not onto a file outside, not creating
// its dangling target outside the destination.
class LinkAtTargetTest : public ExtractTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LinkAtTargetTest, LinkIsReplacedNeverWrittenThrough) {
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("full", BodyPattern(GetParam(), 3)), OkRecord("d/file", "into d"),
                     OkRecord("d/dangling", "new")});
    const fs::path outside = work.Path() / "outside";
    WriteWhole(outside, "the user's own file");
    fs::create_directories(dest / "d");
    fs::create_symlink("/dev/full", dest / "full");
    fs::create_symlink(outside, dest / "d" / "file");
    fs::create_symlink(work.Path() / "created-outside", dest / "d" / "dangling");
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"full", "d"});

    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), TreeOf({{"full", BodyPattern(GetParam(), 3)}, {"d/file", "into d"},
                                      {"d/dangling", "new"}}));
    EXPECT_EQ(ReadWhole(outside), "the user's own file");
    EXPECT_FALSE(fs::exists(work.Path() / "created-outside"));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LinkAtTargetTest, ::testing::Values(1, 50000, 100001),
                         [](const auto &info) { return "Body" + std::to_string(info.param); });

// Nor is a link where a folder goes entered: the folder fails by name, and
// its files are not written where the link leads (a file there fails them).
TEST_F(ExtractTest, LinkOrFileAtAFoldersNameIsNotEntered) {
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("d/in-d", "d"), OkRecord("f/in-f", "f"), OkRecord("ok", "ok")});
    const fs::path outside = work.Path() / "elsewhere";
    fs::create_directories(outside);
    fs::create_symlink(outside, dest / "d");
    WriteWhole(dest / "f", "a file");
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();

    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts().size(), 4u); // two boxes for each folder
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(ReadWhole(dest / "ok"), "ok");
}

// A FIFO at a target name blocked the copy in open(): neither it nor a
// device node is written or replaced now, and the item fails by name.
TEST_F(ExtractTest, FifoAtTargetNameIsNotWritten) {
    cache.WriteSite("cache1", "s.example", {OkRecord("pipe", "to the pipe"), OkRecord("ok", "ok")});
    ASSERT_EQ(mkfifo((dest / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"pipe", "ok"});

    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't create file!", "pipe"}));
    EXPECT_TRUE(fs::is_fifo(dest / "pipe")) << "left as it was";
    EXPECT_EQ(ReadWhole(dest / "ok"), "ok");
}
#endif

// A site file that ends inside a body: the entry fails and leaves no partial
// file; an older file of that name is left as it was.
struct CutCase {
    size_t bodySize;
    size_t delivered;
};

void PrintTo(const CutCase &c, std::ostream *out) { *out << c.delivered << " of " << c.bodySize; }

class TruncatedSiteTest : public ExtractTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(TruncatedSiteTest, NoPartialFileAndTheOlderFileIsKept) {
    const CutCase c = GetParam();
    const std::vector<SiteRecord> records = {OkRecord("whole", "complete"),
                                             OkRecord("cut", BodyPattern(c.bodySize, 9))};
    SiteFileOptions options;
    options.padTail = false;
    const SiteFileImage full = BuildSiteFile("s.example", records, options);
    options.truncateAt = static_cast<size_t>(full.records[1].bodyOffset) + c.delivered;
    cache.WriteSite("cache1", "s.example", records, options);
    WriteWhole(dest / "cut", "an older copy");
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"cut", "whole"});

    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't read file!", "cut"}));
    EXPECT_EQ(DiskTree(dest), TreeOf({{"cut", "an older copy"}, {"whole", "complete"}}))
        << "nothing but the two files: no temporary file left";
    EXPECT_EQ(ReadWhole(dest / "whole"), "complete");
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cuts, TruncatedSiteTest,
                         ::testing::Values(CutCase{100, 0}, CutCase{100, 40}, CutCase{100, 99},
                                           CutCase{100001, 50000}, CutCase{100001, 60000}),
                         [](const auto &info) {
                             return "Body" + std::to_string(info.param.bodySize) + "Cut" +
                                    std::to_string(info.param.delivered);
                         });

// dataLength values that make no sense for the record they sit in.
class DamagedLengthTest : public ExtractTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DamagedLengthTest, NegativeBodyLengthReadsAndWritesNothing) {
    std::vector<SiteRecord> records = {OkRecord("bad", "body"), OkRecord("d/bad", "body"),
                                       OkRecord("d/good", "good")};
    records[0].dataLength = GetParam();
    records[1].dataLength = GetParam();
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(+Item("bad").FindData.nFileSizeLow, 0u) << "listed as 0, not as 4 billion";
    std::vector<PluginPanelItem> items = Select({"bad", "d"});

    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't read file!", "bad",
                                                        "can't read file!", "bad"}));
    EXPECT_EQ(DiskTree(dest), TreeOf({{"d/good", "good"}})) << "nothing created for them";
}

INSTANTIATE_TEST_SUITE_P(DataLengths, DamagedLengthTest,
                         ::testing::Values(0, 9, 5, -1, INT32_MIN),
                         [](const auto &info) {
                             return info.param < 0 ? "Minus" + std::to_string(-(int64_t)info.param)
                                                   : "Plus" + std::to_string(info.param);
                         });

TEST_F(ExtractTest, BodyLengthBeyondTheFileWritesNothingAndFails) {
    std::vector<SiteRecord> records = {OkRecord("huge", "short body")};
    records[0].dataLength = 0x7FFFFFFF;
    SiteFileOptions options;
    options.padTail = false;
    cache.WriteSite("cache1", "s.example", records, options);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"huge"});
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't read file!", "huge"}));
    EXPECT_TRUE(DiskTree(dest).empty());
}

// A header whose end lies past the 50000 bytes searched, and a dataLength
// that one changed bit sent past the record's link: neither copy may hold
// another record's bytes or the header's.
TEST_F(ExtractTest, BodyNeverTakesTheHeaderOrTheNextRecord) {
    SiteRecord longHeader = OkRecord("long", "body");
    longHeader.header += "\r\nX-Fill: " + std::string(50000, 'a');
    std::vector<SiteRecord> records = {OkRecord("one", "first body"), OkRecord("two", "second"),
                                       longHeader, OkRecord("three", "third")};
    records[0].dataLength =
        static_cast<int32_t>(10 + records[0].header.size() + records[0].body.size() + 256);
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"one", "two", "long", "three"});
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't read file!", "long"}));
    EXPECT_EQ(DiskTree(dest), TreeOf({{"one", "first body"}, {"two", "second"}, {"three", "third"}}));
}

// The site file is gone when the copy reopens it.
TEST_F(ExtractTest, SiteStreamThatDoesNotOpenFailsEachFileWithoutOutput) {
    cache.WriteSite("cache012", "s.example", NestedSite());
    ASSERT_EQ(Enter("s.example"), TRUE);
    cache.Remove("cache012");
    std::vector<PluginPanelItem> items = Select({"other.txt", "n"});
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't open file!", "other.txt",
                                                        "can't open file!", "n"}));
    EXPECT_TRUE(DiskTree(dest).empty());
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), static_cast<DWORD>(PPIF_SELECTED));
}

// DestPath plus a name must fit the path limit (a destination is never cut)
// and the 2048-byte path; nothing is written past it, nothing is created.
class LongDestTest : public ExtractTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongDestTest, DestPathTooLongFailsEachItemByName) {
    cache.WriteSite("cache1", "s.example", NestedSite());
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"other.txt", "d"});
    std::string longDest = (work.Path() / "L").string();
    longDest.resize(GetParam(), 'L');

    EXPECT_EQ(Get(items, longDest), FALSE);
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't create file!", "other.txt",
                                                        "can't create dir!", "d"}));
    EXPECT_EQ(DiskTree(work.Path()), (std::map<std::string, std::string>{{"out", kDirMark}}));
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), static_cast<DWORD>(PPIF_SELECTED));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongDestTest, ::testing::Values(259, 260, 300, 2046, 2047, 2048, 5000),
                         [](const auto &info) { return "Dest" + std::to_string(info.param); });

// Every item gets a name of its own: names one copy created are never taken
// over by a later item of the same copy, which gets the first free "~N" name
// before the extension; a site whose name cleans to nothing gets a folder.
struct NameCase {
    const char *label;
    std::vector<std::string> urls;   // stored in this order, bodies "0", "1", ...
    std::vector<std::string> files;  // where each body lands, in the same order
    const char *site;                // copied as a whole site; NULL: from inside it
};

class OwnNameTest : public ExtractTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(OwnNameTest, EveryItemGetsANameOfItsOwn) {
    NameCase c = GetParam();
    if (c.files.empty()) {
        dest = work.Path() / std::string(60, 'o');
        fs::create_directories(dest);
        const size_t room = 259 - (dest.string().size() + 7) - 1; // names behind "<dest>/search/"
        for (size_t page = 1; page <= c.urls.size(); ++page) {
            std::string name = c.urls[page - 1].substr(7);
            name[7] = '-'; // the "?"
            c.files.push_back("search/" + (page == 1 ? name.substr(0, room)
                                                     : name.substr(0, room - 2) + "~" + std::to_string(page)));
        }
    }
    std::vector<SiteRecord> records;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < c.urls.size(); ++i) {
        records.push_back(OkRecord(c.urls[i], std::to_string(i)));
        expected[c.files[i]] = std::to_string(i);
    }
    cache.WriteSite("cache1", c.site != nullptr ? c.site : "s.example", records);
    std::vector<PluginPanelItem> items;
    if (c.site != nullptr) {
        ReadRootIntoPanel();
        items = Select({c.site});
    } else {
        ASSERT_EQ(Enter("s.example"), TRUE);
        items = SelectAll();
    }
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), TreeOf(expected));
    // Again into the same place: every item takes its name again, none merged.
    items = c.site != nullptr ? Select({c.site}) : SelectAll();
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf(expected));
}

std::vector<NameCase> NameCases() {
    std::vector<NameCase> cases = {
        {"CleanedAlike", {"x:y", "x?y", "x|y", "x-y", "t.", "t ", "t-"},
         {"x-y", "x-y~2", "x-y~3", "x-y~4", "t-", "t-~2", "t-~3"}, nullptr},
        {"BeforeTheExtension", {"a:b.html", "a|b.html", "a:b.tar.gz", "a|b.tar.gz"},
         {"a-b.html", "a-b~2.html", "a-b.tar.gz", "a-b.tar~2.gz"}, nullptr},
        {"FoldersToo", {"d:x/a", "d|x/b", "f|g", "f:g/c"},
         {"s.example/d-x/a", "s.example/d-x~2/b", "s.example/f-g", "s.example/f-g~2/c"}, "s.example"},
#ifdef _WIN32
        {"CaseAsTheFileSystemSees", {"Page.html", "page.html"}, {"Page.html", "page~2.html"}, nullptr},
#else
        {"CaseAsTheFileSystemSees", {"Page.html", "page.html"}, {"Page.html", "page.html"}, nullptr},
#endif
        {"EmptySiteName", {"f"}, {"-/f"}, ""},
        {"DotsSiteName", {"f"}, {"--/f"}, ".."},
    };
    // Five pages cut to one name by the path limit (files worked out by the
    // test): the numbered names are cut too, so every path still fits.
    NameCase cut{"CutByThePathLimit", {}, {}, nullptr};
    for (int page = 1; page <= 5; ++page)
        cut.urls.push_back("search/results?q=" + std::string(200, 'q') + "&page=" + std::to_string(page));
    cases.push_back(cut);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Names, OwnNameTest, ::testing::ValuesIn(NameCases()),
                         [](const auto &info) { return std::string(info.param.label); });

// A site is reopened by its own file name for a copy, never by the number
// in it (cache012 is not cache12, cache is not cache0).
class SiteFileNameTest : public ExtractTest,
                         public ::testing::WithParamInterface<std::pair<const char *, const char *>> {};

TEST_P(SiteFileNameTest, CopiesTakeTheSitesOwnBytes) {
    cache.WriteSite(GetParam().first, "own.example", {OkRecord("f", "own body")});
    cache.WriteSite(GetParam().second, "decoy.example", {OkRecord("f", "decoy body")});
    ReadRootIntoPanel();
    std::vector<PluginPanelItem> site = Select({"own.example"});
    EXPECT_EQ(Get(site), TRUE);
    ASSERT_EQ(Enter("own.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"f"});
    EXPECT_EQ(Get(items), TRUE);
    EXPECT_EQ(DiskTree(dest), TreeOf({{"own.example/f", "own body"}, {"f", "own body"}}));
}

INSTANTIATE_TEST_SUITE_P(Files, SiteFileNameTest,
                         ::testing::Values(std::make_pair("cache012", "cache12"),
                                           std::make_pair("cache", "cache0")),
                         [](const auto &info) { return std::string(info.param.first); });

// A cancelled warning box ends the copy: the items after it are not tried.
struct CancelCase {
    const char *label;
    std::vector<int> answers; // to the warning boxes, in order
    size_t boxes;             // warning boxes shown
    bool lastWritten;         // the good item after the two bad ones
};

class CancelTest : public ExtractTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, CancelledBoxEndsTheCopy) {
    std::vector<SiteRecord> records = {OkRecord("bad1", "x"), OkRecord("bad2", "x"), OkRecord("good", "g")};
    records[0].dataLength = -1;
    records[1].dataLength = -1;
    cache.WriteSite("cache1", "s.example", records);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = SelectAll();
    host.messageAnswers.assign(GetParam().answers.begin(), GetParam().answers.end());
    EXPECT_EQ(Get(items), FALSE);
    EXPECT_EQ(WarningTexts().size(), GetParam().boxes);
    EXPECT_EQ(fs::exists(dest / "good"), GetParam().lastWritten);
    EXPECT_EQ(FlagsOf(items[2]), GetParam().lastWritten ? 0u : static_cast<DWORD>(PPIF_SELECTED));
}

INSTANTIATE_TEST_SUITE_P(Answers, CancelTest,
                         ::testing::Values(CancelCase{"NoCancel", {0, 0, 0, 0}, 4, true},
                                           CancelCase{"FirstBox", {-1}, 1, false},
                                           CancelCase{"NameBox", {0, -1}, 2, false},
                                           CancelCase{"SecondItem", {0, 0, -1}, 3, false}),
                         [](const auto &info) { return std::string(info.param.label); });

} // namespace
} // namespace qvork_test
