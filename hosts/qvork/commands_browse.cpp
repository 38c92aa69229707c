// ls, get and header: listing, copying out and the header view.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

std::string Quoted(const std::string &text) { return "'" + DisplayText(text) + "'"; }

int PathFailure(PathStatus status, const std::string &error) {
    Fail(error);
    return status == PathStatus::kInvalid ? kExitUsage : kExitFailed;
}

// Opens the panel and reads the cache root.
bool OpenAtRoot(Session &session, int &status) {
    std::string error;
    if (!session.Open(error) || !session.Read()) {
        status = Fail(error.empty() ? "the plug-in did not list the cache root" : error);
        return false;
    }
    return true;
}

// Walks from the cache root to the folder holding `path`'s item.
bool ReachParent(Session &session, const CachePath &path, int &status) {
    std::string error;
    if (!path.names.empty() && !WalkInto(session, path, path.names.size() - 1, error)) {
        status = Fail(error);
        return false;
    }
    return true;
}

// The item `path` names in the folder reached by ReachParent: the site at
// the root, else the last name. -1, with `status` set, when it is not there.
int FindLeaf(const Session &session, const CachePath &path, int &status) {
    if (path.names.empty()) {
        return path.siteIndex;
    }
    const int item = session.Find(path.names.back());
    if (item < 0) {
        status = Fail(Quoted(path.names.back()) + " not found in " +
                      Quoted(session.LocationText()));
    }
    return item;
}

// The warning boxes of one copy, kept instead of shown: the copy's report
// is printed from them afterwards, one line per failed item. Every other
// call goes to the screen.
class CopyReport : public HostUi {
public:
    explicit CopyReport(HostUi *screen) : screen_(screen) { InstallUi(this); }
    ~CopyReport() override { InstallUi(screen_); }

    int ShowMessage(const MessageBoxText &box) override {
        if ((box.flags & FMSG_WARNING) != 0 && box.buttons.size() == 1) {
            warnings_.push_back(box.lines);
            return 0;
        }
        return screen_ != nullptr ? screen_->ShowMessage(box) : 0;
    }
    int RunDialog(FarDialogItem *items, int count, int width, int height) override {
        return screen_ != nullptr ? screen_->RunDialog(items, count, width, height) : -1;
    }
    HANDLE SaveScreen() override { return screen_ != nullptr ? screen_->SaveScreen() : nullptr; }
    void RestoreScreen(HANDLE screen) override {
        if (screen_ != nullptr) screen_->RestoreScreen(screen);
    }
    int ShowFile(const std::string &path, const std::string &title, DWORD flags) override {
        return screen_ != nullptr ? screen_->ShowFile(path, title, flags) : 0;
    }

    // One line per failure: the plug-in shows a failed item as its failure
    // text, then its name with the full path and the system's reason.
    std::vector<std::string> FailureLines() const {
        std::vector<std::string> lines;
        for (size_t i = 0; i < warnings_.size(); ++i) {
            std::string line = Joined(warnings_[i]);
            if (i + 1 < warnings_.size() && warnings_[i].size() == 1 && warnings_[i + 1].size() == 3) {
                std::string path = warnings_[i + 1][1];
                std::replace(path.begin(), path.end(), '\\', '/');
                line += " " + DisplayText(path) + ": " + DisplayText(warnings_[i + 1][2]);
                ++i;
            }
            lines.push_back(line);
        }
        return lines;
    }

private:
    static std::string Joined(const std::vector<std::string> &texts) {
        std::string line;
        for (const std::string &text : texts) line += (line.empty() ? "" : " ") + DisplayText(text);
        return line;
    }

    HostUi *screen_;
    std::vector<std::vector<std::string>> warnings_;
};

// Regular files under `folder` by path: their identity and size, so files
// the copy wrote (new, or put in place of an older one) can be told apart.
std::map<std::string, std::pair<std::uintmax_t, std::uintmax_t>> FilesUnder(const std::string &folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::pair<std::uintmax_t, std::uintmax_t>> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        struct stat info;
        if (lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            files[it->path().string()] = {static_cast<std::uintmax_t>(info.st_ino),
                                          static_cast<std::uintmax_t>(info.st_size)};
        }
    }
    return files;
}

// The files the items at `indexes` hold, counted through the plug-in: a
// folder (or site) is entered and walked.
size_t FilesIn(Session &session, const std::vector<std::string> &names) {
    size_t count = 0;
    for (const std::string &name : names) {
        const int index = session.Find(name);
        if (index < 0) continue;
        if (!session.IsFolder(index)) {
            ++count;
        } else if (session.ChangeDirectory(name)) {
            std::vector<std::string> inner;
            for (int i = 0; i < session.Count(); ++i) inner.push_back(session.Name(i));
            count += FilesIn(session, inner);
            session.ChangeDirectory("..");
        }
    }
    return count;
}

std::string DestinationPath(const std::string &destination) {
    std::string path = destination;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

} // namespace

int Fail(const std::string &message) {
    std::fprintf(stderr, "qvork: %s\n", message.c_str());
    return kExitFailed;
}

std::string FormatListing(const Session &session, const std::vector<int> &items) {
    // Root rows: name, stored responses, cache file size, cache file name.
    // Site rows: name, file or folder, size.
    std::vector<std::vector<std::string>> rows;
    for (int index : items) {
        const PluginPanelItem &item = session.Item(index);
        std::vector<std::string> row{DisplayText(session.Name(index))};
        if (session.AtRoot()) {
            row.push_back(std::to_string(static_cast<int32_t>(item.NumberOfLinks)));
            row.push_back(std::to_string(item.PackSize));
            row.push_back(item.Description != nullptr ? DisplayText(item.Description) : "-");
        } else {
            const bool folder = session.IsFolder(index);
            row.push_back(folder ? "folder" : "file");
            row.push_back(folder ? "-" : std::to_string(item.FindData.nFileSizeLow));
        }
        if (session.IsHidden(index)) {
            row.push_back("[hidden]");
        }
        rows.push_back(row);
    }
    std::vector<size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    // Numbers are right-aligned: the root's counts and sizes, a site's sizes.
    auto numeric = [&session](size_t column) {
        return session.AtRoot() ? (column == 1 || column == 2) : column == 2;
    };
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            line += numeric(c) ? PadLeft(row[c], widths[c]) : (last ? row[c] : PadRight(row[c], widths[c]));
            if (!last) {
                line += "  ";
            }
        }
        out += line + "\n";
    }
    return out;
}

int RunLs(Session &session, const CommandLine &line) {
    int status = kExitOk;
    if (!OpenAtRoot(session, status)) {
        return status;
    }
    CachePath path;
    std::string error;
    const std::string text = line.operands.empty() ? std::string() : line.operands[0];
    const PathStatus split = SplitCachePath(session, text, path, error);
    if (split != PathStatus::kOk) {
        return PathFailure(split, error);
    }
    if ((path.siteIndex >= 0 || !path.names.empty()) &&
        !Requires(session.Entry().SetDirectory, "SetDirectory", status)) {
        return status;
    }
    if (!path.names.empty() && !path.endsWithSlash) {
        // A file is listed as its own row, as ls lists a file; a folder (or
        // a name not there, which SetDirectory then refuses) is entered.
        if (!WalkInto(session, path, path.names.size() - 1, error)) {
            return Fail(error);
        }
        const int item = session.Find(path.names.back());
        if (item >= 0 && !session.IsFolder(item)) {
            std::fputs(FormatListing(session, {item}).c_str(), stdout);
            return kExitOk;
        }
        const std::string where = session.LocationText();
        if (!session.ChangeDirectory(path.names.back())) {
            return Fail(Quoted(path.names.back()) + " not found in " + Quoted(where));
        }
    } else if (!WalkInto(session, path, path.names.size(), error)) {
        return Fail(error);
    }
    std::fputs(FormatListing(session, DisplayOrder(session, line.all)).c_str(), stdout);
    return kExitOk;
}

int RunGet(Session &session, const CommandLine &line) {
    int status = kExitOk;
    if (!Requires(session.Entry().GetFiles, "GetFiles", status) || !OpenAtRoot(session, status)) {
        return status;
    }
    std::vector<CachePath> paths;
    for (const std::string &text : line.operands) {
        CachePath path;
        std::string error;
        const PathStatus split = SplitCachePath(session, text, path, error);
        if (split == PathStatus::kOk && path.siteIndex < 0 &&
            (!path.siteIsTop || path.names.empty())) {
            return PathFailure(PathStatus::kInvalid, "get needs a site, folder or file, not ''");
        }
        if (split != PathStatus::kOk) {
            return PathFailure(split, error);
        }
        if (!paths.empty() && path.ParentText() != paths[0].ParentText()) {
            return PathFailure(PathStatus::kInvalid,
                               "all PATHs of one get must lie in the same folder: " +
                                   Quoted(text) + " is not in " +
                                   Quoted(paths[0].ParentText().empty() ? "the cache root"
                                                                        : paths[0].ParentText()));
        }
        paths.push_back(path);
    }
    if (!paths[0].names.empty() &&
        !Requires(session.Entry().SetDirectory, "SetDirectory", status)) {
        return status;
    }
    if (!ReachParent(session, paths[0], status)) {
        return status;
    }
    for (const CachePath &path : paths) {
        const int item = FindLeaf(session, path, status);
        if (item < 0) {
            return status;
        }
        session.SetSelected(item, true);
    }
    const size_t wanted = session.Selection().size();
    // The full path, as the file manager hands it: every report names it whole.
    const std::string destination =
        DestinationPath(std::filesystem::absolute(*line.destination).lexically_normal().string());
    std::error_code made;
    std::filesystem::create_directories(destination, made);
    if (made || !std::filesystem::is_directory(destination)) {
        return Fail("cannot create the destination folder " + Quoted(destination) +
                    (made ? ": " + made.message() : ""));
    }
    std::vector<std::string> chosen;
    for (int index : session.Selection()) chosen.push_back(session.Name(index));
    const auto before = FilesUnder(destination);
    std::vector<int> failed;
    bool copied = false;
    std::vector<std::string> failures;
    {
        CopyReport report(InstalledHostUi());
        copied = session.CopySelection(destination, 0, failed);
        failures = report.FailureLines();
    }
    for (const std::string &failure : failures) {
        Fail(failure);
    }
    // What was really written: files that are new, or new in place of older ones.
    size_t written = 0;
    std::uintmax_t bytes = 0;
    for (const auto &file : FilesUnder(destination)) {
        const auto old = before.find(file.first);
        if (old == before.end() || old->second.first != file.second.first) {
            ++written;
            bytes += file.second.second;
        }
    }
    const size_t total = FilesIn(session, chosen);
    std::printf("copied %zu of %zu files (%ju bytes)\n", written, std::max(total, written), bytes);
    if (!copied || !failed.empty()) {
        return Fail(std::to_string(failed.size()) + " of " + std::to_string(wanted) +
                    " item(s) not copied to " + Quoted(destination));
    }
    return kExitOk;
}

int RunHeader(Session &session, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    if (!Requires(session.Entry().ProcessKey, "ProcessKey", status) ||
        !OpenAtRoot(session, status)) {
        return status;
    }
    CachePath path;
    std::string error;
    const PathStatus split = SplitCachePath(session, line.operands[0], path, error);
    if (split == PathStatus::kOk && path.siteIndex < 0 &&
        (!path.siteIsTop || path.names.empty())) {
        return PathFailure(PathStatus::kInvalid, "header needs a file inside a site");
    }
    if (split != PathStatus::kOk) {
        return PathFailure(split, error);
    }
    if (!ReachParent(session, path, status)) {
        return status;
    }
    const int item = FindLeaf(session, path, status);
    if (item < 0) {
        return status;
    }
    session.SetCurrentItem(item);
    const int shownBefore = ui.FilesShown();
    if (!session.PressKey(KEY_CODE_F3, PKF_SHIFT)) {
        return Fail("no header view for " + Quoted(line.operands[0]) +
                    ": the plug-in shows headers of files inside a site only");
    }
    // The plug-in handles the key whatever became of the view; it has told
    // the user why nothing was shown.
    if (ui.FilesShown() == shownBefore) {
        return Fail("the header of " + Quoted(line.operands[0]) + " was not shown");
    }
    return kExitOk;
}

} // namespace qvork_host
