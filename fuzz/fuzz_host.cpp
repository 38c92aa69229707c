// The fuzz host; see fuzz_host.h.
#include "fuzz_host.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "host/plugin_state.h"
#include "hosts/common/host_services.h"
#include "platform/linux/system_calls.h"
#include "site_writer.h"

namespace fs = std::filesystem;

// --- The write guard ------------------------------------------------------------
// While armed, the layer's table of system calls (platform/linux/
// system_calls.h) holds the checking versions below of every call that
// creates, changes or removes a file, so the guard sees every file the
// plug-in touches and nothing that libFuzzer or this host writes (crash
// artifacts, corpus files, the fuzzed site file).

namespace {

struct WriteGuard {
    bool armed = false;
    std::vector<std::string> allowed; // resolved folders
    size_t quota = 0;
    size_t written = 0;
    // Files the plug-in wrote in the destination (the first allowed folder)
    // since the guard was armed: none of them may be written or replaced again.
    std::set<std::string> files;
};

WriteGuard Guard;

std::string Resolved(const std::string &folder)
{
    char real[PATH_MAX];
    return realpath(folder.c_str(), real) != NULL ? std::string(real) : folder;
}

// Whether `name` may be created on every platform: not "." or "..", no
// trailing dot or space (Windows drops them), no character Windows refuses,
// no device name (judged on the part before the first dot, trailing spaces
// ignored, any case). The plug-in's sanitised names all pass.
bool PortableName(const std::string &name)
{
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (unsigned char c : name) {
        if (c < 32 || strchr("<>:\"|?*\\", c) != NULL)
            return false;
    }
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        c = (char)toupper((unsigned char)c);
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices) {
        if (stem == device)
            return false;
    }
    return !(stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
             stem[3] >= '1' && stem[3] <= '9');
}

// Whether creating, changing or removing `path` stays inside an allowed
// folder. The parent is resolved; the last component must be a portable name.
bool MayTouch(const char *path)
{
    if (path == NULL)
        return true; // the call fails by itself
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    size_t slash = text.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (!PortableName(name))
        return false;
    char real[PATH_MAX];
    if (realpath(parent.c_str(), real) == NULL)
        return true; // no such parent: nothing can be created there
    std::string full = std::string(real) + "/" + name;
    for (const std::string &folder : Guard.allowed) {
        if (full.compare(0, folder.size() + 1, folder + "/") == 0)
            return true;
    }
    return false;
}

// `path` with its folder resolved; empty when the folder does not exist.
std::string FullPath(const char *path)
{
    std::string text(path);
    size_t slash = text.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    char real[PATH_MAX];
    if (realpath(parent.c_str(), real) == NULL)
        return std::string();
    return std::string(real) + "/" + text.substr(slash == std::string::npos ? 0 : slash + 1);
}

[[noreturn]] void Refuse(const char *call, const char *path, const char *what)
{
    fprintf(stderr, "qvork fuzz: %s(\"%s\") %s\n", call, path, what);
    Guard.armed = false;
    abort();
}

bool InDestination(const std::string &full)
{
    return !Guard.allowed.empty() && full.compare(0, Guard.allowed[0].size() + 1, Guard.allowed[0] + "/") == 0;
}

// A file is written at `path` (opened to write, or moved there): never
// through a link (`followsLink`), never over a file written earlier.
void GuardWrittenFile(const char *call, const char *path, bool followsLink)
{
    if (!Guard.armed || path == NULL)
        return;
    struct stat info;
    if (followsLink && lstat(path, &info) == 0 && S_ISLNK(info.st_mode))
        Refuse(call, path, "writes through a link");
    std::string full = FullPath(path);
    if (full.empty() || !InDestination(full))
        return;
    if (!Guard.files.insert(full).second)
        Refuse(call, path, "replaces a file written earlier in the same call");
}

void ForgetWrittenFile(const char *path)
{
    if (Guard.armed && path != NULL)
        Guard.files.erase(FullPath(path));
}

void Guarded(const char *call, const char *path)
{
    if (!Guard.armed || MayTouch(path))
        return;
    fprintf(stderr, "qvork fuzz: %s(\"%s\") outside the allowed folders:", call,
            path != NULL ? path : "(null)");
    for (const std::string &folder : Guard.allowed)
        fprintf(stderr, " %s", folder.c_str());
    fprintf(stderr, "\n");
    Guard.armed = false;
    abort();
}

bool ModeWrites(const char *mode)
{
    return mode != NULL && strpbrk(mode, "wa+") != NULL;
}

bool FlagsWrite(int flags)
{
    return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

FILE *GuardedFopen(const char *path, const char *mode)
{
    if (ModeWrites(mode)) {
        Guarded("fopen", path);
        GuardWrittenFile("fopen", path, true);
    }
    return fopen(path, mode);
}

int GuardedOpen(const char *path, int flags, mode_t mode)
{
    if (FlagsWrite(flags))
        Guarded("open", path);
    if ((flags & O_TRUNC) != 0 && (flags & O_EXCL) == 0)
        GuardWrittenFile("open", path, true); // a stream opened to write ("wb")
    struct stat info;
    if (Guard.armed && (flags & O_CREAT) != 0 && (flags & (O_EXCL | O_NOFOLLOW)) == 0 && path != NULL &&
        lstat(path, &info) == 0 && S_ISLNK(info.st_mode))
        Refuse("open", path, "writes through a link");
    return open(path, flags, mode);
}

int GuardedMkostemp(char *pattern, int flags)
{
    Guarded("mkostemp", pattern);
    return mkostemp(pattern, flags);
}

int GuardedMkdir(const char *path, mode_t mode)
{
    Guarded("mkdir", path);
    return mkdir(path, mode);
}

int GuardedUnlink(const char *path)
{
    Guarded("unlink", path);
    ForgetWrittenFile(path);
    return unlink(path);
}

int GuardedRename(const char *from, const char *to)
{
    Guarded("rename", from);
    Guarded("rename", to);
    ForgetWrittenFile(from);
    GuardWrittenFile("rename", to, false); // a link at `to` is replaced, not followed
    return rename(from, to);
}

int GuardedRenameat2(int fromFolder, const char *from, int toFolder, const char *to,
                     unsigned int flags)
{
    // Only ever called with AT_FDCWD by the layer: plain paths. A move that
    // does not replace fails on a name already there, and is then made the
    // long way: only one that happened writes its file.
    Guarded("renameat2", from);
    Guarded("renameat2", to);
    const int result = renameat2(fromFolder, from, toFolder, to, flags);
    if (result == 0) {
        ForgetWrittenFile(from);
        GuardWrittenFile("renameat2", to, false);
    }
    return result;
}

size_t GuardedFwrite(const void *buffer, size_t size, size_t count, FILE *stream)
{
    if (size != 0) {
        size_t room = Guard.quota > Guard.written ? Guard.quota - Guard.written : 0;
        if (count > room / size) {
            // The quota is spent: a full disk, as far as the plug-in can tell.
            size_t done = fwrite(buffer, size, room / size, stream);
            Guard.written += done * size;
            errno = ENOSPC;
            return done;
        }
        Guard.written += size * count;
    }
    return fwrite(buffer, size, count, stream);
}

// Puts the guarded calls into the table, or the defaults back.
void InstallGuard(bool armed)
{
    if (!armed) {
        SetSystemCall(NULL, NULL);
        return;
    }
    SetSystemCall("fopen", (SystemCallPointer)(SystemCall_fopen)GuardedFopen);
    SetSystemCall("open", (SystemCallPointer)(SystemCall_open)GuardedOpen);
    SetSystemCall("mkostemp", (SystemCallPointer)(SystemCall_mkostemp)GuardedMkostemp);
    SetSystemCall("mkdir", (SystemCallPointer)(SystemCall_mkdir)GuardedMkdir);
    SetSystemCall("unlink", (SystemCallPointer)(SystemCall_unlink)GuardedUnlink);
    SetSystemCall("rename", (SystemCallPointer)(SystemCall_rename)GuardedRename);
    SetSystemCall("renameat2", (SystemCallPointer)(SystemCall_renameat2)GuardedRenameat2);
    SetSystemCall("fwrite", (SystemCallPointer)(SystemCall_fwrite)GuardedFwrite);
}

} // namespace

namespace qvork_fuzz {

const char kFuzzedFileName[] = "cache7";

void Check(bool condition, const char *what)
{
    if (condition)
        return;
    fprintf(stderr, "qvork fuzz: check failed: %s\n", what);
    abort();
}

void ArmWriteGuard(const std::vector<std::string> &allowedFolders, size_t byteQuota)
{
    Guard.allowed.clear();
    for (const std::string &folder : allowedFolders)
        Guard.allowed.push_back(Resolved(folder));
    Guard.quota = byteQuota;
    Guard.written = 0;
    Guard.files.clear();
    Guard.armed = true;
    InstallGuard(true);
}

void DisarmWriteGuard()
{
    Guard.armed = false;
    InstallGuard(false);
}

// --- Host services ----------------------------------------------------------------

namespace {

// Touches every byte of a text the plug-in hands over, so a bad pointer or a
// missing terminator shows at once.
size_t TextLength(const char *text)
{
    return text != NULL ? strlen(text) : 0;
}

// The host library's services with the fuzz host's own checks and answers.
class FuzzServices : public qvork_host::HostServices {
public:
    qvork_host::PanelShown panel; // items NULL: Control fails

    int Message(int, DWORD, const char *helpTopic, const char *const *items, int itemsNumber,
                int buttonsNumber) override
    {
        TextLength(helpTopic);
        Check(itemsNumber >= 0 && (itemsNumber == 0 || items != NULL), "Message items");
        size_t total = 0;
        for (int i = 0; i < itemsNumber; i++)
            total += TextLength(items[i]);
        (void)total;
        return buttonsNumber == 1 ? 0 : -1;
    }

    HANDLE SaveScreen(int, int, int, int) override
    {
        return (HANDLE)1;
    }

    // Reads the file it is given and deletes it, as VF_DELETEONCLOSE asks.
    int Viewer(const char *fileName, const char *title, int, int, int, int, DWORD flags) override
    {
        TextLength(title);
        if (fileName == NULL)
            return FALSE;
        std::string native(fileName);
        for (char &c : native)
            if (c == '\\')
                c = '/';
        FILE *file = fopen(native.c_str(), "rb");
        if (file != NULL) {
            char buffer[4096];
            while (fread(buffer, 1, sizeof buffer, file) == sizeof buffer) {
            }
            fclose(file);
        }
        if ((flags & VF_DELETEONCLOSE) != 0)
            unlink(native.c_str());
        return TRUE;
    }

protected:
    bool Panel(HANDLE, qvork_host::PanelShown &shown) override
    {
        if (panel.items == NULL)
            return false;
        shown = panel;
        return true;
    }
};

FuzzServices *Services = NULL;
struct PluginStartupInfo StartupInfo;

Layout TheLayout;
bool IsSetUp = false;

void RemoveRoot()
{
    std::error_code ignored;
    if (!TheLayout.root.empty() && getenv("QVORK_FUZZ_KEEP") == NULL)
        fs::remove_all(TheLayout.root, ignored);
}

// A run that crashed (or was killed at the end of a -fork job) could not
// remove its folder; each folder carries its process id, so the next run
// removes those whose process is gone.
void RemoveFoldersOfEndedRuns(const std::string &base)
{
    std::error_code error;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        unsigned long pid = 0;
        char rest[16];
        if (sscanf(name.c_str(), "qvork-fuzz-%lu-%15s", &pid, rest) != 2 || pid == 0)
            continue;
        if (kill((pid_t)pid, 0) == -1 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

void WriteRegistry(const std::string &path, const std::string &cachePath)
{
    std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n"
                       "\"CachePath\"=\"";
    for (char c : cachePath) {
        if (c == '\\' || c == '"')
            text += '\\';
        text += c;
    }
    text += "\"\r\n";
    qvork_test::WriteBytes(path, text);
}

void WriteOrdinarySites(const std::string &folder)
{
    using qvork_test::OkRecord;
    qvork_test::WriteSiteFile(folder + "/cache1", "www.one.example",
                              {OkRecord("/", "<html>home</html>"),
                               OkRecord("img/logo.gif", std::string(300, '\x47'), "image/gif"),
                               OkRecord("a/b/c.html", "deep"), OkRecord("a/b", "b index"),
                               OkRecord("a/d.css", "body{}", "text/css")});
    qvork_test::WriteSiteFile(folder + "/cache2", "two.example:8080",
                              {OkRecord("index.html", "two"), OkRecord("x/y", "")});
}

} // namespace

const Layout &FuzzSetUp()
{
    if (IsSetUp)
        return TheLayout;
    // Memory-backed when possible: every run creates and removes files.
    const char *base = getenv("QVORK_FUZZ_TMP");
    if (base == NULL || base[0] == 0)
        base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    std::string folder = base != NULL && base[0] != 0 ? base : "/tmp";
    RemoveFoldersOfEndedRuns(folder);
    std::string pattern = folder + "/qvork-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    Check(mkdtemp(buffer.data()) != NULL, "mkdtemp for the fuzz folder");
    TheLayout.root = Resolved(buffer.data());
    TheLayout.cacheFolder = TheLayout.root + "/cache/icache";
    TheLayout.fuzzedSite = TheLayout.cacheFolder + "/" + kFuzzedFileName;
    TheLayout.tmp = TheLayout.root + "/tmp";
    TheLayout.work = TheLayout.root + "/work";
    TheLayout.dest = TheLayout.work + "/dest";
    TheLayout.sentinel = TheLayout.work + "/sentinel";
    atexit(RemoveRoot);
    for (const std::string &folder :
         {TheLayout.cacheFolder, TheLayout.tmp, TheLayout.dest, TheLayout.sentinel})
        fs::create_directories(folder);
    qvork_test::WriteBytes(TheLayout.work + "/sentinel.txt", "must stay as it is\n");

    std::string registry = TheLayout.root + "/registry.reg";
    WriteRegistry(registry, TheLayout.root + "/cache");
    setenv("QVORK_REGISTRY", registry.c_str(), 1);
    setenv("TMPDIR", TheLayout.tmp.c_str(), 1);
    WriteOrdinarySites(TheLayout.cacheFolder);
    WriteFuzzedSite(NULL, 0);

    Services = new FuzzServices; // the process's host until it ends
    StartupInfo = qvork_host::HostServices::StartupInfo("qvork-fuzz", 0, "Software\\qvork-fuzz\\Plugins");
    SetStartupInfo(&StartupInfo);
    IsSetUp = true;
    return TheLayout;
}

void WriteFuzzedSite(const uint8_t *data, size_t size)
{
    FILE *file = fopen(TheLayout.fuzzedSite.c_str(), "wb");
    Check(file != NULL, "create cache7");
    Check(size == 0 || fwrite(data, 1, size, file) == size, "write cache7");
    Check(fclose(file) == 0, "close cache7");
}

void SetPanel(struct PluginPanelItem *items, int count, int current)
{
    Services->panel.items = items;
    Services->panel.count = count;
    Services->panel.current = current;
}

std::string ItemName(const struct PluginPanelItem &item)
{
    return std::string(item.FindData.cFileName,
                       strnlen(item.FindData.cFileName, sizeof item.FindData.cFileName));
}

std::string CurDir(HANDLE panel)
{
    struct OpenPluginInfo info;
    memset(&info, 0, sizeof info);
    GetOpenPluginInfo(panel, &info);
    Check(info.CurDir != NULL, "CurDir set");
    Check(info.KeyBar != NULL && info.KeyBar->ShiftTitles[2] != NULL &&
              strcmp(info.KeyBar->ShiftTitles[2], "VwHdr") == 0,
          "the Shift+F3 title");
    return info.CurDir;
}

int CheckedRootListing(HANDLE panel, struct PluginPanelItem **items, int *count)
{
    *items = NULL;
    *count = -1;
    Check(GetFindData(panel, items, count, 0) == TRUE, "root GetFindData is TRUE");
    Check(*count == 3 && *items != NULL, "the root lists the three site files");
    int fuzzed = -1;
    for (int i = 0; i < *count; i++) {
        const struct PluginPanelItem &item = (*items)[i];
        Check(item.FindData.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY, "root item is a folder");
        Check(strnlen(item.FindData.cFileName, MAX_PATH) < MAX_PATH, "root name terminated");
        Check(item.UserData == 0 && item.Flags == 0, "root item UserData and Flags are 0");
        if (item.Description == NULL) {
            Check(ItemName(item) == kFuzzedFileName, "only cache7 may be unreadable");
            Check(item.NumberOfLinks == 0, "an unreadable site has no records");
            fuzzed = i;
            continue;
        }
        std::string file(item.Description);
        Check(file == "cache1" || file == "cache2" || file == kFuzzedFileName,
              "Description is the site file's name");
        if (file == kFuzzedFileName)
            fuzzed = i;
    }
    return fuzzed;
}

bool EnterSite(HANDLE panel, struct PluginPanelItem *rootItems, int count, int index, int current)
{
    std::string name = ItemName(rootItems[index]);
    SetPanel(rootItems, count, current);
    int entered = SetDirectory(panel, name.c_str(), 0);
    SetPanel(NULL, 0, 0);
    if (!entered) {
        Check(CurDir(panel).empty(), "a refused site leaves the panel at the root");
        return false;
    }
    // A name shared with an earlier item enters that one; its name is the same.
    Check(CurDir(panel) == name, "CurDir of a site's top folder is the site name");
    return true;
}

namespace {

bool Walkable(const std::string &name)
{
    return !name.empty() && name != ".." && name != "\\" && name.size() < MAX_PATH;
}

void CheckInSiteItem(const struct PluginPanelItem &item)
{
    DWORD attributes = item.FindData.dwFileAttributes;
    Check(attributes == 0 || attributes == FILE_ATTRIBUTE_DIRECTORY, "in-site attributes");
    Check(attributes == 0 || item.FindData.nFileSizeLow == 0, "a folder has no size");
    Check(item.UserData != 0, "in-site item refers to its node");
    Check(item.Description == NULL && item.Flags == 0 && item.NumberOfLinks == 0,
          "in-site item has no Description, Flags or links");
}

void ExpectCurDir(HANDLE panel, const std::string &expected)
{
    std::string now = CurDir(panel);
    if (expected.size() < CUR_DIR_SIZE - 1)
        Check(now == expected, "CurDir follows the walk");
    else
        Check(expected.compare(0, now.size(), now) == 0, "a long CurDir is cut, not changed");
}

} // namespace

void WalkSite(HANDLE panel, const std::function<void(struct PluginPanelItem *, int)> &visit)
{
    std::string here = CurDir(panel);
    struct PluginPanelItem *items = NULL;
    int count = -1;
    Check(GetFindData(panel, &items, &count, 0) == TRUE, "in-site GetFindData is TRUE");
    Check(count >= 0 && (count == 0 || items != NULL), "in-site listing");
    std::vector<std::string> names;
    for (int i = 0; i < count; i++) {
        CheckInSiteItem(items[i]);
        names.push_back(ItemName(items[i]));
    }
    if (visit)
        visit(items, count);
    FreeFindData(panel, items, count);
    ExpectCurDir(panel, here);
    for (const std::string &name : names) {
        if (!Walkable(name))
            continue;
        if (!SetDirectory(panel, name.c_str(), 0)) {
            ExpectCurDir(panel, here);
            continue;
        }
        ExpectCurDir(panel, here + "/" + name);
        WalkSite(panel, visit);
        Check(SetDirectory(panel, "..", 0) == TRUE, "\"..\" inside a site is TRUE");
        ExpectCurDir(panel, here);
    }
}

void LeaveSite(HANDLE panel, struct PluginPanelItem *rootItems, int rootCount)
{
    std::string top = CurDir(panel);
    // Down the first walkable chain, then "\" back to the top folder.
    int depth = 0;
    for (;;) {
        struct PluginPanelItem *items = NULL;
        int count = 0;
        GetFindData(panel, &items, &count, OPM_SILENT);
        std::string next;
        for (int i = 0; i < count && next.empty(); i++) {
            if (Walkable(ItemName(items[i])))
                next = ItemName(items[i]);
        }
        FreeFindData(panel, items, count);
        if (next.empty() || !SetDirectory(panel, next.c_str(), 0))
            break;
        depth++;
    }
    if (depth > 0) {
        Check(SetDirectory(panel, "\\", 0) == TRUE, "\"\\\" inside a site is TRUE");
        ExpectCurDir(panel, top);
    }
    Check(SetDirectory(panel, "..", 0) == TRUE, "\"..\" from the top folder is TRUE");
    Check(CurDir(panel).empty(), "leaving a site empties CurDir");
    struct PluginPanelItem *items = NULL;
    int count = 0;
    Check(GetFindData(panel, &items, &count, 0) == TRUE, "root GetFindData after leaving");
    Check(items == rootItems && count == rootCount, "leaving shows the held root listing");
}

std::vector<std::string> Snapshot(const std::string &folder, const std::vector<std::string> &skip)
{
    std::vector<std::string> entries;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        std::string relative = it->path().lexically_relative(folder).string();
        bool skipped = false;
        for (const std::string &s : skip)
            skipped = skipped || relative == s;
        if (skipped) {
            if (it->is_directory(error))
                it.disable_recursion_pending();
            continue;
        }
        struct stat info;
        if (lstat(it->path().c_str(), &info) != 0)
            continue;
        char line[64];
        snprintf(line, sizeof line, " %o %lld %lld.%09ld", (unsigned)info.st_mode,
                 (long long)info.st_size, (long long)info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
        entries.push_back(relative + line);
    }
    Check(!error, "snapshot walk");
    std::sort(entries.begin(), entries.end());
    return entries;
}

void EmptyFolder(const std::string &folder)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        fs::remove_all(it->path(), error);
    Check(!error, "emptying a folder");
}

} // namespace qvork_fuzz
