// Folders removed when a signal ends the process; see signal_cleanup.h. The
// handler uses only calls that are safe in a signal handler: the folders are
// read with getdents64 and emptied with unlinkat (a copy's temporaries found
// with readlinkat among the open descriptors), from fixed buffers.
#include "hosts/qvork/signal_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

namespace qvork_host {

namespace {

constexpr int kSlots = 8;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};
// Folders below a registered one that are emptied: a site copied out (the
// mc helper's folders) as deep as a URL goes, each level a few KiB of stack.
constexpr int kDeepest = 64;

constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

char Folders[kSlots][PATH_MAX];
struct sigaction Previous[kSignalCount]; // what each signal did before
const char *volatile Note = nullptr;     // told on standard error first
bool Replaced[kSignalCount];
volatile sig_atomic_t Used[kSlots];
volatile pid_t Child = -1;
char SweptFolder[PATH_MAX]; // absolute, as /proc/self/fd names files
volatile sig_atomic_t Sweeping;
bool Installed = false;
struct termios TerminalBefore;      // the panel's terminal as the shell left it
volatile sig_atomic_t TerminalFd = -1;
char TerminalLeave[256];              // what leaves the screen library's modes (alternate screen, hidden cursor)
// Files being rewritten in place (UnbrokenWrite), which a signal waits for;
// once the process is being ended no new one starts.
std::atomic<int> WritesUnderway{0};
std::atomic<bool> Ending{false};
static_assert(std::atomic<int>::is_always_lock_free, "read in the signal handler");

// getdents64's records.
struct LinuxDirent64 {
    ino64_t inode;
    off64_t next;
    unsigned short length;
    unsigned char type;
    char name[];
};

// Calls visit(name, type) for each entry of the open `folder` but "." and
// "..", reading from where the folder's position stands.
template <typename Visit>
void ForEachEntry(int folder, Visit visit) {
    alignas(LinuxDirent64) char buffer[4096];
    long got;
    while ((got = syscall(SYS_getdents64, folder, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const LinuxDirent64 *>(buffer + at);
            at += entry->length;
            if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) {
                visit(entry->name, entry->type);
            }
        }
    }
}

// Empties the open `folder`, `depth` folders below a registered one, and
// closes it. Folders below are opened from it, never by a path: a copied-out
// site's tree may be deeper than any path buffer.
void EmptyFolder(int folder, int depth) {
    // Entries removed while reading move the rest: read again until a pass
    // removes nothing.
    bool removed = true;
    while (removed) {
        removed = false;
        lseek(folder, 0, SEEK_SET);
        ForEachEntry(folder, [&](const char *name, unsigned char type) {
            if (unlinkat(folder, name, 0) == 0) {
                removed = true;
                return;
            }
            if (depth < kDeepest && (type == DT_DIR || type == DT_UNKNOWN)) {
                const int below = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (below >= 0) {
                    EmptyFolder(below, depth + 1);
                    removed = unlinkat(folder, name, AT_REMOVEDIR) == 0 || removed;
                }
            }
        });
    }
    close(folder);
}

// Removes the registered `path` with everything in it; true when it is gone.
bool RemoveTree(const char *path) {
    if (unlink(path) == 0) {
        return true; // a file registered by itself
    }
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder >= 0) {
        EmptyFolder(folder, 0);
    }
    return rmdir(path) == 0;
}

bool IsPluginTemporary(const char *name) {
    const size_t length = std::strlen(name);
    return length > 7 && std::strncmp(name, "~qv", 3) == 0 && std::strcmp(name + length - 4, ".tmp") == 0;
}

// Removes the plug-in's temporaries that this process holds open under
// SweptFolder: the file being written when the signal came. They are found
// among the process's own descriptors, so another copy's files, in the same
// folder or below it, are never touched, and no folder is walked.
void SweepOpenTemporaries() {
    const int descriptors = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptors < 0) {
        return;
    }
    const size_t folderLength = std::strlen(SweptFolder);
    ForEachEntry(descriptors, [&](const char *name, unsigned char) {
        char target[PATH_MAX];
        const ssize_t length = readlinkat(descriptors, name, target, sizeof target - 1);
        if (length <= 0) {
            return;
        }
        target[length] = 0;
        const char *base = std::strrchr(target, '/');
        if (base != nullptr && IsPluginTemporary(base + 1) &&
            std::strncmp(target, SweptFolder, folderLength) == 0 && target[folderLength] == '/') {
            unlink(target);
        }
    });
    close(descriptors);
}

void AwaitUnbrokenWrites() {
    Ending.store(true);
    const struct timespec millisecond = {0, 1000000};
    for (int waited = 0; WritesUnderway.load() > 0 && waited < 5000; ++waited) {
        nanosleep(&millisecond, nullptr);
    }
}

void OnSignal(int signal) {
    AwaitUnbrokenWrites();
    const char *note = Note;
    if (note != nullptr) {
        const ssize_t told = write(STDERR_FILENO, note, std::strlen(note));
        (void)told;
    }
    if (Sweeping) {
        SweepOpenTemporaries();
    }
    const pid_t child = Child;
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        if (Used[slot]) {
            RemoveTree(Folders[slot]);
        }
    }
    if (TerminalFd >= 0) {
        const ssize_t left = write(STDOUT_FILENO, TerminalLeave, std::strlen(TerminalLeave));
        (void)left;
        tcsetattr(TerminalFd, TCSANOW, &TerminalBefore);
    }
    // Then as the signal would have, once this returns: its default action,
    // or the handler that was there before (the panel's screen library
    // restores the terminal in its own).
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == signal && Replaced[i]) {
            sigaction(signal, &Previous[i], nullptr);
        }
    }
    raise(signal);
}

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// The table is changed with the signals held, so the handler never sees
// half an entry.
class Held {
public:
    Held() {
        const sigset_t set = HandledSignals();
        sigprocmask(SIG_BLOCK, &set, &before_);
    }
    ~Held() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

private:
    sigset_t before_;
};

void Install() {
    if (Installed) {
        return;
    }
    Installed = true;
    for (int i = 0; i < kSignalCount; ++i) {
        // A signal ignored when qvork started (nohup) stays ignored.
        if (sigaction(kSignals[i], nullptr, &Previous[i]) != 0 ||
            Previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnSignal;
        sigfillset(&action.sa_mask);
        Replaced[i] = sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

} // namespace

void NoteOnSignal(const char *note) { Note = note; }

bool RemoveOnSignal(const std::string &folder) {
    if (folder.empty() || folder.size() >= PATH_MAX) {
        return false;
    }
    Held held;
    Install();
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!Used[slot]) {
            std::memcpy(Folders[slot], folder.c_str(), folder.size() + 1);
            Used[slot] = 1;
            return true;
        }
    }
    return false;
}

void ForgetOnSignal(const std::string &folder) {
    Held held;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (Used[slot] && folder == Folders[slot]) {
            Used[slot] = 0;
        }
    }
}

void KeepSignalsOffThisThread() {
    const sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void ReadyUnbrokenWrites() {
    Held held;
    Install();
}

UnbrokenWrite::UnbrokenWrite() {
    const sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, &before_);
    WritesUnderway.fetch_add(1);
    if (Ending.load()) {
        // A signal is ending the process: this write never starts, and the
        // thread waits for the end with it.
        WritesUnderway.fetch_sub(1);
        for (;;) {
            pause();
        }
    }
}

UnbrokenWrite::~UnbrokenWrite() {
    WritesUnderway.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}

void SweepOnSignal(const std::string &folder) {
    char resolved[PATH_MAX];
    const bool known = !folder.empty() && realpath(folder.c_str(), resolved) != nullptr;
    Held held;
    Sweeping = 0;
    if (!known) {
        return;
    }
    Install();
    std::memcpy(SweptFolder, resolved, std::strlen(resolved) + 1);
    Sweeping = 1;
}

void RestoreTerminalOnSignal(int fd, const struct termios *before, const std::string &leave) {
    Held held;
    TerminalFd = -1;
    if (fd < 0 || before == nullptr) {
        return;
    }
    Install();
    TerminalBefore = *before;
    const size_t length = std::min(leave.size(), sizeof TerminalLeave - 1);
    std::memcpy(TerminalLeave, leave.data(), length);
    TerminalLeave[length] = 0;
    TerminalFd = fd;
}

void KillOnSignal(pid_t child) {
    Held held;
    Child = child;
}

namespace {

void Uninstall() {
    if (!Installed) {
        return;
    }
    for (int i = 0; i < kSignalCount; ++i) {
        if (Replaced[i]) {
            sigaction(kSignals[i], &Previous[i], nullptr);
            Replaced[i] = false;
        }
    }
    Installed = false;
}

} // namespace

void ResetSignalCleanup() {
    Held held;
    for (int slot = 0; slot < kSlots; ++slot) {
        Used[slot] = 0;
    }
    Child = -1;
    Sweeping = 0;
    Uninstall();
}

SignalCleanupAside::SignalCleanupAside() : wasInstalled_(Installed) {
    Held held;
    Uninstall();
}

SignalCleanupAside::~SignalCleanupAside() {
    if (wasInstalled_) {
        Held held;
        Install();
    }
}

} // namespace qvork_host
