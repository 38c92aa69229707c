// Header views shared with a forked copy of the process; see split_views.h.
#include "hosts/qvork/split_views.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/stored_items.h"

namespace qvork_host {

namespace {

// A listing this long is worth a second process: the fork and the copy's
// own start cost about as much as a few hundred views.
constexpr uint32_t kSplitAfter = 512;
// Anything longer in the pipe is not a record the copy wrote.
constexpr uint32_t kLongestField = 1u << 24;
// The copy sends its views this many at a time: the lister waits for none
// of them for long, and the pipe is not written once a view.
constexpr uint32_t kSendEvery = 8;

bool TwoProcessorsFree() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) >= 2;
}

bool ReadExactly(std::FILE *in, void *to, size_t size) {
    return size == 0 || std::fread(to, 1, size, in) == size;
}

bool ReadText(std::FILE *in, std::string &text) {
    uint32_t size = 0;
    if (!ReadExactly(in, &size, sizeof size) || size > kLongestField) {
        return false;
    }
    text.resize(size);
    return ReadExactly(in, text.data(), size);
}

void WriteText(std::FILE *out, const std::string &text) {
    const uint32_t size = static_cast<uint32_t>(text.size());
    std::fwrite(&size, sizeof size, 1, out);
    std::fwrite(text.data(), 1, text.size(), out);
}

} // namespace

SplitViews::~SplitViews() {
    if (!inCopy_) {
        Finish();
    }
}

bool SplitViews::Fetch(int item, const std::string &key, std::string &header) {
    ++views_;
    if (!tried_ && views_ > kSplitAfter) {
        tried_ = true;
        Start();
    }
    if (split_ == 0) {
        return FetchHeader(session_, ui_, item, header);
    }
    const uint32_t number = views_ - split_;
    const bool copysTurn = number % 2 == 1;
    if (inCopy_) {
        if (copysTurn) {
            const int warnings = ui_.WarningsShown();
            const bool good = FetchHeader(session_, ui_, item, header) && ui_.WarningsShown() == warnings;
            Send(number, key, good, header);
        }
        header.clear();
        return false;
    }
    if (copysTurn && pipe_ != nullptr && Receive(number, key, header)) {
        return true;
    }
    return FetchHeader(session_, ui_, item, header);
}

void SplitViews::Start() {
    if (!TwoProcessorsFree()) {
        return;
    }
    // The copy's views get a folder of their own, so the two never race for
    // a temporary name. The lister makes it and removes it, whatever becomes
    // of the copy.
    std::string error;
    int ends[2];
    if (!folder_.Make(TemporaryFolder(), error) || pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    // Only this thread may exist across the fork: the viewer's remover is
    // stopped (it starts again in each process when next needed).
    ui_.FinishDeletions();
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t lister = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(ends[0]);
        close(ends[1]);
        return;
    }
    split_ = views_ - 1;
    if (pid > 0) {
        KillOnSignal(pid);
        close(ends[1]);
        // Room for the copy to run well ahead of the lister.
        fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
        copy_ = pid;
        pipe_ = fdopen(ends[0], "r");
        if (pipe_ == nullptr) {
            close(ends[0]);
            Stop();
        }
        return;
    }
    inCopy_ = true;
    ResetSignalCleanup();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != lister) {
        _exit(0);
    }
    close(ends[0]);
    const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(nothing, 1) < 0 || dup2(nothing, 2) < 0) {
        _exit(0);
    }
    setenv("TMPDIR", folder_.Path().c_str(), 1);
    pipe_ = fdopen(ends[1], "w");
    if (pipe_ == nullptr) {
        _exit(0);
    }
    static char buffer[1 << 16];
    setvbuf(pipe_, buffer, _IOFBF, sizeof buffer);
}

void SplitViews::Send(uint32_t number, const std::string &key, bool good, const std::string &header) {
    const unsigned char flag = good ? 1 : 0;
    std::fwrite(&number, sizeof number, 1, pipe_);
    std::fwrite(&flag, 1, 1, pipe_);
    WriteText(pipe_, key);
    WriteText(pipe_, good ? header : std::string());
    if (number / 2 % kSendEvery == 0) {
        std::fflush(pipe_);
    }
    if (std::ferror(pipe_)) {
        _exit(0); // the lister has stopped reading
    }
}

bool SplitViews::Receive(uint32_t number, const std::string &key, std::string &header) {
    uint32_t sent = 0;
    unsigned char good = 0;
    std::string sentKey;
    if (!ReadExactly(pipe_, &sent, sizeof sent) || !ReadExactly(pipe_, &good, 1) ||
        !ReadText(pipe_, sentKey) || !ReadText(pipe_, header) || sent != number || sentKey != key) {
        header.clear();
        Stop();
        return false;
    }
    return good == 1;
}

void SplitViews::Stop() {
    if (pipe_ != nullptr) {
        std::fclose(pipe_);
        pipe_ = nullptr;
    }
    if (copy_ > 0) {
        kill(copy_, SIGKILL);
        while (waitpid(copy_, nullptr, 0) < 0 && errno == EINTR) {
        }
        KillOnSignal(-1);
        copy_ = -1;
    }
}

void SplitViews::Finish() {
    if (inCopy_) {
        std::fflush(pipe_);
        _exit(0);
    }
    // Every view the copy made for the lister has been taken: what it is
    // still doing is not needed. Its folder goes with this object.
    Stop();
}

} // namespace qvork_host
