// The registry functions over the registry file: Win32 results for the calls
// the plug-in makes, buffers that must not be overrun, files replaced whole
// without losing what the call did not touch, several processes writing at
// once, and a registry that cannot be written.
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/registry_file.h"
#include "platform/win32.h"
#include "temp_folder.h"

namespace {

const char kVorkKey[] = "Software\\Far\\Plugins\\Q\\VORK";

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The folder of the file does not exist yet: the first write makes it.
        file_ = folder_ / "config/registry.reg";
        setenv("QVORK_REGISTRY", file_.c_str(), 1);
    }
    void TearDown() override { unsetenv("QVORK_REGISTRY"); }

    // Writes `text` as the registry file (its folder made as needed).
    void WriteRegistry(const std::string &text)
    {
        mkdir((folder_ / "config").c_str(), 0755);
        WriteWholeFile(file_, text);
    }

    // Sets one value under HKEY_CURRENT_USER\<key> as the settings do.
    LONG SetValue(const char *key, const char *name, DWORD type, const void *data, DWORD size)
    {
        HKEY handle = nullptr;
        LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, (char *)"", 0, KEY_ALL_ACCESS,
                                      nullptr, &handle, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExA(handle, name, 0, type, (const BYTE *)data, size);
        EXPECT_EQ(RegCloseKey(handle), ERROR_SUCCESS);
        return result;
    }

    TempFolder folder_;
    std::string file_;
};

TEST_F(RegistryTest, MissingFileIsAnEmptyRegistry)
{
    HKEY key = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(Exists(file_)) << "reading never creates the file";
}

TEST_F(RegistryTest, ReadsAFileWrittenByHand)
{
    WriteRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\n"
                  "\"CachePath\"=\"C:\\\\cache\"\n");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char buffer[250];
    DWORD size = sizeof buffer, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "CachePath", nullptr, &type, (BYTE *)buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(size, 9u) << "the terminating NUL counts";
    EXPECT_STREQ(buffer, "C:\\cache");
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, (BYTE *)buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SettingsRoundTripIgnoringCaseAndStraySlashes)
{
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVorkKey, 0, (char *)"", 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
    BYTE one = 1, seven = 7;
    EXPECT_EQ(RegSetValueExA(key, "Show_Diskz", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Diskz_num", 0, REG_BINARY, &seven, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(file_).find("\"Show_Diskz\"=hex:01\n"), std::string::npos);

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

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVorkKey, 0, (char *)"", 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    // Parents of a key exist too, as in Windows.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Far", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// Each value queried with buffers just below, at and above its size. A
// too-small buffer must come back untouched, with the size needed.
TEST_F(RegistryTest, QueryNeverWritesPastTheBuffer)
{
    const BYTE dword[] = {7, 0, 0, 0};
    struct {
        const char *name;
        DWORD type;
        std::string data;
    } values[] = {
        {"Text", REG_SZ, std::string("C:\\cache", 9)},
        {"Binary", REG_BINARY, std::string("\x01\x02\x03", 3)},
        {"Number", REG_DWORD, std::string((const char *)dword, 4)},
        {"Long", REG_BINARY, std::string(1000, '\x5a')},
    };
    for (const auto &v : values)
        ASSERT_EQ(SetValue("K", v.name, v.type, v.data.data(), (DWORD)v.data.size()),
                  ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const auto &v : values) {
        DWORD needed = (DWORD)v.data.size();
        for (DWORD offered : {0u, needed - 1, needed, needed + 3}) {
            std::vector<BYTE> buffer(offered + 16, 0xbd);
            DWORD size = offered, type = 0;
            LONG result = RegQueryValueExA(key, v.name, nullptr, &type, buffer.data(), &size);
            EXPECT_EQ(size, needed) << v.name << " offered " << offered;
            EXPECT_EQ(type, v.type) << v.name;
            size_t untouchedFrom = 0;
            if (offered < needed) {
                EXPECT_EQ(result, ERROR_MORE_DATA) << v.name << " offered " << offered;
            } else {
                EXPECT_EQ(result, ERROR_SUCCESS) << v.name << " offered " << offered;
                EXPECT_EQ(memcmp(buffer.data(), v.data.data(), needed), 0) << v.name;
                untouchedFrom = needed;
            }
            for (size_t i = untouchedFrom; i < buffer.size(); i++)
                ASSERT_EQ(buffer[i], 0xbd) << v.name << " offered " << offered << " byte " << i;
        }
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key, v.name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, needed) << "no buffer: the size alone";
    }
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    BYTE byte;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, &byte, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesAreChecked)
{
    HKEY key;
    ASSERT_EQ(SetValue("K", "V", REG_BINARY, "\x01", 1), ERROR_SUCCESS);
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
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              nullptr, nullptr),
              ERROR_BADKEY);
}

TEST_F(RegistryTest, DeleteValue)
{
    ASSERT_EQ(SetValue("K", "A", REG_BINARY, "\x01", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetValue("K", "B", REG_BINARY, "\x02", 1), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "a"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "a"), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "B", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WritesKeepEverythingElseAndLeaveNoTemporaries)
{
    const std::string original =
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\n\"CachePath\"=\"D:\\\\ns\"\n\n"
        "[HKEY_USERS\\.DEFAULT\\Other]\n\"Multi\"=hex(7):61,00,00\n@=\"default\"\n\n"
        "[HKEY_CURRENT_USER\\Software\\Far\\Plugins\\Q\\VORK]\n\"Show_Plugz\"=hex:01\n"
        "\"Unrelated\"=dword:0000002a\n";
    WriteRegistry(original);
    ASSERT_EQ(SetValue(kVorkKey, "Show_Plugz", REG_BINARY, "\x00", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetValue("Software\\New", "N", REG_SZ, "x", 2), ERROR_SUCCESS);

    RegistryModel before, after;
    InitRegistryModel(&before);
    InitRegistryModel(&after);
    ASSERT_TRUE(ParseRegistryFile((const BYTE *)original.data(), original.size(), &before));
    std::string now = ReadWholeFile(file_);
    ASSERT_TRUE(ParseRegistryFile((const BYTE *)now.data(), now.size(), &after));
    ASSERT_EQ(after.keyCount, before.keyCount + 1);
    for (size_t k = 0; k < before.keyCount; k++) {
        const RegistryKeyRecord &old = before.keys[k];
        const RegistryKeyRecord *kept = FindRegistryKey(&after, old.path);
        ASSERT_NE(kept, nullptr) << old.path;
        ASSERT_EQ(kept->valueCount, old.valueCount) << old.path;
        for (size_t v = 0; v < old.valueCount; v++) {
            const RegistryValueRecord *value = FindRegistryValue(kept, old.values[v].name);
            ASSERT_NE(value, nullptr) << old.values[v].name;
            bool changed = strcmp(old.values[v].name, "Show_Plugz") == 0;
            EXPECT_EQ(value->size == old.values[v].size &&
                          memcmp(value->data, old.values[v].data, value->size) == 0,
                      !changed)
                << old.values[v].name;
        }
    }
    FreeRegistryModel(&before);
    FreeRegistryModel(&after);

    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(folder_ / "config"))
        left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryTest, AnotherWriterIsSeenByTheNextQuery)
{
    ASSERT_EQ(SetValue("K", "V", REG_BINARY, "\x01", 1), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    WriteRegistry("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=hex:02\n");
    BYTE value = 0;
    DWORD size = 1;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, FileIsFoundThroughTheEnvironment)
{
    std::string home = folder_ / "home", config = folder_ / "xdg";
    unsetenv("QVORK_REGISTRY");
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    const char *oldConfig = getenv("XDG_CONFIG_HOME");
    std::string savedConfig = oldConfig ? oldConfig : "";

    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01", 1), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(config + "/qvork/registry.reg"));

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01", 1), ERROR_SUCCESS);
    EXPECT_TRUE(Exists(home + "/.config/qvork/registry.reg"));

    setenv("HOME", oldHome.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

// Several processes save at the same time; every value of every one of them
// must be in the file afterwards.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    const int kWriters = 3, kValues = 8;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; w++) {
        pid_t child = fork();
        if (child == 0) {
            int failures = 0;
            for (int v = 0; v < kValues; v++) {
                std::string key = "Writer" + std::to_string(w), name = "V" + std::to_string(v);
                BYTE byte = (BYTE)v;
                failures += SetValue(key.c_str(), name.c_str(), REG_BINARY, &byte, 1) != 0;
                failures += SetValue("Shared", (key + name).c_str(), REG_BINARY, &byte, 1) != 0;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        ASSERT_GT(child, 0);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryModel model;
    InitRegistryModel(&model);
    std::string text = ReadWholeFile(file_);
    ASSERT_TRUE(ParseRegistryFile((const BYTE *)text.data(), text.size(), &model));
    const RegistryKeyRecord *shared = FindRegistryKey(&model, "HKEY_CURRENT_USER\\Shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->valueCount, (size_t)(kWriters * kValues));
    for (int w = 0; w < kWriters; w++) {
        std::string path = "HKEY_CURRENT_USER\\Writer" + std::to_string(w);
        const RegistryKeyRecord *own = FindRegistryKey(&model, path.c_str());
        ASSERT_NE(own, nullptr) << path;
        EXPECT_EQ(own->valueCount, (size_t)kValues) << path;
    }
    FreeRegistryModel(&model);
}

// A registry in a folder the user may not write: creating a key or setting a
// value fails with ERROR_ACCESS_DENIED and the file stays as it was; reading
// still works. Run as an unprivileged user, since root may write anywhere.
TEST_F(RegistryTest, UnwritableFolderIsAccessDenied)
{
    const std::string original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"V\"=hex:01\n";
    for (bool lockFilePresent : {false, true}) {
        WriteRegistry(original);
        std::string lock = file_ + ".lock";
        unlink(lock.c_str());
        if (lockFilePresent) {
            WriteWholeFile(lock, "");
            chmod(lock.c_str(), 0666);
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
                if (RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key) != ERROR_SUCCESS)
                    return 3;
                BYTE value = 0;
                DWORD size = 1;
                LONG read = RegQueryValueExA(key, "V", nullptr, nullptr, &value, &size);
                RegCloseKey(key);
                return read == ERROR_SUCCESS && value == 1 ? 0 : 4;
            },
            true);
        EXPECT_EQ(status, 0) << "lock file present: " << lockFilePresent;
        ASSERT_EQ(chmod((folder_ / "config").c_str(), 0755), 0);
        EXPECT_EQ(ReadWholeFile(file_), original);
    }
}

TEST_F(RegistryTest, FileInPlaceOfTheFolderIsAccessDenied)
{
    WriteWholeFile(folder_ / "config", "not a folder");
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadWholeFile(folder_ / "config"), "not a folder");
}

} // namespace
