#include "system_call_faults.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/linux/system_calls.h"

#ifndef QVORK_FAULT_MODULE_PATH
#error "QVORK_FAULT_MODULE_PATH must name the fault module (set by tests/support/CMakeLists.txt)"
#endif

namespace qvork_test {

namespace {

typedef BOOL (*SetSystemCallFn)(const char *, SystemCallPointer);
typedef SystemCallPointer (*GetSystemCallFn)(const char *);

struct Rule {
    std::string call;
    int nth;
    int error;
    std::string path; // empty: any
    int seen = 0;
};

// The faults of the one live SystemCallFaults.
struct FaultState {
    std::map<std::string, SystemCallPointer> originals;
    std::string folder; // empty: no trouble
    FolderTrouble trouble = FolderTrouble::Denied;
    size_t room = 0;
    std::map<std::string, size_t> sizes;   // Full: bytes of each file inside
    std::map<int, std::string> files;      // open descriptors of files inside
    std::map<FILE *, std::string> streams; // open streams of files inside
    std::vector<Rule> rules;
    std::vector<std::string> calls;
    size_t copyPiece = 0; // 0: copies inside the system are declined
};

FaultState *active = nullptr;

template <typename Fn> Fn Original(const char *call) {
    return reinterpret_cast<Fn>(active->originals.at(call));
}

bool Inside(const std::string &path) {
    const std::string &folder = active->folder;
    return !folder.empty() && path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// The error the trouble folder gives a call that changes `path` (0: none).
int TroubleError(const std::string &path) {
    if (!Inside(path)) return 0;
    switch (active->trouble) {
    case FolderTrouble::Denied: return EACCES;
    case FolderTrouble::ReadOnly: return EROFS;
    case FolderTrouble::Full: return 0;
    }
    return 0;
}

// The error `call` on `path` fails with (0: none); `changes` when it would
// create, write, rename or remove something there.
int Fault(const char *call, const std::string &path, bool changes) {
    active->calls.push_back(std::string(call) + " " + path);
    for (Rule &rule : active->rules) {
        if (rule.call != call || (!rule.path.empty() && rule.path != path)) continue;
        ++rule.seen;
        if (rule.nth == 0 || rule.seen == rule.nth) return rule.error;
    }
    return changes ? TroubleError(path) : 0;
}

size_t UsedBytes() {
    size_t used = 0;
    for (const auto &entry : active->sizes) used += entry.second;
    return used;
}

// How many of `bytes` the Full folder takes for the file at `path` (all of
// them elsewhere), counted as taken.
size_t Room(const std::string &path, size_t bytes) {
    if (active->trouble != FolderTrouble::Full || !Inside(path)) return bytes;
    const size_t used = UsedBytes();
    const size_t taken = std::min(bytes, active->room > used ? active->room - used : 0);
    active->sizes[path] += taken;
    return taken;
}

void Opened(const std::string &path, bool truncated) {
    if (Inside(path) && (truncated || !active->sizes.count(path))) active->sizes[path] = 0;
}

int OpenCall(const char *path, int flags, mode_t mode) {
    const bool changes = (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
    if (int error = Fault("open", path, changes)) return errno = error, -1;
    const int fd = Original<SystemCall_open>("open")(path, flags, mode);
    if (fd >= 0 && changes && Inside(path)) {
        Opened(path, (flags & O_TRUNC) != 0);
        active->files[fd] = path;
    }
    return fd;
}

int MkostempCall(char *pattern, int flags) {
    if (int error = Fault("mkostemp", pattern, true)) return errno = error, -1;
    const int fd = Original<SystemCall_mkostemp>("mkostemp")(pattern, flags);
    if (fd >= 0 && Inside(pattern)) {
        Opened(pattern, true);
        active->files[fd] = pattern;
    }
    return fd;
}

int MkdirCall(const char *path, mode_t mode) {
    if (int error = Fault("mkdir", path, true)) return errno = error, -1;
    return Original<SystemCall_mkdir>("mkdir")(path, mode);
}

FILE *FopenCall(const char *path, const char *mode) {
    const bool changes = std::strpbrk(mode, "wa+") != nullptr;
    if (int error = Fault("fopen", path, changes)) return errno = error, nullptr;
    FILE *stream = Original<SystemCall_fopen>("fopen")(path, mode);
    if (stream != nullptr && changes && Inside(path)) {
        Opened(path, mode[0] == 'w');
        active->streams[stream] = path;
    }
    return stream;
}

// A stream made from a descriptor opened to write keeps the descriptor's
// path: the layer opens its files with open and then fdopen.
FILE *FdopenCall(int fd, const char *mode) {
    FILE *stream = Original<SystemCall_fdopen>("fdopen")(fd, mode);
    auto found = active->files.find(fd);
    if (stream != nullptr && found != active->files.end()) {
        active->streams[stream] = found->second;
        active->files.erase(found);
    }
    return stream;
}

template <typename Key> std::string PathOf(const std::map<Key, std::string> &open, Key key) {
    auto found = open.find(key);
    return found != open.end() ? found->second : std::string();
}

size_t FwriteCall(const void *buffer, size_t size, size_t count, FILE *stream) {
    const std::string path = PathOf(active->streams, stream);
    if (int error = Fault("fwrite", path, false)) return errno = error, 0;
    if (size == 0) return Original<SystemCall_fwrite>("fwrite")(buffer, size, count, stream);
    const size_t taken = Room(path, size * count);
    const size_t fit = taken / size;
    if (taken != fit * size) active->sizes[path] -= taken - fit * size; // whole items only
    const size_t done = Original<SystemCall_fwrite>("fwrite")(buffer, size, fit, stream);
    if (fit < count) errno = ENOSPC;
    return done;
}

ssize_t WriteCall(int fd, const void *buffer, size_t count) {
    const std::string path = PathOf(active->files, fd);
    if (int error = Fault("write", path, false)) return errno = error, -1;
    const size_t fit = Room(path, count);
    if (fit == 0 && count > 0) return errno = ENOSPC, -1;
    return Original<SystemCall_write>("write")(fd, buffer, fit);
}

// Copies inside the system are declined unless a test lets them through,
// in pieces, counted against the Full folder's room as writes are.
ssize_t CopyFileRangeCall(int in, loff_t *inOffset, int out, loff_t *outOffset, size_t count,
                          unsigned flags) {
    if (active->copyPiece == 0) return errno = ENOSYS, -1;
    std::string path;
    for (const auto &stream : active->streams)
        if (fileno(stream.first) == out) path = stream.second;
    if (int error = Fault("copy_file_range", path, false)) return errno = error, -1;
    const size_t fit = Room(path, std::min(count, active->copyPiece));
    if (fit == 0 && count > 0) return errno = ENOSPC, -1;
    return Original<SystemCall_copy_file_range>("copy_file_range")(in, inOffset, out, outOffset,
                                                                   fit, flags);
}

int CloseCall(int fd) {
    active->files.erase(fd);
    return Original<SystemCall_close>("close")(fd);
}

int FcloseCall(FILE *stream) {
    active->streams.erase(stream);
    return Original<SystemCall_fclose>("fclose")(stream);
}

int UnlinkCall(const char *path) {
    if (int error = Fault("unlink", path, true)) return errno = error, -1;
    const int result = Original<SystemCall_unlink>("unlink")(path);
    if (result == 0) active->sizes.erase(path);
    return result;
}

int RenameCall(const char *from, const char *to) {
    int error = Fault("rename", to, true); // one call: rules count it once
    if (error == 0) error = TroubleError(from);
    if (error != 0) return errno = error, -1;
    const int result = Original<SystemCall_rename>("rename")(from, to);
    if (result == 0 && active->sizes.count(from)) {
        const size_t size = active->sizes[from];
        active->sizes.erase(from);
        if (Inside(to)) active->sizes[to] = size;
    }
    return result;
}

// The layer's one-call move is declined: every move goes through rename,
// which the rules see.
int RenameAt2Call(int, const char *, int, const char *, unsigned int) { return errno = ENOSYS, -1; }

template <typename Fn> SystemCallPointer Pointer(Fn function) {
    return reinterpret_cast<SystemCallPointer>(function);
}

FaultState state;

} // namespace

std::string FaultModulePath() {
    const char *override = std::getenv("QVORK_FAULT_MODULE");
    return override != nullptr && *override != '\0' ? override : QVORK_FAULT_MODULE_PATH;
}

SystemCallFaults::SystemCallFaults(const qvork_host::PluginModule &module) : module_(module) {
    auto set = reinterpret_cast<SetSystemCallFn>(module.Find("SetSystemCall"));
    auto get = reinterpret_cast<GetSystemCallFn>(module.Find("GetSystemCall"));
    if (set == nullptr || get == nullptr || active != nullptr) {
        problem_ = active != nullptr ? "faults are already set"
                                     : module.Path() + " exports no table of system calls";
        return;
    }
    state = FaultState();
    active = &state;
    const std::pair<const char *, SystemCallPointer> takenOver[] = {
        {"open", Pointer<SystemCall_open>(OpenCall)},
        {"mkostemp", Pointer<SystemCall_mkostemp>(MkostempCall)},
        {"mkdir", Pointer<SystemCall_mkdir>(MkdirCall)},
        {"fopen", Pointer<SystemCall_fopen>(FopenCall)},
        {"fdopen", Pointer<SystemCall_fdopen>(FdopenCall)},
        {"fwrite", Pointer<SystemCall_fwrite>(FwriteCall)},
        {"write", Pointer<SystemCall_write>(WriteCall)},
        {"copy_file_range", Pointer<SystemCall_copy_file_range>(CopyFileRangeCall)},
        {"close", Pointer<SystemCall_close>(CloseCall)},
        {"fclose", Pointer<SystemCall_fclose>(FcloseCall)},
        {"unlink", Pointer<SystemCall_unlink>(UnlinkCall)},
        {"rename", Pointer<SystemCall_rename>(RenameCall)},
        {"renameat2", Pointer<SystemCall_renameat2>(RenameAt2Call)},
    };
    for (const auto &call : takenOver) {
        state.originals[call.first] = get(call.first);
        if (state.originals[call.first] == nullptr || !set(call.first, call.second))
            problem_ += std::string(problem_.empty() ? "" : ", ") + "no call " + call.first;
    }
}

SystemCallFaults::~SystemCallFaults() {
    if (active != &state) return;
    auto set = reinterpret_cast<SetSystemCallFn>(module_.Find("SetSystemCall"));
    if (set != nullptr) set(nullptr, nullptr);
    active = nullptr;
}

void SystemCallFaults::Trouble(const std::filesystem::path &folder, FolderTrouble trouble,
                               size_t room) {
    state.folder = folder.string();
    state.trouble = trouble;
    state.room = room;
}

void SystemCallFaults::FailCall(const std::string &call, int nth, int error,
                                const std::filesystem::path &path) {
    state.rules.push_back({call, nth, error, path.string()});
}

void SystemCallFaults::CopyInPieces(size_t piece) { state.copyPiece = piece; }

size_t SystemCallFaults::Used() const { return active == &state ? UsedBytes() : 0; }

std::vector<std::string> SystemCallFaults::Calls() const { return state.calls; }

} // namespace qvork_test
