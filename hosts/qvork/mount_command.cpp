// `qvork mount`: its command line, the private folder the mount runs in
// (header files and copied-out bodies), the plug-in loaded as for every
// command and opened on the cache as "vork:PATH" would open it, and the FUSE
// loop.
#include "hosts/qvork/mount_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "hosts/qvork/command_line.h"
#include "hosts/qvork/host_services.h"
#include "hosts/qvork/mount_fuse.h"
#include "hosts/qvork/mount_index.h"
#include "hosts/qvork/plugin_module.h"
#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace fs = std::filesystem;

namespace {

const char kMountHelp[] = R"(Usage: qvork mount [OPTIONS] CACHE_OR_SITE_FILE MOUNTPOINT

Shows the cache as a read-only file system at MOUNTPOINT (FUSE): one folder
per site at the top, named as "qvork get" names it (two sites of one name
get "@" and their cache file name), the site's URL paths as folders and
files, with the sizes of the stored bodies and the times of their
Last-Modified (else Date) headers. Each file's stored header is its extended
attribute user.http.header; user.http.status and user.http.content_type hold
its status and Content-Type (getfattr -d -m http FILE).

CACHE_OR_SITE_FILE is NetSonic's cache folder (holding icache/), the icache
folder itself, or one site file (cache7), whose site's folders and files
are then the mount's top. Bodies are copied out through the plug-in when a
file is first opened, one at a time.

Options:
  -f            stay in the foreground (Ctrl+C unmounts)
  -s            serve one request at a time
  -d            print every request (implies -f)
  -o OPTIONS    comma-separated; libfuse's mount options, and:
                  decode   bodies decoded as "qvork get --decode" writes them
  --plugin FILE the plug-in module to load (default: qvork.so beside qvork)
  -h, --help    this text

Unmount with "fusermount3 -u MOUNTPOINT" (or Ctrl+C with -f). The mount ends
by itself when a site file changes under it. Without -f its messages (why it
ended, damaged entries) go to the system log: journalctl -t qvork.
)";

struct MountOptions {
    std::string source;
    std::string mountPoint;
    std::string plugin;
    bool foreground = false;
    bool singleThread = false;
    bool debug = false;
    bool decode = false;
    std::vector<std::string> fuseOptions;
};

int MountUsage(const std::string &message) {
    std::fprintf(stderr, "qvork mount: %s\nTry 'qvork mount --help'.\n", message.c_str());
    return kExitUsage;
}

int MountFail(const std::string &message, const char *who = "qvork mount") {
    std::fprintf(stderr, "%s: %s\n", who, message.c_str());
    return kExitFailed;
}

void TakeMountOptions(const std::string &list, MountOptions &options) {
    for (const std::string &option : Split(list, ',')) {
        if (option == "decode") {
            options.decode = true;
        } else if (!option.empty() && option != "ro") {
            options.fuseOptions.push_back(option);
        }
    }
}

// -1 when parsed, else the exit status (help, usage error).
int ParseMount(int argc, char **argv, MountOptions &options) {
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kMountHelp, stdout);
            return kExitOk;
        } else if (arg == "-f") {
            options.foreground = true;
        } else if (arg == "-s") {
            options.singleThread = true;
        } else if (arg == "-d") {
            options.debug = options.foreground = true;
        } else if (arg == "-o" && hasValue) {
            TakeMountOptions(argv[++i], options);
        } else if (arg.compare(0, 2, "-o") == 0 && arg.size() > 2) {
            TakeMountOptions(arg.substr(2), options);
        } else if (arg == "--plugin" && hasValue) {
            options.plugin = argv[++i];
        } else if (arg.compare(0, 9, "--plugin=") == 0) {
            options.plugin = arg.substr(9);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return MountUsage("unknown option or option without its value '" + arg + "'");
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() != 2) {
        return MountUsage("mount takes CACHE_OR_SITE_FILE and MOUNTPOINT");
    }
    options.source = operands[0];
    options.mountPoint = operands[1];
    return -1;
}

// Loads the module and hands it the host's services; false with `error`.
bool LoadPlugin(PluginModule &module, const std::string &path, std::string &error) {
    if (!module.Load(ChooseModulePath(path), error)) {
        error += " (give the module with --plugin FILE)";
        return false;
    }
    module.KeepLoaded();
    if (module.Entry().GetFiles == nullptr || module.Entry().SetDirectory == nullptr) {
        error = "the plug-in module does not export GetFiles and SetDirectory";
        return false;
    }
    const PluginStartupInfo info = MakeStartupInfo(module.Path());
    module.Entry().SetStartupInfo(&info);
    return true;
}

int Serve(const MountOptions &options, MountIndex &index) {
    std::atomic<bool> siteChanged{false};
    index.SetOnSiteChanged([&siteChanged](const std::string &why) {
        MountIndex::Warn(why + "; unmounting");
        siteChanged = true;
        StopFuse();
    });
    std::vector<std::string> arguments{"qvork mount", options.mountPoint, "-o",
                                       "ro,default_permissions,fsname=qvork,subtype=qvork"};
    for (const std::string &option : options.fuseOptions) {
        arguments.insert(arguments.end(), {"-o", option});
    }
    if (options.foreground) {
        arguments.push_back("-f");
    }
    if (options.singleThread) {
        arguments.push_back("-s");
    }
    if (options.debug) {
        arguments.push_back("-d");
    }
    const int served = RunFuse(index, arguments);
    if (siteChanged) {
        return kExitFailed;
    }
    return served == 0 ? kExitOk : kExitFailed;
}

} // namespace

int WithCacheIndex(const std::string &source, const std::string &plugin, bool decode,
                   bool removeOnSignal, const char *who,
                   const std::function<int(MountIndex &)> &use) {
    const char *tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    std::string pattern = base + "/qvork-mount.XXXXXX";
    // The header view writes, reads and deletes one small file per header,
    // and small bodies are copied out one file each: in memory (tmpfs)
    // where there is one, since a disk file system's per-file costs (a
    // flush on close among them) outweigh the bytes.
    struct stat shm;
    std::string headers = (stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) &&
                           access("/dev/shm", W_OK) == 0)
                              ? "/dev/shm/qvork-headers.XXXXXX"
                              : base + "/qvork-headers.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return MountFail("cannot create a private folder under " + base, who);
    }
    const fs::path work = pattern;
    if (removeOnSignal) {
        RemoveOnSignal(work.string());
    }
    std::string error;
    int status = kExitFailed;
    PluginModule module;
    const bool headersMade = mkdtemp(headers.data()) != nullptr;
    if (headersMade && removeOnSignal) {
        RemoveOnSignal(headers);
    }
    if (!headersMade || setenv("TMPDIR", headers.c_str(), 1) != 0) {
        // The plug-in writes its header files in a private folder only.
        MountFail("cannot create a private folder for headers", who);
        headers.clear();
    } else if (!LoadPlugin(module, plugin, error)) {
        MountFail(error, who);
    } else {
        MountIndex index(module, work.string(), headers, decode);
        status = index.Start(source, error) ? use(index) : MountFail(error, who);
        index.Stop();
    }
    std::error_code ignored;
    if (!headers.empty()) {
        fs::remove_all(headers, ignored);
        ForgetOnSignal(headers);
    }
    fs::remove_all(work, ignored);
    ForgetOnSignal(work.string());
    return status;
}

int RunMount(int argc, char **argv) {
    MountOptions options;
    const int parsed = ParseMount(argc, argv, options);
    if (parsed >= 0) {
        return parsed;
    }
    struct stat point;
    if (stat(options.mountPoint.c_str(), &point) != 0 || !S_ISDIR(point.st_mode)) {
        return MountFail("the mount point " + options.mountPoint + " is not a folder");
    }
    // Mounted over the cache's own folder (or one above it), the mount would
    // hide the site files it reads, and wait on itself for ever.
    std::error_code failed;
    const fs::path pointPath = fs::weakly_canonical(fs::absolute(options.mountPoint, failed), failed);
    const fs::path source = fs::weakly_canonical(fs::absolute(options.source, failed), failed);
    // The site files lie in the source itself, in its icache folder, or are
    // the source: a mount point at or above either hides them.
    auto holds = [&](const fs::path &inside) {
        const auto ends = std::mismatch(pointPath.begin(), pointPath.end(), inside.begin(), inside.end());
        return !pointPath.empty() && ends.first == pointPath.end();
    };
    if (holds(source) || holds(source / "icache")) {
        return MountFail("the mount point " + options.mountPoint + " holds the cache " +
                         options.source + ": it would hide the site files it shows");
    }
    // Nor may it hide the folders the mount writes its own files in.
    const char *tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    for (const std::string &own : {base, std::string("/dev/shm")}) {
        if (holds(fs::weakly_canonical(own, failed))) {
            return MountFail("the mount point " + options.mountPoint + " holds " + own +
                             ", where the mount keeps its own files" +
                             (own == base ? " (set TMPDIR to another folder)" : ""));
        }
    }
    return WithCacheIndex(options.source, options.plugin, options.decode, false, "qvork mount",
                          [&options](MountIndex &index) { return Serve(options, index); });
}

bool IsMountCommand(int argc, char **argv) {
    return argc > 1 && std::strcmp(argv[1], "mount") == 0;
}

} // namespace qvork_host
