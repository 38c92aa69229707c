// CreateDirectoryA, DeleteFileA, GetTempPathA and GetTempFileNameA: the
// results and error codes the plug-in relies on when it copies files out and
// when it writes header files for the viewer.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "temp_folder.h"

namespace {

bool IsFolder(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(CreateDirectory, ResultsAndErrors)
{
    TempFolder folder;
    WriteWholeFile(folder / "file", "");
    ASSERT_EQ(mkdir((folder / "existing").c_str(), 0755), 0);
    struct {
        std::string path;
        bool created;
        DWORD error;
    } cases[] = {
        {folder.Path() + "\\site", true, 0},
        {folder.Path() + "\\site\\deeper", true, 0},
        {folder.Path() + "\\existing", false, ERROR_ALREADY_EXISTS},
        {folder.Path() + "\\file", false, ERROR_ALREADY_EXISTS},
        {folder.Path() + "\\missing\\child", false, ERROR_PATH_NOT_FOUND},
        {folder.Path() + "\\file\\child", false, ERROR_PATH_NOT_FOUND},
        {"", false, ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryA(c.path.c_str(), nullptr) != 0, c.created) << c.path;
        if (!c.created) {
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
    EXPECT_TRUE(IsFolder(folder / "site/deeper"));
}

TEST(DeleteFile, FilesOnly)
{
    TempFolder folder;
    WriteWholeFile(folder / "header.tmp", "x");
    ASSERT_EQ(mkdir((folder / "dir").c_str(), 0755), 0);

    EXPECT_TRUE(DeleteFileA((folder.Path() + "\\header.tmp").c_str()));
    EXPECT_FALSE(Exists(folder / "header.tmp"));
    struct {
        std::string path;
        DWORD error;
    } failures[] = {
        {folder.Path() + "\\header.tmp", ERROR_FILE_NOT_FOUND},
        {folder.Path() + "\\dir", ERROR_ACCESS_DENIED},
        {folder.Path() + "\\missing\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto &f : failures) {
        SetLastError(0);
        EXPECT_FALSE(DeleteFileA(f.path.c_str())) << f.path;
        EXPECT_EQ(GetLastError(), f.error) << f.path;
    }
    EXPECT_TRUE(IsFolder(folder / "dir"));
}

class TempPathTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char *old = getenv("TMPDIR");
        hadTmpDir_ = old != nullptr;
        if (old)
            oldTmpDir_ = old;
    }
    void TearDown() override
    {
        if (hadTmpDir_)
            setenv("TMPDIR", oldTmpDir_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    bool hadTmpDir_ = false;
    std::string oldTmpDir_;
};

TEST_F(TempPathTest, EndsWithSlashAndReportsSizes)
{
    struct {
        const char *tmpDir; // nullptr: unset
        const char *expected;
    } cases[] = {{"/var/x", "/var/x/"}, {"/var/x/", "/var/x/"}, {nullptr, "/tmp/"}, {"", "/tmp/"}};
    for (const auto &c : cases) {
        if (c.tmpDir)
            setenv("TMPDIR", c.tmpDir, 1);
        else
            unsetenv("TMPDIR");
        char buffer[768];
        DWORD length = GetTempPathA(sizeof buffer, buffer);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(length, strlen(c.expected));

        DWORD exact = (DWORD)strlen(c.expected);
        char small[32];
        memset(small, 0xbd, sizeof small);
        EXPECT_EQ(GetTempPathA(exact, small), exact + 1) << "too small: the size needed";
        EXPECT_EQ((unsigned char)small[0], 0xbd) << "and nothing written";
        EXPECT_EQ(GetTempPathA(0, nullptr), exact + 1);
    }
}

TEST(TempFileName, CreatesNewEmptyFiles)
{
    TempFolder folder;
    char buffer[MAX_PATH];
    snprintf(buffer, sizeof buffer, "%s/", folder.Path().c_str());
    std::string prefix = buffer;
    std::set<std::string> names;
    for (int i = 0; i < 20; i++) {
        // The same buffer is folder and result, as in the plug-in.
        snprintf(buffer, sizeof buffer, "%s", prefix.c_str());
        UINT number = GetTempFileNameA(buffer, "hdr", 0, buffer);
        ASSERT_NE(number, 0u);
        char expected[MAX_PATH];
        snprintf(expected, sizeof expected, "%shdr%X.tmp", prefix.c_str(), number);
        EXPECT_STREQ(buffer, expected);
        EXPECT_TRUE(Exists(buffer));
        EXPECT_EQ(ReadWholeFile(buffer), "");
        EXPECT_TRUE(names.insert(buffer).second) << "name handed out twice: " << buffer;
        unlink(buffer); // a deleted name is still not handed out again
    }
}

TEST(TempFileName, PrefixUniqueAndFailures)
{
    TempFolder folder;
    char out[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(folder.Path().c_str(), "header", 0x1AB, out), 0x1ABu);
    EXPECT_EQ(std::string(out), folder.Path() + "/hea1AB.tmp");
    EXPECT_FALSE(Exists(out)) << "a given number creates nothing";

    UINT number = GetTempFileNameA((folder.Path() + "\\").c_str(), "", 0, out);
    ASSERT_NE(number, 0u);
    EXPECT_TRUE(Exists(out));

    SetLastError(0);
    EXPECT_EQ(GetTempFileNameA((folder.Path() + "\\missing").c_str(), "hdr", 0, out), 0u);
    EXPECT_EQ(GetTempFileNameA(std::string(300, 'x').c_str(), "hdr", 0, out), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(GetTempFileNameA((folder.Path() + "\\missing").c_str(), "hdr", 0, out), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
}

} // namespace
