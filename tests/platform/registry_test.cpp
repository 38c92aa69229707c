// The registry functions over the registry file: Win32 results for the calls
// the plug-in makes, buffers that must not be overrun, files replaced whole
// without losing what a call did not touch, several processes writing at
// once, and a registry that cannot be written.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "temp_folder.h"

namespace {

const char kVorkKey[] = "Software\\Far\\Plugins\\Q\\VORK";

// Creates HKEY_CURRENT_USER\<key> and sets one value, as the settings do.
LONG SetValue(const char *key, const char *name, DWORD type, const std::string &data)
{
    HKEY handle = nullptr;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, (char *)"", 0, KEY_ALL_ACCESS,
                                  nullptr, &handle, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(handle, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size());
    RegCloseKey(handle);
    return result;
}

// The bytes of value `name` of HKEY_CURRENT_USER\<key>, or "error N".
std::string GetValue(const char *key, const char *name)
{
    HKEY handle;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle);
    if (result != ERROR_SUCCESS)
        return "error " + std::to_string(result);
    char buffer[256];
    DWORD size = sizeof buffer;
    result = RegQueryValueExA(handle, name, nullptr, nullptr, (BYTE *)buffer, &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS ? std::string(buffer, size) : "error " + std::to_string(result);
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The file's folder does not exist yet: the first write makes it.
        file_ = folder_ / "config/registry.reg";
        setenv("QVORK_REGISTRY", file_.c_str(), 1);
    }
    void TearDown() override { unsetenv("QVORK_REGISTRY"); }

    void WriteRegistry(const std::string &text)
    {
        mkdir((folder_ / "config").c_str(), 0755);
        WriteWholeFile(file_, text);
    }

    TempFolder folder_;
    std::string file_;
};

TEST_F(RegistryTest, ReadsTheNetSonicValueAndReportsWhatIsMissing)
{
    HKEY key = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND)
        << "no file: an empty registry";
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(Exists(file_)) << "reading never creates the file";

    WriteRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\n"
                  "\"CachePath\"=\"C:\\\\cache\"\n");
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char buffer[250];
    DWORD size = sizeof buffer, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "CachePath", nullptr, &type, (BYTE *)buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(std::string(buffer, size), std::string("C:\\cache", 9)) << "NUL included";
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, (BYTE *)buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SettingsRoundTripIgnoringCaseAndStrayBackslashes)
{
    HKEY key;
    DWORD disposition = 0;
    for (DWORD expected : {REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY}) {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVorkKey, 0, (char *)"", 0, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, expected);
        BYTE seven = 7;
        EXPECT_EQ(RegSetValueExA(key, "Diskz_num", 0, REG_BINARY, &seven, 1), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_NE(ReadWholeFile(file_).find("\"Diskz_num\"=hex:07\n"), std::string::npos);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\software\\FAR\\plugins\\q\\vork\\", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    int setting = 0x11223344; // read as the settings are: 4 bytes offered
    DWORD size = sizeof setting;
    EXPECT_EQ(RegQueryValueExA(key, "DISKZ_NUM", nullptr, nullptr, (BYTE *)&setting, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(setting, 0x11223307) << "only the stored byte is replaced";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(GetValue("Software\\Far", "x"), "error 2") << "a parent key exists, as in Windows";
}

// Each value queried with buffers below, at and above its size: a buffer too
// small comes back untouched with the size needed, and no byte past the data
// is written.
TEST_F(RegistryTest, QueryNeverWritesPastTheData)
{
    const struct {
        const char *name;
        DWORD type;
        std::string data;
    } values[] = {
        {"Text", REG_SZ, std::string("C:\\cache", 9)},
        {"Binary", REG_BINARY, "\x01\x02\x03"},
        {"Number", REG_DWORD, std::string("\x07\0\0\0", 4)},
        {"Long", REG_BINARY, std::string(1000, '\x5a')},
    };
    for (const auto &v : values)
        ASSERT_EQ(SetValue("K", v.name, v.type, v.data), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const auto &v : values) {
        DWORD needed = (DWORD)v.data.size();
        for (DWORD offered : {0u, needed - 1, needed, needed + 3}) {
            std::vector<BYTE> buffer(offered + 16, 0xbd);
            DWORD size = offered, type = 0;
            LONG result = RegQueryValueExA(key, v.name, nullptr, &type, buffer.data(), &size);
            EXPECT_EQ(result, offered < needed ? ERROR_MORE_DATA : ERROR_SUCCESS) << v.name;
            EXPECT_EQ(size, needed) << v.name << " offered " << offered;
            EXPECT_EQ(type, v.type) << v.name;
            size_t written = offered < needed ? 0 : needed;
            EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + written), v.data.substr(0, written));
            for (size_t i = written; i < buffer.size(); i++)
                ASSERT_EQ(buffer[i], 0xbd) << v.name << " offered " << offered << " byte " << i;
        }
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, v.name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, needed) << "no buffer: the size alone";
    }
    BYTE byte;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, &byte, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesAndAccessAreChecked)
{
    ASSERT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "V", 0, REG_BINARY, (const BYTE *)"\x02", 1),
              ERROR_ACCESS_DENIED)
        << "opened for reading only";
    EXPECT_EQ(RegDeleteValueA(key, "V"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "closed twice";
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    int notAKey = 0;
    EXPECT_EQ(RegCloseKey((HKEY)&notAKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA((HKEY)&notAKey, "K", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WriteKeepsEverythingElseAndLeavesNoTemporaries)
{
    const std::string others =
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\n\"CachePath\"=\"D:\\\\ns\"\n\n"
        "[HKEY_USERS\\.DEFAULT\\Other]\n\"Multi\"=hex(7):61,00,00\n@=\"default\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Far\\Plugins\\Q\\VORK]\n\"Show_Plugz\"=hex:";
    WriteRegistry(others + "01\n\"Unrelated\"=dword:0000002a\n");
    ASSERT_EQ(SetValue(kVorkKey, "Show_Plugz", REG_BINARY, std::string(1, '\0')), ERROR_SUCCESS);
    ASSERT_EQ(SetValue("Software\\New", "N", REG_SZ, std::string("x", 2)), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(file_), others + "00\n\"Unrelated\"=dword:0000002a\n\n"
                                             "[HKEY_CURRENT_USER\\Software\\New]\n\"N\"=\"x\"\n");
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(folder_ / "config"))
        left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryTest, OtherWritersAndOtherFilesAreSeenAtOnce)
{
    ASSERT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    WriteRegistry("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=hex:02\n");
    BYTE value = 0;
    DWORD size = 1;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2) << "written by someone else after the open";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Without QVORK_REGISTRY: $XDG_CONFIG_HOME/qvork, else ~/.config/qvork.
    unsetenv("QVORK_REGISTRY");
    const char *home = getenv("HOME"), *config = getenv("XDG_CONFIG_HOME");
    std::string savedHome = home ? home : "", savedConfig = config ? config : "";
    setenv("XDG_CONFIG_HOME", (folder_ / "xdg").c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x03"), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(folder_ / "xdg/qvork/registry.reg"));
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (folder_ / "home").c_str(), 1);
    EXPECT_EQ(GetValue("K", "V"), "error 2");
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x04"), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(folder_ / "home/.config/qvork/registry.reg"));
    setenv("HOME", savedHome.c_str(), 1);
    if (config)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

TEST_F(RegistryTest, SymbolicLinkToTheFileStaysALink)
{
    WriteRegistry("REGEDIT4\n");
    std::string link = folder_ / "link.reg";
    ASSERT_EQ(symlink(file_.c_str(), link.c_str()), 0);
    setenv("QVORK_REGISTRY", link.c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), ERROR_SUCCESS);
    struct stat info;
    EXPECT_TRUE(lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode));
    EXPECT_NE(ReadWholeFile(file_).find("\"V\"=hex:01"), std::string::npos);
}

// Several processes save at the same time; every value of every one of them
// must be in the file afterwards.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    const int kWriters = 3, kValues = 8;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; w++) {
        children.push_back(fork());
        if (children.back() == 0) {
            int failures = 0;
            for (int v = 0; v < kValues; v++) {
                std::string name = "W" + std::to_string(w) + "V" + std::to_string(v);
                failures += SetValue("Shared", name.c_str(), REG_BINARY, "\x01") != 0;
            }
            _exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    for (int w = 0; w < kWriters; w++)
        for (int v = 0; v < kValues; v++) {
            std::string name = "W" + std::to_string(w) + "V" + std::to_string(v);
            EXPECT_EQ(GetValue("Shared", name.c_str()), "\x01") << name;
        }
}

// A registry in a folder the user may not write: creating a key or setting a
// value fails with ERROR_ACCESS_DENIED and the file stays as it was; reading
// still works. Run as an unprivileged user, since root may write anywhere.
TEST_F(RegistryTest, UnwritableRegistryIsAccessDeniedAndUnchanged)
{
    const std::string original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=hex:01\n";
    for (bool lockFilePresent : {false, true}) {
        WriteRegistry(original);
        std::string lock = file_ + ".lock";
        unlink(lock.c_str());
        if (lockFilePresent) {
            WriteWholeFile(lock, "");
            chmod(lock.c_str(), 0666); // then the temporary file is what fails
        }
        ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
        ASSERT_EQ(chmod((folder_ / "config").c_str(), 0555), 0);
        int status = RunInChild(
            [] {
                HKEY key;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, (char *)"", 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr) != ERROR_ACCESS_DENIED)
                    return 1;
                if (RegSetValueExA(HKEY_CURRENT_USER, "V", 0, REG_BINARY, (const BYTE *)"\x02",
                                   1) != ERROR_ACCESS_DENIED)
                    return 2;
                return GetValue("K", "V") == "\x01" ? 0 : 3;
            },
            true);
        EXPECT_EQ(status, 0) << "lock file present: " << lockFilePresent;
        ASSERT_EQ(chmod((folder_ / "config").c_str(), 0755), 0);
        EXPECT_EQ(ReadWholeFile(file_), original);
    }
    WriteWholeFile(folder_ / "blocked", "a file where the folder should be");
    setenv("QVORK_REGISTRY", (folder_ / "blocked/registry.reg").c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), ERROR_ACCESS_DENIED);
}

} // namespace
