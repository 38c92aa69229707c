// Registry file in use, and the "CachePath" value.
#include "hosts/qvork/cache_location.h"

#include <cstring>
#include <filesystem>

#include "host/netsonic.h"
#include "platform/linux/registry_location.h"
#include "platform/win32.h"

namespace qvork_host {

std::string RegistryFileInUse() {
    char path[REGISTRY_FILE_PATH_SIZE];
    switch (LocateRegistryFile(path, sizeof path)) {
    case ERROR_SUCCESS:
        return path;
    case ERROR_PATH_NOT_FOUND:
        return "(none: no home folder and no QVORK_REGISTRY)";
    default:
        return "(none: the path is too long)";
    }
}

std::string RegistryFileProblem() {
    const std::string path = RegistryFileInUse();
    const char *why = "";
    if (CheckRegistryFile(path.c_str(), &why) == ERROR_SUCCESS || why[0] == '\0') {
        return "";
    }
    return path + " " + why + "; it is left as it is";
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
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, NETSONIC_KEY, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        const std::string problem = RegistryFileProblem();
        error = !problem.empty() ? "cannot store CachePath: " + problem
                                 : "cannot create the registry key HKEY_LOCAL_MACHINE\\" +
                                       std::string(NETSONIC_KEY) + " in " + RegistryFileInUse() +
                                       " (error " + std::to_string(status) + ")";
        return false;
    }
    status = RegSetValueExA(key, NETSONIC_CACHE_PATH_VALUE, 0, REG_SZ,
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
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, NETSONIC_KEY, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        char value[4096];
        DWORD size = sizeof value;
        status = RegQueryValueExA(key, NETSONIC_CACHE_PATH_VALUE, nullptr, nullptr,
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
