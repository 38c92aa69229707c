// CreateDirectoryA, DeleteFileA, MoveFileExA, GetTempPathA, GetTempFileNameA
// and the streams over them: the results and error codes the plug-in relies
// on when it copies files out, writes header files for the viewer and reads
// the site files a search found.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_names.h"
#include "platform/stream.h"
#include "platform/win32.h"
#include "temp_folder.h"

namespace {

TEST(Files, CreateDirectoryResultsAndErrors)
{
    TempFolder folder;
    WriteWholeFile(folder / "file", "");
    const std::string root = folder.Path() + "\\";
    struct {
        std::string path;
        DWORD error; // 0: created
    } cases[] = {
        {root + "site", 0},
        {root + "site\\deeper", 0},
        {root + "site", ERROR_ALREADY_EXISTS},
        {root + "file", ERROR_ALREADY_EXISTS},
        {root + "missing\\child", ERROR_PATH_NOT_FOUND},
        {root + "file\\child", ERROR_PATH_NOT_FOUND},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryA(c.path.c_str(), nullptr) != 0, c.error == 0) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder / "site/deeper"));
}

TEST(Files, DeleteFileRemovesFilesOnly)
{
    TempFolder folder;
    WriteWholeFile(folder / "header.tmp", "x");
    WriteWholeFile(folder / "locked", "x");
    chmod((folder / "locked").c_str(), 0444);
    mkdir((folder / "dir").c_str(), 0755);
    EXPECT_TRUE(DeleteFileA((folder.Path() + "\\header.tmp").c_str()));
    EXPECT_FALSE(Exists(folder / "header.tmp"));
    struct {
        std::string name;
        DWORD error;
    } failures[] = {
        {"header.tmp", ERROR_FILE_NOT_FOUND},
        {"dir", ERROR_ACCESS_DENIED},
        {"locked", ERROR_ACCESS_DENIED}, // read-only, as Windows has it
        {"missing\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto &f : failures) {
        EXPECT_FALSE(DeleteFileA((folder.Path() + "\\" + f.name).c_str())) << f.name;
        EXPECT_EQ(GetLastError(), f.error) << f.name;
    }
    EXPECT_TRUE(Exists(folder / "dir") && Exists(folder / "locked"));
}

TEST(Files, TempPathEndsWithSlashAndReportsTheSizeNeeded)
{
    const char *saved = getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    struct {
        const char *tmpDir; // nullptr: unset
        const char *expected;
    } cases[] = {{"/var/x", "/var/x/"}, {"/var/x/", "/var/x/"}, {nullptr, "/tmp/"}, {"", "/tmp/"}};
    for (const auto &c : cases) {
        c.tmpDir ? setenv("TMPDIR", c.tmpDir, 1) : unsetenv("TMPDIR");
        char buffer[768];
        DWORD length = (DWORD)strlen(c.expected);
        EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), length);
        EXPECT_STREQ(buffer, c.expected);
        memset(buffer, 0xbd, sizeof buffer);
        EXPECT_EQ(GetTempPathA(length, buffer), length + 1) << "no room for the terminator";
        EXPECT_EQ((unsigned char)buffer[0], 0xbd) << "and nothing written";
    }
    saved ? setenv("TMPDIR", savedValue.c_str(), 1) : unsetenv("TMPDIR");
}

TEST(Files, TempFileNameCreatesNewEmptyFilesNeverReused)
{
    TempFolder folder;
    const std::string prefix = folder.Path() + "/";
    std::set<std::string> names;
    for (int i = 0; i < 20; i++) {
        char buffer[MAX_PATH]; // folder and result, as in the plug-in
        snprintf(buffer, sizeof buffer, "%s", prefix.c_str());
        UINT number = GetTempFileNameA(buffer, "hdr", 0, buffer);
        ASSERT_NE(number, 0u);
        char expected[MAX_PATH];
        snprintf(expected, sizeof expected, "%shdr%X.tmp", prefix.c_str(), number);
        EXPECT_STREQ(buffer, expected);
        EXPECT_TRUE(Exists(buffer) && ReadWholeFile(buffer).empty());
        EXPECT_TRUE(names.insert(buffer).second) << "handed out twice: " << buffer;
        unlink(buffer); // a deleted name is still not handed out again
    }
}

TEST(Files, TempFileNameWithNumberPrefixAndFailures)
{
    TempFolder folder;
    char out[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(folder.Path().c_str(), "header", 0x1AB, out), 0x1ABu);
    EXPECT_EQ(out, folder.Path() + "/hea1AB.tmp");
    EXPECT_FALSE(Exists(out)) << "a given number creates nothing";

    EXPECT_EQ(GetTempFileNameA((folder.Path() + "\\missing").c_str(), "hdr", 0, out), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
    EXPECT_EQ(GetTempFileNameA(std::string(300, 'x').c_str(), "hdr", 0, out), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUFFER_OVERFLOW);
}

// What each kind of thing at either name makes of a move: the result, and
// what the new name holds afterwards.
TEST(Files, MoveReplacesFilesAndLinksButNeverFolders)
{
    struct Case {
        const char *what;
        const char *source; // "file" or "dir"
        const char *target; // "file", "readonly", "dir" or "link"
        DWORD flags;
        DWORD error; // ERROR_SUCCESS: moved
    } cases[] = {
        {"file over a file", "file", "file", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
        {"file over a link", "file", "link", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
        {"file over a file, not replacing", "file", "file", 0, ERROR_ALREADY_EXISTS},
        {"file over a read-only file", "file", "readonly", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"file over a folder", "file", "dir", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"folder over a folder", "dir", "dir", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"folder over a file", "dir", "file", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string from = folder / "from", to = folder / "to", aside = folder / "aside";
        WriteWholeFile(aside, "untouched");
        if (strcmp(c.source, "file") == 0)
            WriteWholeFile(from, "new");
        else
            mkdir(from.c_str(), 0755);
        if (strcmp(c.target, "file") == 0 || strcmp(c.target, "readonly") == 0)
            WriteWholeFile(to, "old");
        if (strcmp(c.target, "readonly") == 0)
            chmod(to.c_str(), 0444);
        if (strcmp(c.target, "dir") == 0)
            mkdir(to.c_str(), 0755);
        if (strcmp(c.target, "link") == 0) {
            ASSERT_EQ(symlink(aside.c_str(), to.c_str()), 0);
        }
        BOOL moved = MoveFileExA(from.c_str(), to.c_str(), c.flags);
        EXPECT_EQ(moved ? (DWORD)ERROR_SUCCESS : GetLastError(), c.error);
        EXPECT_EQ(ReadWholeFile(aside), "untouched") << "a link is replaced, never written through";
        if (c.error == ERROR_SUCCESS) {
            EXPECT_EQ(ReadWholeFile(to), "new");
        } else if (strcmp(c.source, "file") == 0) {
            EXPECT_EQ(ReadWholeFile(from), "new") << "a failed move keeps the file";
        }
    }
}

// A site file the search found is opened without a second look at its name;
// a FIFO in the cache folder is not opened at all (its open would wait for a
// writer), nor is a folder. After a name search, what it left out is filled
// in, opened or not, as the full search has it.
TEST(Files, FoundFilesOpenOnlyWhenTheSearchSawAFile)
{
    TempFolder folder;
    WriteWholeFile(folder / "cache1", "site");
    ASSERT_EQ(mkfifo((folder / "cache2").c_str(), 0644), 0);
    mkdir((folder / "cache3").c_str(), 0755);
    std::map<std::string, WIN32_FIND_DATAA> seen[2];
    for (int namesOnly = 0; namesOnly < 2; namesOnly++) {
        std::set<std::string> opened;
        WIN32_FIND_DATAA found;
        const std::string pattern = folder.Path() + "\\cache*";
        HANDLE search = namesOnly ? BeginNameSearch(pattern.c_str(), &found)
                                  : FindFirstFileA(pattern.c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        do {
            EXPECT_EQ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0,
                      strcmp(found.cFileName, "cache2") == 0)
                << found.cFileName;
            FILE *stream = OpenFoundFile((folder / found.cFileName).c_str(), &found);
            if (stream != nullptr)
                opened.insert(found.cFileName);
            CloseStream(stream);
            seen[namesOnly][found.cFileName] = found;
        } while (FindNextFileA(search, &found));
        FindClose(search);
        EXPECT_EQ(opened, std::set<std::string>{"cache1"});
    }
    ASSERT_EQ(seen[1].size(), 3u);
    for (const auto &[name, full] : seen[0]) {
        const WIN32_FIND_DATAA &named = seen[1][name];
        EXPECT_EQ(named.dwFileAttributes, full.dwFileAttributes) << name;
        EXPECT_EQ(named.nFileSizeLow, full.nFileSizeLow) << name;
        EXPECT_EQ(named.ftLastWriteTime.dwLowDateTime, full.ftLastWriteTime.dwLowDateTime) << name;
        EXPECT_EQ(named.dwReserved1, 0u) << name;
    }
}

} // namespace
