// Copying bodies out for the mount: one file at a time through GetFiles
// into a fresh private folder, decoded on request, kept behind a descriptor
// (the name is removed at once) while open or within the cache's budget;
// and whole folders SetDirectory cannot enter. Callers hold the index lock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "hosts/qvork/mount_index.h"
#include "hosts/qvork/mount_names.h"
#include "hosts/qvork/web/body_decode.h"

namespace qvork_host {

namespace {

// Bodies kept extracted while no handle holds them: in bytes, and in
// descriptors (a walk that reads every file must not run out of them).
constexpr uint64_t kBodyCacheBudget = 256u << 20;
constexpr int kBodyCacheCount = 256;
// Bodies up to this size are copied into the memory folder: a disk file
// system's per-file costs outweigh the copy itself for small files.
constexpr uint64_t kMemoryBodyLimit = 8u << 20;

// Room left in the memory folder for header views and other users of it.
constexpr uint64_t kMemoryReserve = 16u << 20;

// Whether `bytes` more fit in `folder` with the reserve left free.
bool RoomFor(const std::string &folder, uint64_t bytes) {
    struct statvfs space;
    return statvfs(folder.c_str(), &space) == 0 &&
           static_cast<uint64_t>(space.f_bavail) * space.f_frsize > bytes + kMemoryReserve;
}

} // namespace

void MountIndex::ExtractFolder(int id, int item) {
    const std::string target = workFolder_ + "/tree" + std::to_string(++extractions_);
    std::vector<int> failed;
    if (mkdir(target.c_str(), 0700) != 0 ||
        !session_.CopyItems({item}, target, OPM_SILENT, failed)) {
        Warn(entries_[id].name + ": the folder could not be copied out");
    }
    // Alone in a fresh folder, the copy writes it under its name unnumbered.
    entries_[id].extracted = target + "/" + WrittenName(entries_[id].source.back());
}

void MountIndex::ListExtracted(int id) {
    const std::string folder = entries_[id].extracted;
    DIR *listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return;
    }
    while (dirent *found = readdir(listing)) {
        const std::string name = found->d_name;
        struct stat st;
        const std::string path = folder + "/" + name;
        if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0 ||
            !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
            continue;
        }
        const int child = AddChild(id, name, S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_size),
                                   entries_[id].source);
        if (child >= 0) {
            entries_[child].extracted = path;
        }
    }
    closedir(listing);
}

int MountIndex::ExtractLocked(MountEntry &entry) {
    std::vector<std::string> folder = entry.source;
    folder.pop_back();
    if (!SiteUnchanged(entry.site)) {
        return -EIO;
    }
    if (!GoTo(entry.site, folder)) {
        return -EIO;
    }
    const int item = ItemOf(entry);
    if (item < 0) {
        return -EIO;
    }
    // A fresh folder per extraction: whatever file appears in it is the body.
    // Kept bodies stay in the memory folder: never fill it (/dev/shm may be small).
    const std::string &place =
        entry.size <= kMemoryBodyLimit && RoomFor(memoryFolder_, entry.size) ? memoryFolder_ : workFolder_;
    const std::string target = place + "/body" + std::to_string(++extractions_);
    if (mkdir(target.c_str(), 0700) != 0) {
        return -errno;
    }
    std::vector<int> failed;
    const bool copied = session_.CopyItems({item}, target, OPM_SILENT, failed);
    int fd = -EIO;
    if (DIR *written = opendir(target.c_str())) {
        while (dirent *found = readdir(written)) {
            const std::string name = found->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = target + "/" + name;
            if (fd == -EIO && copied && failed.empty()) {
                fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
                fd = fd >= 0 ? fd : -errno;
            }
            // The open descriptor keeps the bytes; the name is not needed.
            unlink(path.c_str());
        }
        closedir(written);
    }
    rmdir(target.c_str());
    // Written while the copy read it, the body may be half old, half new.
    if (fd >= 0 && !SiteUnchanged(entry.site)) {
        close(fd);
        return -EIO;
    }
    return fd;
}

// The decoded body of `entry`, whose stored body `stored` holds, as a new
// descriptor (`stored` closed); `stored` itself when the header names no
// coding, or, with a warning, when the body does not decode.
int MountIndex::DecodeLocked(MountEntry &entry, int stored) {
    if (!ReadHeaderLocked(entry)) {
        close(stored); // its coding unknown: never served as stored in its place
        return -EIO;
    }
    BodyCoding coding;
    std::string error;
    if (!CodingOf(entry.header.transferEncoding, entry.header.contentEncoding, coding, error)) {
        Warn(entry.name + ": served as stored: " + error);
        return stored;
    }
    if (coding.Plain()) {
        return stored;
    }
    const std::string path = workFolder_ + "/decoded" + std::to_string(++extractions_);
    FILE *in = fdopen(dup(stored), "rb");
    FILE *out = std::fopen(path.c_str(), "w+b");
    struct stat kept;
    const uint64_t limit = DecodeLimit(fstat(stored, &kept) == 0 ? static_cast<uint64_t>(kept.st_size) : 0);
    bool decoded = in != nullptr && out != nullptr && DecodeStream(in, out, coding, error, limit) &&
                   std::fflush(out) == 0;
    int fd = out != nullptr ? dup(fileno(out)) : -1;
    decoded = decoded && fd >= 0;
    if (in != nullptr) {
        std::fclose(in);
    }
    if (out != nullptr) {
        std::fclose(out);
    }
    std::remove(path.c_str()); // the descriptor keeps the bytes
    if (!decoded) {
        Warn(entry.name + ": served as stored: " + (error.empty() ? "cannot decode" : error));
        if (fd >= 0) {
            close(fd);
        }
        return stored;
    }
    close(stored);
    return fd;
}

int MountIndex::OpenBodyLocked(MountEntry &entry) {
    if (entry.folder) {
        return -EISDIR;
    }
    // A body kept from before may be the site file's old one: every open
    // looks, and a change ends the mount as it would at the next copy.
    if (entry.site >= 0 && !SiteUnchanged(entry.site)) {
        return -EIO;
    }
    if (entry.bodyFd < 0) {
        int fd = -EIO;
        if (!entry.extracted.empty()) {
            fd = open(entry.extracted.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            fd = fd >= 0 ? fd : -errno;
        } else {
            fd = ExtractLocked(entry);
        }
        if (fd < 0) {
            return fd;
        }
        struct stat written;
        if (!entry.sized && fstat(fd, &written) == 0 &&
            static_cast<uint64_t>(written.st_size) != entry.size) {
            Warn(entry.name + ": " + std::to_string(written.st_size) + " bytes copied of " +
                 std::to_string(entry.size) + " stored");
        }
        if (decode_ && entry.extracted.empty()) {
            fd = DecodeLocked(entry, fd);
            if (fd < 0) {
                return fd;
            }
            // From now on the file's size is that of what it serves.
            if (fstat(fd, &written) == 0) {
                entry.size = static_cast<uint64_t>(written.st_size);
            }
        }
        entry.sized = true;
        entry.bodyFd = fd;
        cachedBytes_ += entry.size;
        ++cachedBodies_;
    }
    ++entry.opens;
    return entry.bodyFd;
}

void MountIndex::CloseBodyLocked(MountEntry &entry) {
    if (entry.opens > 0) {
        --entry.opens;
    }
    if (entry.opens == 0 && entry.bodyFd >= 0 &&
        (cachedBytes_ > kBodyCacheBudget || cachedBodies_ > kBodyCacheCount)) {
        close(entry.bodyFd);
        entry.bodyFd = -1;
        cachedBytes_ -= std::min(cachedBytes_, entry.size);
        --cachedBodies_;
    }
}

int MountIndex::OpenBody(int id) {
    std::lock_guard<std::mutex> hold(lock_);
    return OpenBodyLocked(entries_[id]);
}

void MountIndex::CloseBody(int id) {
    std::lock_guard<std::mutex> hold(lock_);
    CloseBodyLocked(entries_[id]);
}

} // namespace qvork_host
