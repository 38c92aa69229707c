// The layer's table of system calls: a call made to fail through it reaches
// the caller as the Win32 result a real failure of that kind gives, with
// nothing half done left behind, and putting the defaults back mends all.
#include <errno.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/system_calls.h"
#include "platform/stream.h"
#include "platform/win32.h"
#include "temp_folder.h"

namespace {

int failure = 0; // the errno the failing calls below set

int FailingMkdir(const char *, mode_t) { return errno = failure, -1; }
int FailingUnlink(const char *) { return errno = failure, -1; }
int FailingOpen(const char *, int, mode_t) { return errno = failure, -1; }
int FailingRename(const char *, const char *) { return errno = failure, -1; }
size_t FailingFwrite(const void *, size_t, size_t, FILE *) { return errno = failure, 0; }

TEST(SystemCalls, FailedCallsGiveTheWin32ResultAndLeaveNothingBehind)
{
    TempFolder folder;
    const std::string registry = folder / "registry.reg";
    const std::string original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=hex:01\n";
    WriteWholeFile(registry, original);
    WriteWholeFile(folder / "file", "");
    setenv("QVORK_REGISTRY", registry.c_str(), 1);
    struct {
        const char *call;
        SystemCallPointer failing;
        int error;
        std::function<DWORD()> operation; // the Win32 result
        DWORD expected;
    } cases[] = {
        {"mkdir", (SystemCallPointer)FailingMkdir, EACCES,
         [&] { return CreateDirectoryA((folder / "d").c_str(), nullptr) ? 0 : GetLastError(); },
         ERROR_ACCESS_DENIED},
        {"mkdir", (SystemCallPointer)FailingMkdir, ENOSPC,
         [&] { return CreateDirectoryA((folder / "d").c_str(), nullptr) ? 0 : GetLastError(); },
         ERROR_DISK_FULL},
        {"unlink", (SystemCallPointer)FailingUnlink, EROFS,
         [&] { return DeleteFileA((folder / "file").c_str()) ? 0 : GetLastError(); },
         ERROR_ACCESS_DENIED},
        {"open", (SystemCallPointer)FailingOpen, EROFS,
         [&] {
             char name[MAX_PATH];
             return GetTempFileNameA(folder.Path().c_str(), "q", 0, name) ? 0 : GetLastError();
         },
         ERROR_ACCESS_DENIED},
        {"fwrite", (SystemCallPointer)FailingFwrite, ENOSPC,
         [&] {
             FILE *stream = OpenStream((folder / "out").c_str(), "wb");
             const BOOL written = WriteStream(stream, "x", 1);
             CloseStream(stream);
             return written ? 0 : (DWORD)ERROR_WRITE_FAULT;
         },
         ERROR_WRITE_FAULT},
        {"rename", (SystemCallPointer)FailingRename, ENOSPC,
         [&] {
             HKEY key = HKEY_CURRENT_USER;
             return (DWORD)RegSetValueExA(key, "V", 0, REG_BINARY, (const BYTE *)"\x02", 1);
         },
         ERROR_DISK_FULL},
    };
    for (const auto &c : cases) {
        failure = c.error;
        ASSERT_TRUE(SetSystemCall(c.call, c.failing));
        EXPECT_EQ(c.operation(), c.expected) << c.call << " failing with " << c.error;
        ASSERT_TRUE(SetSystemCall(nullptr, nullptr));
    }
    EXPECT_TRUE(CreateDirectoryA((folder / "d").c_str(), nullptr)) << "the defaults are back";
    EXPECT_EQ(ReadWholeFile(registry), original) << "a failed save leaves the file as it was";
    EXPECT_TRUE(Exists(folder / "file"));
    unsetenv("QVORK_REGISTRY");
}

} // namespace
