// Registry file in use, and the "CachePath" value.
#include "hosts/qvork/cache_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

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
            "; store one with qvork --cache DIR";
    return false;
}

} // namespace qvork_host
