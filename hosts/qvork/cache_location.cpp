// Registry file in use, and the "CachePath" value.
#include "hosts/qvork/cache_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/win32.h"

namespace qvork_host {

namespace {

const char kNetSonicKey[] = "SOFTWARE\\web3000\\netsonic";
const char kCachePathValue[] = "CachePath";

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::string RegistryFileInUse() {
    std::string path = Environment("QVORK_REGISTRY");
    if (!path.empty()) {
        return path;
    }
    path = Environment("XDG_CONFIG_HOME");
    if (!path.empty() && path[0] == '/') { // a relative one is ignored, as XDG says
        return path + "/qvork/registry.reg";
    }
    std::string home = Environment("HOME");
    if (home.empty()) {
        const passwd *user = getpwuid(getuid());
        home = user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
    }
    return home + "/.config/qvork/registry.reg";
}

bool StoreCacheFolder(const std::string &folder, std::string &stored, std::string &error) {
    std::error_code ignored;
    stored = std::filesystem::absolute(folder, ignored).lexically_normal().string();
    if (stored.empty()) {
        stored = folder;
    }
    // "/x/y/" would become "/x/y/\icache\": keep the value without a final
    // separator, as NetSonic writes it.
    while (stored.size() > 1 && stored.back() == '/') {
        stored.pop_back();
    }
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNetSonicKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        error = "cannot create the registry key HKEY_LOCAL_MACHINE\\" + std::string(kNetSonicKey) +
                " in " + RegistryFileInUse() + " (error " + std::to_string(status) + ")";
        return false;
    }
    status = RegSetValueExA(key, kCachePathValue, 0, REG_SZ,
                            reinterpret_cast<const BYTE *>(stored.c_str()),
                            static_cast<DWORD>(stored.size() + 1));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = "cannot write the value CachePath to " + RegistryFileInUse() + " (error " +
                std::to_string(status) + ")";
        return false;
    }
    return true;
}

namespace {

const char kHowToSet[] =
    "; set the folder that holds icache with: qvork config --cache DIR (or --cache DIR for one "
    "run)";

// The entry at `path` as the plug-in's file functions see it; false when none.
bool FindEntry(const std::string &path, DWORD &attributes) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    attributes = found.dwFileAttributes;
    FindClose(search);
    return true;
}

// "CachePath" as stored now; none when there is none.
std::optional<std::string> ReadCachePath() {
    std::string folder;
    std::string error;
    return ReadCacheFolder(folder, error) ? std::optional<std::string>(folder) : std::nullopt;
}

} // namespace

std::string CacheProblem(bool givenForRun) {
    const std::string where = givenForRun ? " (given with --cache)" : " in " + RegistryFileInUse();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetSonicKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "no cache is configured: no CachePath" + where + kHowToSet;
    }
    char value[1024];
    DWORD size = sizeof(value);
    const LONG status = RegQueryValueExA(key, kCachePathValue, nullptr, nullptr,
                                         reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return "no cache is configured: no CachePath" + where + kHowToSet;
    }
    if (status != ERROR_SUCCESS || size > sizeof(value)) {
        return "CachePath" + where + " cannot be read (error " + std::to_string(status) + ")" +
               kHowToSet;
    }
    const std::string folder(value, strnlen(value, size));
    const std::string named = "CachePath '" + folder + "'" + where;
    if (folder.empty()) {
        return "no cache is configured: CachePath" + where + " is empty" + kHowToSet;
    }
    if (folder.size() > kLongestCachePath) {
        return named + " cannot be used: longer than " + std::to_string(kLongestCachePath) +
               " characters" + kHowToSet;
    }
    DWORD attributes = 0;
    if (!FindEntry(folder, attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return named + " cannot be used: no such folder" + kHowToSet;
    }
    if (!FindEntry(folder + "\\icache", attributes) ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return named + " has no icache folder, where the site files lie" + kHowToSet;
    }
    return std::string();
}

RunCache::~RunCache() {
    if (folder_.empty()) {
        return;
    }
    // The plug-in saved settings in the copy during the run: they go back to
    // the registry file, with its own CachePath as it was.
    const std::string copy = folder_ + "/registry.reg";
    std::error_code ignored;
    if (std::filesystem::last_write_time(copy, ignored) != written_) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetSonicKey, 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            if (original_) {
                RegSetValueExA(key, kCachePathValue, 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(original_->c_str()),
                               static_cast<DWORD>(original_->size() + 1));
            } else {
                RegDeleteValueA(key, kCachePathValue);
            }
            RegCloseKey(key);
        }
        std::filesystem::copy_file(copy, registry_, std::filesystem::copy_options::overwrite_existing,
                                   ignored);
        if (ignored) {
            std::fprintf(stderr, "qvork: settings changed in this run not kept: cannot write %s\n",
                         registry_.c_str());
        }
    }
    setenv("QVORK_REGISTRY", registry_.c_str(), 1);
    std::filesystem::remove_all(folder_, ignored);
}

bool RunCache::Use(const std::string &folder, std::string &error) {
    const std::string registry = RegistryFileInUse();
    registry_ = registry;
    original_ = ReadCachePath();
    const std::string base = Environment("TMPDIR").empty() ? "/tmp" : Environment("TMPDIR");
    std::string pattern = base + "/qvork-run.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a private folder in " + base + ": " + std::strerror(errno);
        return false;
    }
    folder_ = pattern;
    const std::string copy = folder_ + "/registry.reg";
    std::ifstream from(registry, std::ios::binary);
    std::ofstream to(copy, std::ios::binary);
    if (from) {
        to << from.rdbuf();
    }
    to.close();
    if (!to) {
        error = "cannot copy the registry file " + registry + " to " + copy;
        return false;
    }
    setenv("QVORK_REGISTRY", copy.c_str(), 1);
    std::string stored;
    const bool done = StoreCacheFolder(folder, stored, error);
    std::error_code ignored;
    written_ = std::filesystem::last_write_time(copy, ignored);
    return done;
}

bool ReadCacheFolder(std::string &folder, std::string &error) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetSonicKey, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        char value[4096];
        DWORD size = sizeof value;
        status = RegQueryValueExA(key, kCachePathValue, nullptr, nullptr,
                                  reinterpret_cast<BYTE *>(value), &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS) {
            folder.assign(value, strnlen(value, size));
            return true;
        }
    }
    error = "no cache location (CachePath) in " + RegistryFileInUse() +
            "; store one with qvork config --cache DIR";
    return false;
}

} // namespace qvork_host
