// FindFirstFileA/FindNextFileA/FindClose on real folders: which entries a
// search returns, what it fills in, how it fails, and how it behaves when the
// folder changes under it (through the test hook).
#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/find_file_seam.h"
#include "platform/win32.h"
#include "temp_folder.h"

namespace {

// Every entry of a search, by name; `count` counts them (names may repeat).
struct Walk {
    std::map<std::string, WIN32_FIND_DATAA> entries;
    int count = 0;
};

Walk WalkPattern(const std::string &pattern)
{
    Walk walk;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return walk;
    do {
        walk.entries[data.cFileName] = data;
        walk.count++;
    } while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_FALSE(FindNextFileA(search, &data)) << "the end stays the end";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return walk;
}

std::set<std::string> Names(const Walk &walk)
{
    std::set<std::string> names;
    for (const auto &entry : walk.entries)
        names.insert(entry.first);
    return names;
}

class FindFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"cache12", "Cache7", "CACHE7", "cache", "cache 3", "cache12.tmp",
                                 "cache.1", "cachedir.x", "notcache", "cache12.tmp.x"})
            WriteWholeFile(folder_ / name, "");
        WriteWholeFile(folder_ / "cache12", "12345");
        ASSERT_EQ(mkdir((folder_ / "cachefolder").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((folder_ / "cachedir.d").c_str(), 0755), 0);
    }
    void TearDown() override { SetFindFileHook(nullptr, nullptr); }

    // The pattern as the plug-in builds it: a Win32 folder ending in "\".
    std::string PluginPattern() const { return folder_.Path() + "\\cache*."; }

    TempFolder folder_;
};

TEST_F(FindFileTest, PluginPatternReturnsExtensionlessNamesAndFolders)
{
    Walk walk = WalkPattern(PluginPattern());
    EXPECT_EQ(Names(walk), (std::set<std::string>{"cache12", "Cache7", "CACHE7", "cache",
                                                  "cache 3", "cachefolder"}));
    EXPECT_EQ(walk.count, 6);
    EXPECT_EQ(walk.entries["cachefolder"].dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    for (const char *file : {"cache12", "Cache7", "cache 3"}) {
        DWORD attributes = walk.entries[file].dwFileAttributes;
        EXPECT_EQ(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), 0u) << file;
        EXPECT_NE(attributes & (FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE), 0u) << file;
    }
}

TEST_F(FindFileTest, FillsSizeTimesAndNames)
{
    // 1000000000 s after 1970 is 126444736000000000 units of 100 ns after 1601.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder_ / "cache12").c_str(), times, 0), 0);
    std::string big(70000, 'x');
    WriteWholeFile(folder_ / "cache99", big);

    Walk walk = WalkPattern(folder_.Path() + "/cache*.");
    const WIN32_FIND_DATAA &small = walk.entries["cache12"];
    EXPECT_EQ(small.nFileSizeHigh, 0u);
    EXPECT_EQ(small.nFileSizeLow, 5u);
    uint64_t written = (uint64_t)small.ftLastWriteTime.dwHighDateTime << 32 |
                       small.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, 126444736000000005ull);
    uint64_t accessed = (uint64_t)small.ftLastAccessTime.dwHighDateTime << 32 |
                        small.ftLastAccessTime.dwLowDateTime;
    EXPECT_EQ(accessed, 126444736000000000ull);
    EXPECT_STREQ(small.cAlternateFileName, "");
    EXPECT_EQ(walk.entries["cache99"].nFileSizeLow, 70000u);
}

TEST_F(FindFileTest, StarReturnsDotEntries)
{
    std::set<std::string> names = Names(WalkPattern(folder_.Path() + "\\*"));
    EXPECT_TRUE(names.count(".") && names.count("..") && names.count("cache12.tmp.x"));
    EXPECT_EQ(names.size(), 14u);
}

TEST_F(FindFileTest, FailuresTellMissingFolderFromNoMatch)
{
    struct {
        std::string pattern;
        DWORD error;
    } cases[] = {
        {folder_.Path() + "\\nothing*.", ERROR_FILE_NOT_FOUND},
        {folder_.Path() + "\\missing\\cache*.", ERROR_PATH_NOT_FOUND},
        {folder_.Path() + "\\cache12\\cache*.", ERROR_PATH_NOT_FOUND}, // a file, not a folder
        {folder_.Path() + "\\", ERROR_FILE_NOT_FOUND},
    };
    for (const auto &c : cases) {
        WIN32_FIND_DATAA data;
        SetLastError(0);
        EXPECT_EQ(FindFirstFileA(c.pattern.c_str(), &data), INVALID_HANDLE_VALUE) << c.pattern;
        EXPECT_EQ(GetLastError(), c.error) << c.pattern;
    }
}

TEST_F(FindFileTest, BadHandlesAreRefused)
{
    WIN32_FIND_DATAA data;
    int notASearch = 0;
    EXPECT_FALSE(FindNextFileA(&notASearch, &data));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

    HANDLE search = FindFirstFileA(PluginPattern().c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search)) << "closed twice";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

// The plug-in counts the entries in one walk, then fills its list in a second
// walk; files may come and go in between and during it.
struct FolderChange {
    std::string deleteWhenReached; // deleted just before it would be returned
    std::string createOnFirst;     // created when the first entry is returned
    std::vector<std::string> seen;
};

void ChangeFolder(const char *folder, const char *name, void *context)
{
    auto *change = static_cast<FolderChange *>(context);
    change->seen.push_back(name);
    std::string path = std::string(folder) + "/" + name;
    if (name == change->deleteWhenReached)
        unlink(path.c_str());
    if (change->seen.size() == 1 && !change->createOnFirst.empty())
        WriteWholeFile(std::string(folder) + "/" + change->createOnFirst, "");
}

TEST_F(FindFileTest, EntryDeletedDuringWalkIsSkipped)
{
    int counted = WalkPattern(PluginPattern()).count;
    FolderChange change;
    change.deleteWhenReached = "Cache7";
    SetFindFileHook(ChangeFolder, &change);
    Walk filled = WalkPattern(PluginPattern());
    EXPECT_EQ(filled.count, counted - 1);
    EXPECT_EQ(filled.entries.count("Cache7"), 0u);
    EXPECT_EQ(change.seen.size(), (size_t)counted) << "the hook saw every match";
}

TEST_F(FindFileTest, EntryAddedBetweenWalksIsFound)
{
    int counted = WalkPattern(PluginPattern()).count;
    FolderChange change;
    change.createOnFirst = "cache500.tmp"; // not a match: must not disturb the walk
    SetFindFileHook(ChangeFolder, &change);
    EXPECT_EQ(WalkPattern(PluginPattern()).count, counted);
    SetFindFileHook(nullptr, nullptr);
    WriteWholeFile(folder_ / "cache500", "");
    Walk after = WalkPattern(PluginPattern());
    EXPECT_EQ(after.count, counted + 1);
    EXPECT_EQ(after.entries.count("cache500"), 1u);
}

} // namespace
