// Registry file in use, and the "CachePath" value.
#include "hosts/qvork/cache_location.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/netsonic.h"
#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/stored_items.h"
#include "platform/linux/registry_file.h"
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

namespace {

// What a registry call's failure means for the registry file.
std::string RegistryErrorText(LONG status) {
    switch (status) {
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "too large to be a settings file (over 16 MB), or out of memory";
    default:
        return "error " + std::to_string(status);
    }
}

} // namespace

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
                                       " (" + RegistryErrorText(status) + ")";
        return false;
    }
    status = RegSetValueExA(key, NETSONIC_CACHE_PATH_VALUE, 0, REG_SZ,
                            reinterpret_cast<const BYTE *>(stored.c_str()),
                            static_cast<DWORD>(stored.size() + 1));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = "cannot write the value CachePath to " + RegistryFileInUse() + " (" +
                RegistryErrorText(status) + ")";
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

} // namespace

std::string CacheProblem(bool givenForRun) {
    const std::string where = givenForRun ? " (given with --cache)" : " in " + RegistryFileInUse();
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, NETSONIC_KEY, 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        // A file that cannot be read, or is no REGEDIT4 text (a regedit
        // export in UTF-16), says so rather than that it holds no value.
        const std::string problem = givenForRun ? std::string() : RegistryFileProblem();
        const char useAnother[] = "; give qvork a settings file of its own with --registry FILE "
                                  "(or QVORK_REGISTRY)";
        if (opened != ERROR_FILE_NOT_FOUND && !givenForRun) {
            return "the registry file " + RegistryFileInUse() + " cannot be read (" +
                   RegistryErrorText(opened) + ")" + useAnother;
        }
        if (!problem.empty()) {
            return "no cache is configured: " + problem + useAnother;
        }
        return "no cache is configured: no CachePath" + where + kHowToSet;
    }
    char value[1024];
    DWORD size = sizeof(value);
    const LONG status = RegQueryValueExA(key, NETSONIC_CACHE_PATH_VALUE, nullptr, nullptr,
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

namespace {

// The bytes of the file at `path` ("" when it cannot be read).
std::string ReadText(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Sets the value `value` of the key `path` ("HKEY_...\sub\key") in the
// registry file in use.
LONG StoreValue(const char *path, const RegistryValueRecord &value) {
    const char *sub = std::strchr(path, '\\');
    const HKEY root = std::strncmp(path, "HKEY_LOCAL_MACHINE", 18) == 0 ? HKEY_LOCAL_MACHINE
                                                                       : HKEY_CURRENT_USER;
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, sub != nullptr ? sub + 1 : "", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, value.name, 0, value.type, value.data, value.size);
        RegCloseKey(key);
    }
    return status;
}

} // namespace

namespace {
RunCache *ActiveRun = nullptr; // the run's copy of the registry file, while one is used
} // namespace

bool KeepRunSettings(std::string &error) {
    if (ActiveRun == nullptr || ActiveRun->Keep(error)) {
        return true;
    }
    ActiveRun->FailureTold();
    return false;
}

std::string SettingsFile() { return ActiveRun != nullptr ? ActiveRun->Registry() : RegistryFileInUse(); }

bool RunCache::Keep(std::string &error) {
    // What the plug-in saved in the copy since it was last kept goes to the
    // registry file value by value, through the registry functions: the
    // file keeps its other lines and what others wrote meanwhile, and the
    // copy's own CachePath stays behind.
    const std::string text = ReadText(folder_ + "/registry.reg");
    if (text == snapshot_) {
        return true;
    }
    setenv("QVORK_REGISTRY", registry_.c_str(), 1);
    RegistryModel before, after;
    InitRegistryModel(&before);
    InitRegistryModel(&after);
    ParseRegistryFile(reinterpret_cast<const BYTE *>(snapshot_.data()), snapshot_.size(), &before);
    ParseRegistryFile(reinterpret_cast<const BYTE *>(text.data()), text.size(), &after);
    char netsonic[REGISTRY_PATH_SIZE];
    NormaliseRegistryPath("HKLM\\" NETSONIC_KEY, std::strlen("HKLM\\" NETSONIC_KEY), netsonic);
    const RegistryKeyRecord *cacheKey = FindRegistryKey(&after, netsonic);
    bool kept = true;
    for (size_t k = 0; k < after.keyCount; ++k) {
        const RegistryKeyRecord &key = after.keys[k];
        const RegistryKeyRecord *old = FindRegistryKey(&before, key.path);
        for (size_t v = 0; v < key.valueCount; ++v) {
            const RegistryValueRecord &value = key.values[v];
            const RegistryValueRecord *was = old != nullptr ? FindRegistryValue(old, value.name) : nullptr;
            if ((was != nullptr && was->type == value.type && was->size == value.size &&
                 (value.size == 0 || std::memcmp(was->data, value.data, value.size) == 0)) ||
                (cacheKey == &key && strcasecmp(value.name, NETSONIC_CACHE_PATH_VALUE) == 0)) {
                continue;
            }
            if (StoreValue(key.path, value) != ERROR_SUCCESS && kept) {
                const std::string problem = RegistryFileProblem();
                error = problem.empty() ? "cannot write " + registry_ : problem;
                kept = false;
            }
        }
    }
    FreeRegistryModel(&before);
    FreeRegistryModel(&after);
    setenv("QVORK_REGISTRY", (folder_ + "/registry.reg").c_str(), 1);
    if (kept) {
        snapshot_ = text;
    }
    return kept;
}

RunCache::~RunCache() {
    if (folder_.empty()) {
        return;
    }
    std::string error;
    if (!Keep(error) && !failureTold_) {
        std::fprintf(stderr, "qvork: settings changed in this run not kept: %s\n", error.c_str());
    }
    setenv("QVORK_REGISTRY", registry_.c_str(), 1);
    ActiveRun = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    ForgetOnSignal(folder_);
}

bool RunCache::Use(const std::string &folder, std::string &error) {
    const std::string registry = RegistryFileInUse();
    const std::string problem = RegistryFileProblem(); // a FIFO would block the copy
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    registry_ = registry;
    const std::string base = TemporaryFolder();
    std::string pattern = base + "/qvork-run.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a private folder in " + base + ": " + std::strerror(errno);
        return false;
    }
    folder_ = pattern;
    RemoveOnSignal(folder_);
    const std::string copy = folder_ + "/registry.reg";
    std::ofstream to(copy, std::ios::binary);
    to << ReadText(registry);
    to.close();
    if (!to) {
        error = "cannot copy the registry file " + registry + " to " + copy;
        return false;
    }
    setenv("QVORK_REGISTRY", copy.c_str(), 1);
    ActiveRun = this;
    std::string stored;
    const bool done = StoreCacheFolder(folder, stored, error);
    snapshot_ = ReadText(copy);
    return done;
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
            "; store one with qvork config --cache DIR";
    return false;
}

} // namespace qvork_host
