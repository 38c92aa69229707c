// The registry functions over the registry file: Win32 results for the calls
// the plug-in makes, buffers that must not be overrun, files replaced whole
// without losing what a call did not touch, several processes writing at
// once, and a registry that cannot be written.
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/registry_location.h"
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
    EXPECT_EQ(left, (std::vector<std::string>{"registry.reg"})) << "no lock file, no temporary";
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

    std::string dangling = folder_ / "dangling.reg"; // its file is made by the first write
    ASSERT_EQ(symlink("config/new.reg", dangling.c_str()), 0);
    setenv("QVORK_REGISTRY", dangling.c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x02"), ERROR_SUCCESS);
    EXPECT_TRUE(lstat(dangling.c_str(), &info) == 0 && S_ISLNK(info.st_mode));
    EXPECT_NE(ReadWholeFile(folder_ / "config/new.reg").find("\"V\"=hex:02"), std::string::npos);
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
    for (mode_t fileMode : {0644, 0666}) { // 0666: the temporary file is what fails
        WriteRegistry(original);
        chmod(file_.c_str(), fileMode);
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
        EXPECT_EQ(status, 0) << "file mode " << std::oct << fileMode;
        ASSERT_EQ(chmod((folder_ / "config").c_str(), 0755), 0);
        EXPECT_EQ(ReadWholeFile(file_), original);
    }
    WriteWholeFile(folder_ / "blocked", "a file where the folder should be");
    setenv("QVORK_REGISTRY", (folder_ / "blocked/registry.reg").c_str(), 1);
    EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), ERROR_ACCESS_DENIED);
}

// What is not a registry file is never written over: a device, FIFO or
// folder is refused without being opened (a FIFO would hang), a file that
// does not start with REGEDIT4 keeps every byte, and an empty file counts as
// a new one. The check the host uses to say why agrees with the write, and
// nothing (no lock, no temporary) is left beside the file.
TEST_F(RegistryTest, OnlyRegistryFilesAreWritten)
{
    const std::string other = "REGEDIT4 is not the first line\n[HKEY_CURRENT_USER\\K]\n";
    const struct {
        const char *what;
        std::function<int(const char *)> make;
        LONG expected;
    } cases[] = {
        {"character device",
         [](const char *p) {
             // a device like /dev/null; without root, a link to it
             return geteuid() == 0 ? mknod(p, S_IFCHR | 0666, makedev(1, 3)) : symlink("/dev/null", p);
         },
         ERROR_ACCESS_DENIED},
        {"FIFO", [](const char *p) { return mkfifo(p, 0666); }, ERROR_ACCESS_DENIED},
        {"folder", [](const char *p) { return mkdir(p, 0755); }, ERROR_ACCESS_DENIED},
        {"text file", [&](const char *p) { return WriteWholeFile(p, other), 0; }, ERROR_BADDB},
        {"binary file",
         [](const char *p) { return WriteWholeFile(p, std::string("\x7f" "ELF\0\1REGEDIT4\n", 15)), 0; },
         ERROR_BADDB},
        {"REGEDIT4 and more", [](const char *p) { return WriteWholeFile(p, "REGEDIT45\n"), 0; },
         ERROR_BADDB},
        {"byte-order mark and blanks first",
         [](const char *p) { return WriteWholeFile(p, "\xEF\xBB\xBF \r\nREGEDIT4 \r\n"), 0; },
         ERROR_SUCCESS},
        {"empty file", [](const char *p) { return WriteWholeFile(p, ""), 0; }, ERROR_SUCCESS},
    };
    for (const auto &c : cases) {
        std::string folder = folder_ / c.what, path = folder + "/registry.reg";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(c.make(path.c_str()), 0) << c.what;
        struct stat before, after;
        ASSERT_EQ(lstat(path.c_str(), &before), 0);
        std::string contents = S_ISREG(before.st_mode) ? ReadWholeFile(path) : "";
        setenv("QVORK_REGISTRY", path.c_str(), 1);
        const char *why = nullptr;
        EXPECT_EQ(CheckRegistryFile(path.c_str(), &why), c.expected) << c.what;
        EXPECT_EQ(why != nullptr && why[0] != '\0', c.expected != ERROR_SUCCESS) << c.what;
        EXPECT_EQ(SetValue("K", "V", REG_BINARY, "\x01"), c.expected) << c.what;
        EXPECT_EQ(GetValue("K", "V"), c.expected == ERROR_SUCCESS ? "\x01"
                                      : S_ISREG(before.st_mode) ? "error 2" : "error 5")
            << c.what;
        ASSERT_EQ(lstat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << c.what;
        if (c.expected != ERROR_SUCCESS && S_ISREG(before.st_mode)) {
            EXPECT_EQ(ReadWholeFile(path), contents) << c.what;
        }
        std::vector<std::string> left;
        for (const auto &entry : std::filesystem::directory_iterator(folder))
            left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{"registry.reg"}) << c.what;
    }
}

// A save rewrites the values it changed and nothing else: comments, blank
// lines, indentation, the file's CRLF line breaks and every line the reader
// skips stay byte for byte. A new value goes after the last line of its
// key's section, a new key at the end, and a deleted value takes its
// continuation lines with it.
TEST_F(RegistryTest, SaveChangesOnlyTheValuesItWrites)
{
    const std::string vork = "[HKEY_CURRENT_USER\\Software\\Far\\Plugins\\Q\\VORK]\r\n";
    const std::string original =
        "REGEDIT4\r\n; qvork's settings\r\n\r\n" + vork +
        "\"Show_Diskz\"=hex:01\r\n\"Bad hex\"=hex:zz\r\n\"Bad dword\"=dword:123456789\r\n"
        "\"Open\"=\"no end\r\n\"Gone\"=-\r\n  \"Diskz_num\"=hex:03  \r\n"
        "\"Long\"=hex:01,02,\\\r\n  03\r\n; end of the section\r\n\r\n"
        "[HKEY_CURRENT_USER\\" + std::string(300, 'x') + "]\r\n\"Lost\"=hex:01\r\n"
        "[HKEY_CURRENT_USER\\Junk]junk\r\n\"Also\"=hex:02\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n\"CachePath\"=\"/old\"";
    const struct {
        const char *key, *name, *data; // data nullptr: delete the value
        std::string from, to;          // the one change expected in the file
    } cases[] = {
        {kVorkKey, "Show_Diskz", "\x01", "", ""},
        {kVorkKey, "Diskz_num", "\x07", "  \"Diskz_num\"=hex:03  \r\n", "  \"Diskz_num\"=hex:07\r\n"},
        {kVorkKey, "Show_Plugz", "\x01", "  03\r\n", "  03\r\n\"Show_Plugz\"=hex:01\r\n"},
        {kVorkKey, "Long", nullptr, "\"Long\"=hex:01,02,\\\r\n  03\r\n", ""},
        {"New", "V", "\x02", "\"/old\"", "\"/old\"\r\n\r\n[HKEY_CURRENT_USER\\New]\r\n\"V\"=hex:02\r\n"},
    };
    for (const auto &c : cases) {
        WriteRegistry(original);
        std::string expected = original;
        expected.replace(expected.find(c.from), c.from.size(), c.to);
        if (c.data != nullptr) {
            EXPECT_EQ(SetValue(c.key, c.name, REG_BINARY, c.data), ERROR_SUCCESS) << c.name;
        } else {
            HKEY key;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, c.key, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
            EXPECT_EQ(RegDeleteValueA(key, c.name), ERROR_SUCCESS);
            RegCloseKey(key);
        }
        EXPECT_EQ(ReadWholeFile(file_), expected) << c.name;
    }
}

} // namespace
