// ls: the root, a site or a folder; -l adds what each file's stored header
// says, -R walks the folders below (at the root: every site); the rows as
// aligned text, TSV or JSON.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/split_views.h"
#include "hosts/qvork/stored_items.h"
#include "hosts/qvork/text_output.h"
#include "hosts/qvork/web/http_header.h"
#include "hosts/qvork/web/manifest.h"
#include "hosts/qvork/web/text_escape.h"

namespace qvork_host {

namespace {

// Wider names are written whole, without widening the column for the rest.
constexpr size_t kWidestPadding = 40;

struct Row {
    std::string folder; // "" at the root, else "site/a/b"
    std::string name;
    std::string kind;   // "site", "folder" or "file"
    int64_t size = -1;  // file: body; site: cache file size; -1: none
    int64_t responses = -1;
    std::string cacheFile;
    bool hidden = false;
    bool hasHeader = false;
    int status = 0;
    std::string contentType, contentEncoding, lastModified, url;
};

class Lister {
public:
    Lister(Session &session, TerminalUi &ui, const CommandLine &line)
        : session_(session), ui_(ui), line_(line), views_(session, ui) {}

    // The rows of the folder the session is in, and with -R of those below.
    void Collect(const std::string &folder) {
        const std::vector<int> order = DisplayOrder(session_, line_.all);
        std::vector<std::pair<int, std::string>> below;
        for (int index : order) {
            rows_.push_back(RowOf(folder, index));
            if (line_.recursive && !session_.IsHidden(index) &&
                (session_.AtRoot() ? rows_.back().cacheFile != "" : session_.IsFolder(index))) {
                below.emplace_back(index, session_.Name(index));
            }
        }
        for (const auto &[listed, name] : below) {
            // The root listing is held, a folder's read again in the same
            // order: the index still names the item, which a name shared
            // by two sites would not.
            const int index = listed < session_.Count() && session_.Name(listed) == name
                                  ? listed
                                  : session_.Find(name);
            session_.SetCurrentItem(index);
            // A folder listed as ".." would take SetDirectory up, not in.
            if (index < 0 || !session_.CanEnter(name) || !session_.ChangeDirectory(name)) {
                failed_ = true;
                Fail("cannot enter " + ShellQuoted(Join(folder, name)));
                continue;
            }
            Collect(Join(folder, name));
            session_.ChangeDirectory("..");
        }
    }

    // After the walk: a copy of the process sharing the views ends here.
    void FinishViews() { views_.Finish(); }
    void AddRow(const std::string &folder, int index) { rows_.push_back(RowOf(folder, index)); }
    bool Failed() const { return failed_; }

    std::string Output() const {
        if (line_.format == ListFormat::kJson) {
            return Json();
        }
        if (line_.format == ListFormat::kTsv) {
            return Tsv();
        }
        return Text();
    }

private:
    static std::string Join(const std::string &folder, const std::string &name) {
        return folder.empty() ? name : folder + "/" + name;
    }

    Row RowOf(const std::string &folder, int index) {
        const PluginPanelItem &item = session_.Item(index);
        Row row;
        row.folder = folder;
        row.name = session_.Name(index);
        row.hidden = session_.IsHidden(index);
        if (session_.AtRoot()) {
            row.kind = "site";
            row.responses = static_cast<int32_t>(item.NumberOfLinks);
            row.size = static_cast<int64_t>(item.PackSize);
            row.cacheFile = item.Description != nullptr ? item.Description : "";
            return row;
        }
        const bool isFolder = session_.IsFolder(index);
        row.kind = isFolder ? "folder" : "file";
        row.cacheFile = session_.SiteFileHere(); // which of two sites of one name
        if (isFolder) {
            return row;
        }
        row.size = item.FindData.nFileSizeLow;
        // On a site file the first folder is the file's; the URL has the site's.
        const size_t slash = folder.find('/');
        const std::string site = session_.OnSiteFile() ? session_.SiteOfUrls()
                                                       : folder.substr(0, slash);
        // A nameless site keeps its "/" after the empty host, as get's manifest.
        row.url = "http://" + site + "/" +
                  Join(slash == std::string::npos ? "" : folder.substr(slash + 1), row.name);
        std::string text;
        if (line_.longListing && views_.Fetch(index, Join(folder, row.name), text)) {
            const HttpHeader header = ParseHttpHeader(text);
            row.hasHeader = true;
            row.status = header.status;
            row.contentType = header.Field("Content-Type");
            row.contentEncoding = header.Field("Content-Encoding");
            const auto when = ParseHttpDate(header.Field("Last-Modified"));
            row.lastModified = when ? IsoDate(*when) : header.Field("Last-Modified");
        }
        return row;
    }

    std::vector<std::string> Cells(const Row &row, bool quote) const {
        auto shown = [quote](const std::string &text) {
            return quote ? ShellQuoted(text) : TsvField(text);
        };
        auto number = [](int64_t value) { return value < 0 ? std::string("-") : std::to_string(value); };
        if (row.kind == "site") {
            std::vector<std::string> cells{shown(row.name), number(row.responses), number(row.size),
                                           row.cacheFile.empty() ? "-" : shown(row.cacheFile)};
            if (row.hidden) {
                cells.push_back("[hidden]");
            }
            return cells;
        }
        std::vector<std::string> cells{shown(row.name), row.kind, number(row.size)};
        if (line_.longListing) {
            auto dash = [&shown](const std::string &text) { return text.empty() ? "-" : shown(text); };
            const bool file = row.kind == "file";
            cells.push_back(file && row.status != 0 ? std::to_string(row.status) : "-");
            cells.push_back(dash(row.contentType));
            cells.push_back(dash(row.contentEncoding));
            cells.push_back(dash(row.lastModified));
            cells.push_back(dash(row.url));
        }
        return cells;
    }

    std::string TextBlock(size_t from, size_t to) const {
        std::vector<std::vector<std::string>> cells;
        std::vector<size_t> widths;
        for (size_t r = from; r < to; ++r) {
            cells.push_back(Cells(rows_[r], true));
            widths.resize(std::max(widths.size(), cells.back().size()), 0);
            for (size_t c = 0; c < cells.back().size(); ++c) {
                widths[c] = std::max(widths[c], std::min(cells.back()[c].size(), kWidestPadding));
            }
        }
        std::string out;
        for (size_t r = 0; r < cells.size(); ++r) {
            const bool site = rows_[from + r].kind == "site";
            std::string text;
            for (size_t c = 0; c < cells[r].size(); ++c) {
                const bool last = c + 1 == cells[r].size();
                const bool numeric = site ? (c == 1 || c == 2) : c == 2;
                text += numeric ? PadLeft(cells[r][c], widths[c])
                                : (last ? cells[r][c] : PadRight(cells[r][c], widths[c]));
                if (!last) {
                    text += "  ";
                }
            }
            out += text + "\n";
        }
        return out;
    }

    std::string Text() const {
        if (!line_.recursive) {
            return TextBlock(0, rows_.size());
        }
        // As ls -R: each folder's rows under "folder:", blocks apart.
        std::string out;
        size_t start = 0;
        while (start < rows_.size()) {
            size_t end = start;
            while (end < rows_.size() && rows_[end].folder == rows_[start].folder) {
                ++end;
            }
            out += (start == 0 ? "" : "\n") +
                   (rows_[start].folder.empty() ? std::string() : ShellQuoted(rows_[start].folder) + ":\n") +
                   TextBlock(start, end);
            start = end;
        }
        return out;
    }

    std::string Tsv() const {
        std::string out = "folder\tname\ttype\tsize\tresponses\tcache_file";
        if (line_.longListing) {
            out += "\tstatus\tcontent_type\tcontent_encoding\tlast_modified\turl";
        }
        out += "\n";
        for (const Row &row : rows_) {
            auto number = [](int64_t value) { return value < 0 ? std::string() : std::to_string(value); };
            out += TsvField(row.folder) + "\t" + TsvField(row.name) + "\t" + row.kind + "\t" +
                   number(row.size) + "\t" + number(row.responses) + "\t" + TsvField(row.cacheFile);
            if (line_.longListing) {
                out += "\t" + (row.status != 0 ? std::to_string(row.status) : "") + "\t" +
                       TsvField(row.contentType) + "\t" + TsvField(row.contentEncoding) + "\t" +
                       TsvField(row.lastModified) + "\t" + TsvField(row.url);
            }
            out += "\n";
        }
        return out;
    }

    std::string Json() const {
        nlohmann::json array = nlohmann::json::array();
        for (const Row &row : rows_) {
            nlohmann::json object{{"folder", row.folder}, {"name", row.name}, {"type", row.kind}};
            if (row.size >= 0) {
                object["size"] = row.size;
            }
            if (row.kind == "site") {
                object["responses"] = row.responses;
                object["hidden"] = row.hidden;
            }
            if (row.kind == "site" || !row.cacheFile.empty()) {
                object["cache_file"] = row.cacheFile;
            }
            if (row.kind == "file") {
                object["url"] = row.url;
            }
            if (line_.longListing && row.kind == "file") {
                object["status"] = row.status != 0 ? nlohmann::json(row.status) : nlohmann::json();
                object["content_type"] = row.contentType;
                object["content_encoding"] = row.contentEncoding;
                object["last_modified"] = row.lastModified;
            }
            array.push_back(object);
        }
        return array.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }

    Session &session_;
    TerminalUi &ui_;
    const CommandLine &line_;
    SplitViews views_;
    std::vector<Row> rows_;
    bool failed_ = false;
};

std::string FolderText(const Session &session) {
    return session.AtRoot() ? std::string() : session.LocationText();
}

} // namespace

int RunLs(Session &session, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    if (!OpenAtRoot(session, status)) {
        return status;
    }
    std::string error;
    CachePath path;
    const std::string text = line.operands.empty() ? std::string() : line.operands[0];
    const PathStatus split = SplitCachePath(session, text, path, error);
    if (split != PathStatus::kOk) {
        return PathFailure(split, error);
    }
    if ((path.siteIndex >= 0 || !path.names.empty() || line.recursive) &&
        !Requires(session.Entry().SetDirectory, "SetDirectory", status)) {
        return status;
    }
    if (line.longListing && !Requires(session.Entry().ProcessKey, "ProcessKey", status)) {
        return status;
    }
    Lister lister(session, ui, line);
    if (!path.names.empty() && !path.endsWithSlash) {
        // A file is listed as its own row, as ls lists a file; a folder (or
        // a name not there, which SetDirectory then refuses) is entered.
        if (!WalkInto(session, path, path.names.size() - 1, error)) {
            return Fail(error);
        }
        const int item = session.Find(path.names.back());
        if (item >= 0 && !session.IsFolder(item)) {
            lister.AddRow(FolderText(session), item);
            ui.ClearProgressLine();
            std::fputs(lister.Output().c_str(), stdout);
            return kExitOk;
        }
        const std::string where = session.LocationText();
        if (!session.ChangeDirectory(path.names.back())) {
            return Fail("'" + DisplayText(path.names.back()) + "' not found in '" +
                        DisplayText(where) + "'");
        }
    } else if (!WalkInto(session, path, path.names.size(), error)) {
        return Fail(error);
    }
    lister.Collect(FolderText(session));
    lister.FinishViews();
    ui.ClearProgressLine();
    std::fputs(lister.Output().c_str(), stdout);
    return lister.Failed() ? kExitFailed : kExitOk;
}

} // namespace qvork_host
