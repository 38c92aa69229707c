// The destination of a copy as found; see destination_files.h.
#include "hosts/qvork/destination_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace qvork_host {

namespace {

// Regular files under `folder` by path, added to `files`.
void AddFilesUnder(const std::string &folder, FileIdentities &files) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        struct stat info;
        if (lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            files.insert_or_assign(it->path().string(), FileIdentity(info));
        }
    }
}

// A byte as names are compared loosely: letters in one case, and every byte
// the plug-in may replace (or put in front of a device name) alike.
int Loose(unsigned char c) {
    return c < 32 || std::strchr("?+*:|\\/\"<>. _-", c) != nullptr ? '-' : std::tolower(c);
}

// True when the first bytes of `entry` from `from` (up to 8, and not past a
// numbering "~") are loosely those of `listed`.
bool SameStart(const std::string &entry, size_t from, const std::string &listed) {
    const size_t tilde = std::min(entry.find('~', from), entry.size());
    const size_t length = std::min({tilde - from, listed.size(), static_cast<size_t>(8)});
    for (size_t i = 0; i < length; ++i) {
        const int a = Loose(static_cast<unsigned char>(entry[from + i]));
        if (a != Loose(static_cast<unsigned char>(listed[i])) && !(i == 0 && from == 0 && a == '-')) {
            return false;
        }
    }
    return true;
}

// True when the plug-in may have written the entry `entry` of the
// destination for an item listed as `listed`: the name cleaned up (bytes
// replaced, "_" before a device name), cut short, or numbered.
bool MayHoldCopyOf(const std::string &entry, const std::string &listed) {
    return SameStart(entry, 0, listed) ||
           (entry.size() > 1 && Loose(static_cast<unsigned char>(entry[0])) == '-' &&
            SameStart(entry, 1, listed));
}

} // namespace

DestinationFiles FilesUnder(const std::string &folder, const std::vector<std::string> &listed,
                            const DestinationFiles *before) {
    DestinationFiles found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::string path = it->path().string();
        found.entries.insert(name);
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            found.files.insert_or_assign(path, FileIdentity(info));
        } else if (S_ISDIR(info.st_mode) &&
                   ((before != nullptr && before->entries.count(name) == 0) ||
                    std::any_of(listed.begin(), listed.end(), [&](const std::string &one) {
                        return MayHoldCopyOf(name, one);
                    }))) {
            AddFilesUnder(path, found.files);
        }
    }
    return found;
}

} // namespace qvork_host
