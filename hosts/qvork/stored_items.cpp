// Headers through the header view, bodies through GetFiles.
#include "hosts/qvork/stored_items.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

bool FetchHeader(Session &session, TerminalUi &ui, int item, std::string &header) {
    header.clear();
    session.SetCurrentItem(item);
    const int shownBefore = ui.FilesShown();
    ui.CaptureFiles(&header);
    const bool handled = session.PressKey(KEY_CODE_F3, PKF_SHIFT);
    ui.CaptureFiles(nullptr);
    return handled && ui.FilesShown() != shownBefore;
}

std::string TemporaryFolder() {
    // The plug-in is handed paths in it, and takes "\\" for a separator.
    const char *folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' && std::strchr(folder, '\\') == nullptr ? folder
                                                                                        : "/tmp";
}

std::string PastPrivateFolder(const std::string &line, const std::string &folder) {
    if (folder.empty() || line.size() <= folder.size() || line.compare(0, folder.size(), folder) != 0 ||
        (line[folder.size()] != '/' && line[folder.size()] != '\\')) {
        return line;
    }
    std::string rest = line.substr(folder.size() + 1);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return rest;
}

WorkFolder::~WorkFolder() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        ForgetOnSignal(path_);
    }
}

bool WorkFolder::Make(const std::string &parent, std::string &error) {
    std::string pattern = parent + "/.qvork-work.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a work folder in '" + DisplayText(parent) + "': " + std::strerror(errno);
        return false;
    }
    path_ = pattern;
    RemoveOnSignal(path_);
    return true;
}

void WorkFolder::Clear() {
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(path_, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

FastViewFolder::FastViewFolder() {
    std::string ignored;
    std::error_code missing;
    if (!std::filesystem::is_directory("/dev/shm", missing) || !folder_.Make("/dev/shm", ignored)) {
        return;
    }
    const char *before = std::getenv("TMPDIR");
    hadBefore_ = before != nullptr;
    before_ = before != nullptr ? before : "";
    setenv("TMPDIR", folder_.Path().c_str(), 1);
}

FastViewFolder::~FastViewFolder() {
    if (folder_.Path().empty()) {
        return;
    }
    if (hadBefore_) {
        setenv("TMPDIR", before_.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

bool CopyAlone(Session &session, int item, WorkFolder &work, std::string &name,
               std::string &error) {
    work.Clear();
    std::vector<int> failed;
    const bool copied = session.CopyItems({item}, work.Path(), 0, failed);
    std::vector<std::string> written;
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(work.Path(), ignored)) {
        written.push_back(entry.path().filename().string());
    }
    if (!copied || !failed.empty() || written.size() != 1) {
        error = "'" + DisplayText(session.Name(item)) + "' was not copied";
        return false;
    }
    name = written[0];
    return true;
}

} // namespace qvork_host
