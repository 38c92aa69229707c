// The destination of a copy as found before and after it: which regular
// files are there, by path and identity, so the files a copy wrote (new, or
// put in place of older ones) can be told apart from everything else. Only
// what the copy may have touched is walked.
#ifndef QVORK_HOSTS_QVORK_DESTINATION_FILES_H
#define QVORK_HOSTS_QVORK_DESTINATION_FILES_H

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qvork_host {

// A regular file as found: its inode, its size, and when its inode last
// changed (a file made since may reuse a freed inode's number).
struct FileIdentity {
    std::uintmax_t inode = 0;
    std::uintmax_t size = 0;
    std::int64_t changed = 0; // ns
    explicit FileIdentity(const struct stat &info)
        : inode(static_cast<std::uintmax_t>(info.st_ino)),
          size(static_cast<std::uintmax_t>(info.st_size)),
          changed(static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec) {}
    bool Same(const FileIdentity &other) const {
        return inode == other.inode && changed == other.changed;
    }
};

// Regular files by path.
using FileIdentities = std::map<std::string, FileIdentity>;

// The destination's files that a copy of the items listed as `listed` may
// replace or add to: the destination's own files, and those under each
// folder in it that may bear one of those names, or that was not there
// `before`. Its other folders (a home folder's whole tree) are not walked.
struct DestinationFiles {
    std::set<std::string> entries; // the destination's own, every one
    FileIdentities files;
};

DestinationFiles FilesUnder(const std::string &folder, const std::vector<std::string> &listed,
                            const DestinationFiles *before = nullptr);

} // namespace qvork_host

#endif
