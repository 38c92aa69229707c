// FindFirstFileA/FindNextFileA/FindClose on real folders: which entries a
// search returns, what it fills in, how it fails, and how it behaves when the
// folder changes during a walk (through the test hook).
#include <fcntl.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_names.h"
#include "platform/linux/find_file_seam.h"
#include "platform/win32.h"
#include "temp_folder.h"

namespace {

// Every entry a search returns, by name, checking the end of the walk.
std::map<std::string, WIN32_FIND_DATAA> WalkPattern(const std::string &pattern,
                                                    bool namesOnly = false)
{
    std::map<std::string, WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA data;
    HANDLE search = namesOnly ? BeginNameSearch(pattern.c_str(), &data)
                              : FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do
        EXPECT_TRUE(entries.emplace(data.cFileName, data).second) << data.cFileName;
    while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_FALSE(FindNextFileA(search, &data)) << "the end stays the end";
    EXPECT_TRUE(FindClose(search));
    return entries;
}

std::string Names(const std::map<std::string, WIN32_FIND_DATAA> &entries)
{
    std::string names;
    for (const auto &entry : entries)
        names += entry.first + "|";
    return names;
}

uint64_t Ticks(FILETIME time)
{
    return (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

class FindFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"cache12", "Cache7", "CACHE7", "cache", "cache 3", "cache12.tmp",
                                 "cache.1", "cachedir.x", "notcache", "cache1\\x"})
            WriteWholeFile(folder_ / name, "");
        WriteWholeFile(folder_ / "cache12", "12345");
        mkdir((folder_ / "cachefolder").c_str(), 0755);
        mkdir((folder_ / "cachedir.d").c_str(), 0755);
    }
    void TearDown() override { SetFindFileHook(nullptr, nullptr); }

    // The pattern as the plug-in builds it, with "\" separators.
    std::string PluginPattern() const { return folder_.Path() + "\\cache*."; }

    TempFolder folder_;
};

TEST_F(FindFileTest, PluginPatternReturnsExtensionlessFilesAndFolders)
{
    auto entries = WalkPattern(PluginPattern());
    EXPECT_EQ(Names(entries), "CACHE7|Cache7|cache|cache 3|cache12|cachefolder|");
    EXPECT_EQ(entries["cachefolder"].dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    for (const char *file : {"cache12", "Cache7", "cache 3"})
        EXPECT_EQ(entries[file].dwFileAttributes, (DWORD)FILE_ATTRIBUTE_ARCHIVE) << file;
    EXPECT_EQ(WalkPattern(folder_.Path() + "/*").size(), 13u)
        << "all 11, \".\" and \"..\"; never \"cache1\\x\", which names cache1/x to Win32";

    // A name search hands out the same names and types, and no sizes.
    auto names = WalkPattern(PluginPattern(), true);
    EXPECT_EQ(Names(names), Names(entries));
    for (const auto &entry : names) {
        EXPECT_EQ(entry.second.dwFileAttributes, entries[entry.first].dwFileAttributes) << entry.first;
        EXPECT_EQ(entry.second.nFileSizeLow, 0u) << entry.first;
    }
}

TEST_F(FindFileTest, FillsSizesTimesAndNames)
{
    // 10^9 s after 1970 is 126444736000000000 units of 100 ns after 1601.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder_ / "cache12").c_str(), times, 0), 0);
    WriteWholeFile(folder_ / "cache99", std::string(70000, 'x'));
    auto entries = WalkPattern(PluginPattern());
    const WIN32_FIND_DATAA &small = entries["cache12"];
    EXPECT_EQ(small.nFileSizeHigh, 0u);
    EXPECT_EQ(small.nFileSizeLow, 5u);
    EXPECT_EQ(Ticks(small.ftLastWriteTime), 126444736000000005ull);
    EXPECT_EQ(Ticks(small.ftLastAccessTime), 126444736000000000ull);
    EXPECT_STREQ(small.cAlternateFileName, "");
    EXPECT_EQ(entries["cache99"].nFileSizeLow, 70000u);
}

TEST_F(FindFileTest, FoldersOnTheWayAreFoundInAnyCase)
{
    // A cache copied from Windows may spell its folder ICACHE.
    mkdir((folder_ / "ICACHE").c_str(), 0755);
    WriteWholeFile(folder_.Path() + "/ICACHE/cache3", "");
    EXPECT_EQ(Names(WalkPattern(folder_.Path() + "\\icache\\cache*.")), "cache3|");
    EXPECT_EQ(Names(WalkPattern(folder_.Path() + "\\CacheFolder\\*.")), ".|..|");
}

// A plain name finds the entry spelt so first, then those in other case.
TEST_F(FindFileTest, APlainNameFindsItsOwnSpellingFirst)
{
    for (const std::string name : {"Cache7", "CACHE7"}) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder_.Path() + "\\" + name).c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        EXPECT_EQ(found.cFileName, name);
        ASSERT_TRUE(FindNextFileA(search, &found));
        EXPECT_EQ(found.cFileName, std::string(name == "Cache7" ? "CACHE7" : "Cache7"));
        EXPECT_FALSE(FindNextFileA(search, &found));
        FindClose(search);
    }
}

TEST_F(FindFileTest, FailuresTellMissingFolderFromNoMatch)
{
    struct {
        std::string pattern;
        DWORD error;
    } cases[] = {
        {folder_.Path() + "\\nothing*.", ERROR_FILE_NOT_FOUND},
        {folder_.Path() + "\\", ERROR_FILE_NOT_FOUND},
        {folder_.Path() + "\\missing\\cache*.", ERROR_PATH_NOT_FOUND},
        {folder_.Path() + "\\cache12\\cache*.", ERROR_PATH_NOT_FOUND}, // a file, not a folder
    };
    for (const auto &c : cases) {
        WIN32_FIND_DATAA data;
        EXPECT_EQ(FindFirstFileA(c.pattern.c_str(), &data), INVALID_HANDLE_VALUE) << c.pattern;
        EXPECT_EQ(GetLastError(), c.error) << c.pattern;
    }
    int notASearch = 0;
    WIN32_FIND_DATAA data;
    EXPECT_FALSE(FindNextFileA(&notASearch, &data));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    HANDLE search = FindFirstFileA(PluginPattern().c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search)) << "closed twice";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

// The plug-in counts the entries in one walk and fills its list in a second;
// files may come and go in between and during the second walk.
struct FolderChange {
    std::string deleteWhenReached; // deleted just before it would be returned
    std::string createOnFirst;     // created when the first entry is about to be returned
    int calls = 0;
};

void ChangeFolder(const char *folder, const char *name, void *context)
{
    auto *change = static_cast<FolderChange *>(context);
    if (name == change->deleteWhenReached)
        unlink((std::string(folder) + "/" + name).c_str());
    if (change->calls++ == 0 && !change->createOnFirst.empty())
        WriteWholeFile(std::string(folder) + "/" + change->createOnFirst, "");
}

TEST_F(FindFileTest, FolderChangingBetweenAndDuringWalks)
{
    size_t counted = WalkPattern(PluginPattern()).size();
    FolderChange change;
    change.deleteWhenReached = "Cache7";
    change.createOnFirst = "cache500.tmp"; // no match: must not disturb the walk
    SetFindFileHook(ChangeFolder, &change);
    auto filled = WalkPattern(PluginPattern());
    EXPECT_EQ(filled.size(), counted - 1);
    EXPECT_EQ(filled.count("Cache7"), 0u) << "deleted before it was returned: skipped";
    EXPECT_EQ(change.calls, (int)counted) << "the hook saw every match";

    SetFindFileHook(nullptr, nullptr);
    WriteWholeFile(folder_ / "cache501", "");
    EXPECT_EQ(WalkPattern(PluginPattern()).count("cache501"), 1u);
}

} // namespace
