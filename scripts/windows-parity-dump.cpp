// The program behind scripts/windows-parity.sh. Built twice from this one
// source, for Linux (against qvork.so and our Win32 layer) and for Windows
// (against qVORK.dll and the real Win32 API, run under Wine), so the two
// outputs differ only where the platforms do.
//   windows-parity-dump make CACHE_ROOT
//       writes a NetSonic cache into CACHE_ROOT/icache/ whose names probe the
//       folder search's wildcard rules ("cache*.").
//   windows-parity-dump run MODULE CACHE_ROOT DEST [REGISTRY_FILE]
//       points "CachePath" at CACHE_ROOT (the real registry on Windows, the
//       registry file on Linux), opens a panel, prints the root listing, then
//       copies every root item into DEST with GetFiles, one call per item,
//       and prints each result. The copied tree is compared by the script.
//   windows-parity-dump find PATTERN        (Windows build only)
//       prints the names FindFirstFileA/FindNextFileA return for PATTERN, so
//       the script can tell Wine's own deviations from Win32 apart.
// Exit status: 0 when it ran (whatever the plug-in answered), 1 on a failure
// of the program itself, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "hosts/common/host_services.h"
#include "hosts/common/plugin_module.h"
#include "site_writer.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using qvork_test::OkRecord;
using qvork_test::SiteRecord;

// --- make ------------------------------------------------------------------

std::string Bytes(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 131 + seed) & 0xFF);
    return bytes;
}

int MakeCache(const std::filesystem::path &root) {
    const std::filesystem::path folder = root / "icache";
    std::filesystem::create_directories(folder);
    // Matched by "cache*.": names starting with "cache" and without an extension.
    qvork_test::WriteSiteFile(folder / "cache12", "www.example.com",
                              {OkRecord("/index.html", "<html>example</html>"),
                               OkRecord("/img/logo.gif", Bytes(50001, 1), "image/gif"),
                               OkRecord("/docs/a/b/c.txt", "deep\r\n", "text/plain"),
                               OkRecord("/empty.txt", "", "text/plain"),
                               OkRecord("/docs/", "folder index")});
    qvork_test::WriteSiteFile(folder / "CACHE7", "shop.example.net:8080",
                              {OkRecord("/cart?id=1", "query"),
                               OkRecord("/a+b*c|d.html", "odd characters"),
                               OkRecord("/big.bin", Bytes(100001, 7), "application/octet-stream")});
    qvork_test::WriteSiteFile(folder / "cache", "bare.example.org",
                              {OkRecord("/", "root page")});
    qvork_test::WriteSiteFile(folder / "cache 9", "space.example.org",
                              {OkRecord("/s.html", "a space in the file name")});
    std::filesystem::create_directories(folder / "cachedir"); // a folder, listed too
    qvork_test::WriteBytes(folder / "cache99", "not a site file"); // listed, not readable
    qvork_test::WriteBytes(folder / "cache5", "");                 // empty: the same
    // Not matched: they have an extension.
    qvork_test::WriteSiteFile(folder / "cache12.tmp", "tmp.example.com",
                              {OkRecord("/x.html", "not listed")});
    qvork_test::WriteSiteFile(folder / "cache.1", "dot.example.com",
                              {OkRecord("/y.html", "not listed")});
    // Not matched: does not start with "cache".
    qvork_test::WriteSiteFile(folder / "xcache3", "other.example.com",
                              {OkRecord("/z.html", "not listed")});
    return 0;
}

// --- run -------------------------------------------------------------------

// A host without a screen that prints every box with buttons.
class ParityServices : public qvork_host::HostServices {
  public:
    int Message(int, DWORD, const char *, const char *const *items, int count,
                int buttons) override {
        if (buttons == 0) return 0; // progress box
        std::fprintf(stderr, "message:");
        for (int i = 0; i < count; ++i) std::fprintf(stderr, " [%s]", items[i] ? items[i] : "");
        std::fprintf(stderr, "\n");
        return buttons == 1 ? 0 : -1;
    }
    const char *GetMsg(int, int id) override {
        std::snprintf(text_, sizeof text_, "msg%d", id);
        return text_;
    }
    HANDLE SaveScreen(int, int, int, int) override { return reinterpret_cast<HANDLE>(1); }
    int Viewer(const char *, const char *, int, int, int, int, DWORD) override { return 1; }

  private:
    char text_[32] = {};
};

bool SetCachePath(const std::string &root, const char *registryFile) {
#ifdef _WIN32
    (void)registryFile;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExA(key, "CachePath", 0, REG_SZ,
                                       reinterpret_cast<const BYTE *>(root.c_str()),
                                       static_cast<DWORD>(root.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
#else
    if (!registryFile) return false;
    std::string escaped;
    for (char c : root) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    std::ofstream out(registryFile, std::ios::binary | std::ios::trunc);
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\n\"CachePath\"=\""
        << escaped << "\"\n";
    out.close();
    if (!out) return false;
    return setenv("QVORK_REGISTRY", registryFile, 1) == 0;
#endif
}

unsigned long long FileTimeValue(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int Run(const std::string &modulePath, const std::string &root, const std::string &dest,
        const char *registryFile) {
    if (!SetCachePath(root, registryFile)) {
        std::fprintf(stderr, "windows-parity-dump: cannot set CachePath\n");
        return 1;
    }
    qvork_host::PluginModule module(modulePath);
    if (!module.Loaded()) {
        std::fprintf(stderr, "windows-parity-dump: %s\n", module.Error().c_str());
        return 1;
    }
    ParityServices services;
    const PluginStartupInfo info =
        qvork_host::HostServices::StartupInfo(modulePath, 1, "Software\\qVORK-parity\\Plugins");
    module.SetStartupInfo(&info);

    HANDLE panel = module.OpenPlugin(0, 0);
    PluginPanelItem *items = nullptr;
    int count = 0;
    const int listed = module.GetFindData(panel, &items, &count, 0);
    std::printf("listing\tresult=%d\tcount=%d\n", listed, count);
    // One line per item: name, attributes, sizes, links, description, the
    // short name and the last write time as the folder search gave them.
    std::vector<PluginPanelItem> copies;
    for (int i = 0; i < count && items; ++i) {
        const PluginPanelItem &item = items[i];
        std::printf("item\t%s\tattr=%#lx\tsize=%lu:%lu\tpack=%lu\tlinks=%lu\tdesc=%s\t"
                    "short=%s\twritten=%llu\n",
                    item.FindData.cFileName,
                    static_cast<unsigned long>(item.FindData.dwFileAttributes),
                    static_cast<unsigned long>(item.FindData.nFileSizeHigh),
                    static_cast<unsigned long>(item.FindData.nFileSizeLow),
                    static_cast<unsigned long>(item.PackSize),
                    static_cast<unsigned long>(item.NumberOfLinks),
                    item.Description ? item.Description : "(none)",
                    item.FindData.cAlternateFileName,
                    FileTimeValue(item.FindData.ftLastWriteTime));
        copies.push_back(item);
    }
    module.FreeFindData(panel, items, count);

    for (PluginPanelItem &item : copies) {
        char destination[2048];
        std::snprintf(destination, sizeof destination, "%s", dest.c_str());
        const int copied = module.GetFiles(panel, &item, 1, 0, destination, 0);
        std::printf("copy\t%s\tresult=%d\tflags=%#lx\n", item.FindData.cFileName, copied,
                    static_cast<unsigned long>(item.Flags));
    }
    module.ClosePlugin(panel);
    if (!module.Unload()) {
        std::fprintf(stderr, "windows-parity-dump: the module did not unload\n");
        return 1;
    }
    return 0;
}

#ifdef _WIN32
int Find(const char *pattern) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        std::printf("found\t%s\n", data.cFileName);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return 0;
}
#endif

} // namespace

int main(int argc, char **argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "make" && argc == 3) return MakeCache(argv[2]);
#ifdef _WIN32
        if (command == "find" && argc == 3) return Find(argv[2]);
#endif
        if (command == "run" && (argc == 5 || argc == 6))
            return Run(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "windows-parity-dump: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s make CACHE_ROOT\n"
                         "       %s run MODULE CACHE_ROOT DEST [REGISTRY_FILE]\n",
                 argv[0], argv[0]);
    return 2;
}
