// Changing the files a copy wrote; see file_rewrite.h.
#include "hosts/qvork/file_rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "hosts/qvork/signal_cleanup.h"

namespace qvork_host {

namespace {

// A mkstemp pattern for a temporary in the folder of `path`: short, so a
// page whose name is near the longest a folder takes still has one, and a
// name of its own (no page of the copy can be replaced by its rename).
std::string TemporaryBeside(const std::string &path) {
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.qvork-XXXXXX";
}

// A new file beside `path` that takes its place once written: made with the
// mode `path` has (mkstemp's is 0600), removed by a signal that ends the
// process, and removed when it is not put in place.
class Replacement {
public:
    explicit Replacement(const std::string &path) : path_(path), temporary_(TemporaryBeside(path)) {
        {
            // A signal that ends the process waits until the new file is
            // known to its handler, which then removes it.
            const UnbrokenWrite registering;
            fd_ = mkstemp(&temporary_[0]);
            made_ = fd_ >= 0;
            watched_ = made_ && RemoveOnSignal(temporary_);
        }
        struct stat stored {};
        if (made_ && stat(path.c_str(), &stored) == 0) {
            fchmod(fd_, stored.st_mode & 0777);
        } else if (made_) {
            const mode_t mask = umask(0); // a new file: the mode open() would give
            umask(mask);
            fchmod(fd_, 0666 & ~mask);
        }
    }
    ~Replacement() {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (made_ && !placed_) {
            std::remove(temporary_.c_str());
        }
        if (watched_) {
            ForgetOnSignal(temporary_);
        }
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // The descriptor to write, or -1 when no file could be made.
    int Descriptor() const { return fd_; }
    // Hands the descriptor over (to an fdopen, which then closes it).
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the file if it is still held and renames it over `path`.
    bool PutInPlace() {
        const bool closed = fd_ < 0 || close(fd_) == 0;
        fd_ = -1;
        placed_ = made_ && closed && std::rename(temporary_.c_str(), path_.c_str()) == 0;
        return placed_;
    }

private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool made_ = false;
    bool watched_ = false;
    bool placed_ = false;
};

} // namespace

bool ReadWhole(const std::string &path, std::string &bytes) {
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad() && file.is_open();
}

// Rewrites the file at `path` in place with what `change` makes of its
// bytes (one opening; a new file and a rename would cost two more changes
// of the folder per page; a signal waits for the write to end). Nothing is
// written when nothing changes; false when it could not be read or written.
bool RewriteFile(const std::string &path,
                 const std::function<std::string(const std::string &)> &change,
                 uint64_t &size) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    std::string bytes;
    char buffer[1 << 16];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
        bytes.append(buffer, static_cast<size_t>(got));
    }
    bool good = got == 0;
    const std::string text = good ? change(bytes) : bytes;
    if (good && text != bytes) {
        // Room for a longer page is taken first: a full disk then leaves the
        // stored page whole rather than cut after its rewritten start.
        if (text.size() > bytes.size()) {
            const int reserved = fallocate(fd, 0, 0, static_cast<off_t>(text.size()));
            if (reserved != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
                close(fd);
                return false;
            }
        }
        const UnbrokenWrite unbroken;
        size_t done = 0;
        while (good && done < text.size()) {
            const ssize_t put = pwrite(fd, text.data() + done, text.size() - done,
                                       static_cast<off_t>(done));
            good = put > 0;
            done += good ? static_cast<size_t>(put) : 0;
        }
        good = good && ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    }
    size = text.size();
    return close(fd) == 0 && good;
}

// Puts `bytes` in place of the file at `path`, through a new file beside it
// and a rename: a full disk leaves the file as it was.
bool WriteWhole(const std::string &path, const std::string &bytes) {
    Replacement next(path);
    size_t done = 0;
    while (next.Descriptor() >= 0 && done < bytes.size()) {
        const ssize_t put = write(next.Descriptor(), bytes.data() + done, bytes.size() - done);
        if (put <= 0) {
            break;
        }
        done += static_cast<size_t>(put);
    }
    return next.Descriptor() >= 0 && done == bytes.size() && next.PutInPlace();
}

// Decodes the file at `path` in place; false with `error` when it does not
// decode (the file then stays as stored).
bool DecodeInPlace(const std::string &path, const BodyCoding &coding, std::string &error) {
    FILE *in = std::fopen(path.c_str(), "rb");
    struct stat stored {};
    if (in == nullptr || fstat(fileno(in), &stored) != 0) {
        if (in != nullptr) {
            std::fclose(in);
        }
        error = "cannot open it to decode";
        return false;
    }
    Replacement next(path);
    const int fd = next.Release();
    FILE *out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (out == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        std::fclose(in);
        error = "cannot open it to decode";
        return false;
    }
    bool decoded = DecodeStream(in, out, coding, error, DecodeLimit(static_cast<uint64_t>(stored.st_size)));
    std::fclose(in);
    if (std::fclose(out) != 0 && decoded) {
        error = "cannot write the decoded body";
        decoded = false;
    }
    if (decoded && !next.PutInPlace()) {
        error = "cannot put the decoded body in its place";
        decoded = false;
    }
    return decoded;
}

} // namespace qvork_host
