// ls, get and header: listing, copying out and the header view.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>

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
    const std::string destination = DestinationPath(*line.destination);
    std::error_code made;
    std::filesystem::create_directories(destination, made);
    if (made || !std::filesystem::is_directory(destination)) {
        return Fail("cannot create the destination folder " + Quoted(destination) +
                    (made ? ": " + made.message() : ""));
    }
    std::vector<int> failed;
    const bool copied = session.CopySelection(destination, 0, failed);
    for (int index : failed) {
        Fail("not copied: " + Quoted(session.Name(index)));
    }
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
