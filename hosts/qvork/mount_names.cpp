// Names as a copy writes them (see the header).
#include "hosts/qvork/mount_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qvork_host {

namespace {

constexpr size_t kCopyNameLimit = 260; // a longer name is cut to 259 bytes
constexpr size_t kLinuxNameLimit = 255;
const char kUnsafe[] = "?+*:|\\/\"<>";

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$ before the first dot
// (trailing spaces ignored), in any case.
bool IsDeviceName(const std::string &name) {
    size_t stem = name.find('.');
    if (stem == std::string::npos) {
        stem = name.size();
    }
    while (stem > 0 && name[stem - 1] == ' ') {
        --stem;
    }
    std::string upper;
    for (size_t i = 0; i < stem; ++i) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
        upper == "CONIN$" || upper == "CONOUT$") {
        return true;
    }
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// A trailing dot or space is dropped by Windows ("a." would be "a"): as the
// copy does, each becomes '-'.
std::string WithoutTrailingDots(std::string name) {
    for (size_t end = name.size(); end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ');
         --end) {
        name[end - 1] = '-';
    }
    return name;
}

} // namespace

std::string WrittenName(const std::string &listed) {
    std::string name = listed.substr(0, std::strlen(listed.c_str()));
    if (name.empty()) {
        return "-"; // no name would be the folder itself
    }
    if (name.size() > kCopyNameLimit) {
        name.resize(kCopyNameLimit - 1);
    }
    if (IsDeviceName(name)) {
        name.insert(0, "_");
        if (name.size() > kCopyNameLimit) {
            name.resize(kCopyNameLimit - 1);
        }
    }
    for (char &c : name) {
        if (std::strchr(kUnsafe, c) != nullptr || static_cast<unsigned char>(c) < 32) {
            c = '-';
        }
    }
    if (!name.empty() && name.find_first_not_of(". ") == std::string::npos) {
        name.assign(name.size(), '-');
    }
    if (name.size() > kLinuxNameLimit) {
        name.resize(kLinuxNameLimit);
    }
    return WithoutTrailingDots(name);
}

std::string NumberedName(const std::string &name, unsigned number) {
    const std::string suffix = "~" + std::to_string(number);
    const size_t dot = name.rfind('.');
    size_t stem = dot != std::string::npos && dot != 0 ? dot : name.size();
    std::string extension = name.substr(stem);
    if (stem + suffix.size() + extension.size() > kLinuxNameLimit) {
        if (suffix.size() + extension.size() >= kLinuxNameLimit) {
            extension.clear(); // no room for the extension: the number ends the name
        }
        stem = std::min(stem, kLinuxNameLimit - suffix.size() - extension.size());
    }
    return name.substr(0, stem) + suffix + extension;
}

std::string SiteFolderName(const std::string &name, const std::string &suffix) {
    const size_t room = kLinuxNameLimit > suffix.size() ? kLinuxNameLimit - suffix.size() : 0;
    return name.substr(0, room) + suffix;
}

} // namespace qvork_host
