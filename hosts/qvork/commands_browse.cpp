// header, and the helpers the commands share.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

std::string Quoted(const std::string &text) { return "'" + DisplayText(text) + "'"; }

int PathFailure(PathStatus status, const std::string &error) {
    Fail(error);
    return status == PathStatus::kInvalid ? kExitUsage : kExitFailed;
}

bool OpenAtRoot(Session &session, int &status) {
    std::string error;
    if (!session.Open(error) || !session.Read()) {
        status = Fail(error.empty() ? "the plug-in did not list the cache root" : error);
        return false;
    }
    return true;
}

bool ReachParent(Session &session, const CachePath &path, int &status) {
    std::string error;
    if (!path.names.empty() && !WalkInto(session, path, path.names.size() - 1, error)) {
        status = Fail(error);
        return false;
    }
    return true;
}

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

int Fail(const std::string &message) {
    // Site names and the plug-in's failure lines arrive here unescaped.
    std::fprintf(stderr, "qvork: %s\n", DisplayText(message).c_str());
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
