// `qvork extfs VERB ARCHIVE ...`: the back end of Midnight Commander's extfs
// helper uqvork. ARCHIVE is a site file (its site's folders and files at
// the top) or a cache folder (one folder per site). The tree, its names and
// its bodies are the mount's: what mc shows is what `qvork mount` shows.
//   list ARCHIVE                   one `ls -l` line per folder and file
//   copyout ARCHIVE NAME DEST      the body of NAME into the file DEST
//   rm, rmdir, mkdir, copyin, run  refused: the cache is read-only here
#include "hosts/qvork/mount_extfs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "hosts/qvork/command_line.h"
#include "hosts/qvork/mount_command.h"
#include "hosts/qvork/mount_index.h"

namespace qvork_host {

namespace {

int ExtfsFail(const std::string &message) {
    std::fprintf(stderr, "uqvork: %s\n", message.c_str());
    return kExitFailed;
}

// A top-level entry as mc names it, and as the mount does.
struct TopName {
    std::string shown;
    std::string name;
    int id;
};

// The top-level entries under the names mc keeps: mc drops the blanks a
// listed path begins with, so a name that begins with blanks is listed
// without them, numbered ("name~2.ext", "folder~2") when another entry has
// that name.
std::vector<TopName> McTopNames(MountIndex &index) {
    std::vector<std::pair<std::string, int>> top;
    index.List(0, top);
    std::set<std::string> taken;
    for (const auto &[name, id] : top) {
        if (name.find_first_not_of(' ') == 0) {
            taken.insert(name);
        }
    }
    std::vector<TopName> names;
    for (const auto &[name, id] : top) {
        const size_t start = name.find_first_not_of(' ');
        std::string shown = name;
        if (start != 0) {
            const std::string bare = start == std::string::npos ? "-" : name.substr(start);
            struct stat st;
            const bool folder = index.Stat(id, st) == 0 && S_ISDIR(st.st_mode);
            const size_t dot = folder ? std::string::npos : bare.rfind('.');
            const size_t at = dot != std::string::npos && dot != 0 ? dot : bare.size();
            shown = bare;
            for (int number = 2; taken.count(shown) != 0; ++number) {
                shown = bare.substr(0, at) + "~" + std::to_string(number) + bare.substr(at);
            }
            taken.insert(shown);
        }
        names.push_back({shown, name, id});
    }
    return names;
}

// One line as mc's extfs reads it: mode, links, owner, group, size, date
// (MM-DD-YYYY hh:mm:ss, local time), the path below the archive.
void PrintEntry(MountIndex &index, int id, const std::string &path) {
    struct stat st;
    if (index.Stat(id, st) != 0) {
        return;
    }
    struct tm local;
    char date[32];
    localtime_r(&st.st_mtime, &local);
    std::strftime(date, sizeof(date), "%m-%d-%Y %H:%M:%S", &local);
    const bool isFolder = S_ISDIR(st.st_mode);
    std::printf("%s 1 %u %u %lld %s %s\n", isFolder ? "dr-xr-xr-x" : "-r--r--r--",
                static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_gid),
                static_cast<long long>(st.st_size), date, path.c_str());
    if (!isFolder) {
        return;
    }
    std::vector<std::pair<std::string, int>> names;
    index.List(id, names);
    for (const auto &[name, child] : names) {
        PrintEntry(index, child, path + "/" + name);
    }
}

// The entry mc names `stored` ("top/below"), its top under the name mc keeps.
int LookupAsMcNames(MountIndex &index, const std::string &stored) {
    const size_t slash = stored.find('/');
    const std::string first = stored.substr(0, slash);
    for (const TopName &top : McTopNames(index)) {
        if (top.shown == first) {
            return index.Lookup("/" + top.name +
                                (slash == std::string::npos ? "" : stored.substr(slash)));
        }
    }
    return index.Lookup("/" + stored);
}

int CopyOut(MountIndex &index, const std::string &stored, const std::string &dest) {
    const int id = LookupAsMcNames(index, stored);
    MountIndex::SetWarnings("uqvork", false);
    const int fd = id < 0 ? id : index.OpenBody(id);
    if (fd < 0) {
        return ExtfsFail(stored + ": " + std::strerror(-fd));
    }
    FILE *out = std::fopen(dest.c_str(), "wb");
    bool ok = out != nullptr;
    char buffer[65536];
    off_t offset = 0;
    while (ok) {
        const ssize_t got = pread(fd, buffer, sizeof(buffer), offset);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = std::fwrite(buffer, 1, static_cast<size_t>(got), out) == static_cast<size_t>(got);
        offset += got;
    }
    if (out != nullptr && std::fclose(out) != 0) {
        ok = false;
    }
    index.CloseBody(id);
    return ok ? kExitOk : ExtfsFail("cannot write " + dest + ": " + std::strerror(errno));
}

} // namespace

int RunExtfs(int argc, char **argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "rm" || verb == "rmdir" || verb == "mkdir" || verb == "copyin" || verb == "run") {
        return ExtfsFail("the cache is read-only here: nothing is changed inside a site (whole "
                         "sites are deleted with qvork rm or F8 in qvork's panel)");
    }
    const char usage[] = "usage: qvork extfs list ARCHIVE | copyout ARCHIVE NAME DEST\n"
                         "(Midnight Commander's extfs calls, made by its helper uqvork)\n";
    if (verb == "--help" || verb == "-h") {
        std::fputs(usage, stdout);
        return kExitOk;
    }
    if (!((verb == "list" && argc == 3) || (verb == "copyout" && argc == 5))) {
        std::fputs(usage, stderr);
        return kExitUsage;
    }
    const bool decode = std::getenv("UQVORK_DECODE") != nullptr &&
                        std::strcmp(std::getenv("UQVORK_DECODE"), "1") == 0;
    // mc shows anything on standard error as a failure: the plug-in's word
    // on a damaged record elsewhere in the site would come with every file.
    // What concerns the file copied out is still said.
    MountIndex::SetWarnings("uqvork", true);
    return WithCacheIndex(argv[2], "", decode, true, "uqvork", [&](MountIndex &index) -> int {
        // A site file that changes while it is read leaves a listing or a
        // body that is neither the old one nor the new one.
        std::string changed;
        index.SetOnSiteChanged([&changed](const std::string &why) { changed = why; });
        int status = kExitOk;
        if (verb == "list") {
            for (const TopName &top : McTopNames(index)) {
                PrintEntry(index, top.id, top.shown);
            }
            status = std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
        } else {
            status = CopyOut(index, argv[3], argv[4]);
        }
        if (!changed.empty()) {
            const size_t under = changed.find(" under the mount");
            return ExtfsFail(changed.substr(0, under) + " while it was read; open it again");
        }
        return status;
    });
}

bool IsExtfsCommand(int argc, char **argv) {
    return argc > 1 && std::strcmp(argv[1], "extfs") == 0;
}

} // namespace qvork_host
