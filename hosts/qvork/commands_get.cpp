// get and cat: copying out through GetFiles, then what the console host
// adds to a copy: bodies decoded, file times from the stored header, a
// manifest, an offline copy with its links rewritten. The plug-in writes
// every file under its own names; the host then walks the listing beside
// what was written and learns each file's name by looking, never by a copy
// of the plug-in's naming rules: a listed name found as written is that
// file, any other item is copied alone into an empty work folder, where the
// one entry written is its name.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/host_services.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/destination_files.h"
#include "hosts/qvork/file_rewrite.h"
#include "hosts/qvork/open_target.h"
#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/stored_items.h"
#include "hosts/qvork/text_output.h"
#include "hosts/qvork/web/body_decode.h"
#include "hosts/qvork/web/http_header.h"
#include "hosts/qvork/web/link_rewrite.h"
#include "hosts/qvork/web/manifest.h"
#include "hosts/qvork/web/url.h"

namespace fs = std::filesystem;

namespace qvork_host {

namespace {

// Messages carry names, header fields and decoder errors from the site file:
// nothing of them reaches the terminal as a control character.
void Warn(const std::string &message) {
    std::fprintf(stderr, "qvork: warning: %s\n", DisplayText(message).c_str());
}

// A link as a browser reads it: no white space around it, no tab or line
// break inside it, and "\" as "/" (old pages wrote "img\logo.gif").
std::string AsBrowserReads(const std::string &link) {
    const char *const blank = " \t\n\f\r";
    const size_t first = link.find_first_not_of(blank);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = link.find_last_not_of(blank);
    std::string read;
    for (size_t i = first; i <= last; ++i) {
        if (link[i] != '\t' && link[i] != '\n' && link[i] != '\r') {
            read += link[i] == '\\' ? '/' : link[i];
        }
    }
    return read;
}

bool EndsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

bool StartsWithNoCase(const std::string &text, const std::string &head) {
    return text.size() >= head.size() &&
           std::equal(head.begin(), head.end(), text.begin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// The files of one copied site by their key below the site, as stored and
// normalized; Find also takes a folder's URL ("", "a/") to its page
// "index.htm" (or to the file "a" when nothing lay below it), and a page's
// URL to "index.htm" below it when URLs went on below the page and made it
// a folder.
struct WrittenFile;
// A key in one letter case (ASCII): the servers of NetSonic's day mostly
// ran on Windows, where "/Images/Logo.GIF" is "/images/logo.gif".
std::string FoldedKey(const std::string &key) {
    std::string folded = NormalizedKey(key);
    for (char &c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

struct SiteFiles {
    std::string name;
    std::map<std::string, const WrittenFile *> exact;
    std::map<std::string, const WrittenFile *> normal;
    std::map<std::string, const WrittenFile *> folded; // nullptr: files differ only in case

    void Add(const std::string &key, const WrittenFile *file) {
        exact.emplace(key, file);
        normal.emplace(NormalizedKey(key), file);
        const auto [at, added] = folded.emplace(FoldedKey(key), file);
        if (!added && at->second != file) {
            at->second = nullptr;
        }
    }

    const WrittenFile *Find(const std::string &key) const {
        std::string index;
        std::string bare; // "a/" kept as the file "a": nothing was stored below it
        if (key.empty() || key.back() == '/') {
            index = key + "index.htm";
            bare = key.empty() ? key : key.substr(0, key.size() - 1);
        } else if (key.find('?') == std::string::npos) {
            index = key + "/index.htm";
        }
        for (const std::string &candidate : {key, index, bare}) {
            if (candidate.empty()) {
                continue;
            }
            auto found = exact.find(candidate);
            if (found == exact.end()) {
                found = normal.find(NormalizedKey(candidate));
                if (found == normal.end()) {
                    continue;
                }
            }
            return found->second;
        }
        // Then in any letter case, where that tells one file.
        for (const std::string &candidate : {key, index, bare}) {
            const auto found = candidate.empty() ? folded.end() : folded.find(FoldedKey(candidate));
            if (found != folded.end() && found->second != nullptr) {
                return found->second;
            }
        }
        // A name longer than the listing's field is listed as its beginning.
        const std::string listed = ListedKey(key);
        return listed != key ? Find(listed) : nullptr;
    }

    // `key` with every name in it cut as the listing cuts it.
    static std::string ListedKey(const std::string &key) {
        constexpr size_t kField = sizeof(PluginPanelItem{}.FindData.cFileName);
        std::string listed;
        size_t start = 0;
        while (start <= key.size()) {
            size_t end = key.find('/', start);
            end = end == std::string::npos ? key.size() : end;
            listed.append(key, start, std::min(end - start, kField));
            if (end < key.size()) {
                listed += '/';
            }
            start = end + 1;
        }
        return listed;
    }
};

struct WrittenFile {
    std::string site;
    std::string key;  // the URL below the site
    std::string path; // relative to the destination folder
    std::string siteFolder; // where its site was written ("" when inside a site)
    HttpHeader header;
    bool hasHeader = false;
    uint64_t size = 0;
    std::string Url() const { return "http://" + site + "/" + key; }
    bool Html() const {
        const std::string type = header.Field("Content-Type");
        if (type.empty()) { // stored without a type: its name tells, as a browser opening it would
            return EndsWith(path, ".htm") || EndsWith(path, ".html") || EndsWith(path, ".shtml") ||
                   EndsWith(path, ".xhtml");
        }
        return StartsWithNoCase(type, "text/html") || StartsWithNoCase(type, "application/xhtml+xml");
    }
    bool Css() const {
        return StartsWithNoCase(header.Field("Content-Type"), "text/css") || EndsWith(path, ".css");
    }
    bool Redirect() const {
        return header.status >= 300 && header.status < 400 && header.Has("Location");
    }
    std::optional<time_t> When() const {
        auto when = ParseHttpDate(header.Field("Last-Modified"));
        return when ? when : ParseHttpDate(header.Field("Date"));
    }
};

// The warning boxes of one copy, kept instead of shown: the copy's report
// is printed from them afterwards, one line per failed item. Every other
// call goes to the screen.
class CopyReport : public UiInFront {
public:
    explicit CopyReport(HostUi *screen) : UiInFront(screen) {}

    int ShowMessage(const MessageBoxText &box) override {
        if ((box.flags & FMSG_WARNING) != 0 && box.buttons.size() == 1) {
            warnings_.push_back(box.lines);
            return 0;
        }
        return UiInFront::ShowMessage(box);
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
                path = fs::absolute(path).lexically_normal().string();
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

    std::vector<std::vector<std::string>> warnings_;
};

class CopyOut {
public:
    CopyOut(Session &session, TerminalUi &ui, const CommandLine &line, std::string destination)
        : session_(session), ui_(ui), line_(line), destination_(std::move(destination)) {}

    // Items the plug-in reported as not wholly copied (a damaged record in a
    // site) are surveyed too, for what they did write: their files missing
    // were told already, and files that were there before the copy (by
    // `FilesUnder` of the destination) are not this copy's.
    void SurveyReported(const std::vector<int> &indexes, const std::string &site,
                        const std::string &urlFolder) {
        reported_ = true;
        Survey(indexes, "", site, urlFolder);
        reported_ = false;
    }

    // The destination's files before the copy (FilesUnder): those still
    // there unchanged were not written by it.
    void SetBefore(const FileIdentities &before) { before_ = &before; }

    // The items `indexes` of the folder the session is in, written by the
    // plug-in into `folder` (relative to the destination; "" for itself).
    // Two items that end on one name (names the plug-in cleans up alike)
    // left one file holding the later body, or the later one under another
    // name: each such item is matched by its bytes, and warned about when
    // they do not tell.
    void Survey(const std::vector<int> &indexes, const std::string &folder,
                const std::string &site, const std::string &urlFolder) {
        std::vector<Named> named;
        std::map<std::string, int> claims;
        for (int index : indexes) {
            Named item{index, session_.Name(index), session_.IsFolder(index), "", true};
            if (WrittenName(item.index, folder, item.isFolder, item.name, item.sure)) {
                ++claims[item.name];
                named.push_back(std::move(item));
            }
        }
        // An item is unsure of its name when another claims it too, or when
        // an entry no item claims begins as it does (an earlier item may
        // hold this name and this item a numbered one).
        std::vector<std::string> entries;
        std::error_code ignored;
        const std::string in = folder.empty() ? destination_ : Full(folder);
        for (const auto &entry : fs::directory_iterator(in, ignored)) {
            if (!Leftover(entry.path().string())) {
                entries.push_back(entry.path().filename().string());
            }
        }
        // Numbered names are rare: only they are looked through per item.
        std::vector<std::string> numbered;
        for (const std::string &entry : entries) {
            size_t end = 0;
            if (claims.count(entry) == 0 && NumberMark(entry, end) != std::string::npos) {
                numbered.push_back(entry);
            }
        }
        std::vector<std::string> taken; // the names of the items that are sure
        for (Named &item : named) {
            for (const std::string &entry : numbered) {
                item.sure = item.sure && !NumberedFrom(entry, item.name);
            }
            item.sure = item.sure && claims[item.name] == 1;
            if (item.sure) {
                taken.push_back(item.name);
            }
        }
        for (Named &item : named) {
            if (!item.sure && !MatchByBytes(item, folder, entries, taken)) {
                if (!reported_) { // else the plug-in told why it was not written
                    Warn(Quoted(item.listed) + ": its name clashes with another's written name " +
                         Quoted(item.name) + "; which file holds it is not known");
                    ++warnings_;
                    ++leftOut_;
                }
                continue;
            }
            if (item.index >= session_.Count() || session_.Name(item.index) != item.listed) {
                continue; // the listing changed under us
            }
            SurveyOne(item, folder, site, urlFolder);
        }
    }

    // Offline rewriting, file times, the manifest.
    bool Finish() {
        ui_.ClearProgressLine();
        if (line_.offline) {
            MakeOffline();
        }
        if (!line_.noTimes) {
            for (const WrittenFile &file : files_) {
                SetTime(file);
            }
        }
        bool good = true;
        if (line_.manifest) {
            std::vector<ManifestRow> rows;
            for (const WrittenFile &file : files_) {
                const auto when = file.When();
                rows.push_back({file.Url(), file.path, file.header.status,
                                file.header.Field("Content-Type"), file.size,
                                when ? IsoDate(*when) : std::string()});
            }
            // Written whole beside it and renamed: a full disk leaves no
            // empty or partial manifest, and an earlier one stays.
            if (const WrittenFile *page = FileAt(*line_.manifest)) {
                Fail("the manifest " + Quoted(*line_.manifest) + " is not written: it would " +
                     "replace the copied file " + Quoted(Full(page->path)));
                manifestRefused_ = true;
                good = false;
            } else if (!WriteWhole(*line_.manifest, ManifestText(rows, WantsJson(*line_.manifest)))) {
                Fail("cannot write the manifest " + Quoted(*line_.manifest));
                good = false;
            }
        }
        if (leftOut_ > 0) {
            Fail(std::to_string(leftOut_) + " item(s) copied but not processed further: not " +
                 "decoded, rewritten, dated or put in the manifest (see the warnings)");
            good = false;
        }
        if (unwritten_ > 0) {
            Fail(std::to_string(unwritten_) + " file(s) not decoded, rewritten or dated for want " +
                 "of reading or writing them (see the warnings)");
            good = false;
        }
        return good;
    }

    size_t Files() const { return files_.size(); }
    bool ManifestRefused() const { return manifestRefused_; }
    uint64_t Bytes() const { return bytes_; }
    int Warnings() const { return warnings_; }
    int Decoded() const { return decoded_; }

private:
    std::string Full(const std::string &path) const { return destination_ + "/" + path; }

    // The file of the copy that `path` names, if any.
    const WrittenFile *FileAt(const std::string &path) const {
        struct stat named;
        if (stat(path.c_str(), &named) != 0) {
            return nullptr;
        }
        for (const WrittenFile &file : files_) {
            struct stat written;
            if (stat(Full(file.path).c_str(), &written) == 0 && written.st_dev == named.st_dev &&
                written.st_ino == named.st_ino) {
                return &file;
            }
        }
        return nullptr;
    }

    // True when the file at `full` was in the destination before the copy
    // and is still the same file.
    bool Leftover(const std::string &full) const {
        if (before_ == nullptr) {
            return false;
        }
        // Looked up first: into a fresh destination no entry costs a lstat.
        const auto old = before_->find(full);
        struct stat now;
        return old != before_->end() && lstat(full.c_str(), &now) == 0 &&
               old->second.Same(FileIdentity(now));
    }

    // True when this copy wrote the file at `full`, or a file under the
    // folder at `full`: it is new there, or new in place of an older one.
    bool WrittenHere(const std::string &full, bool isFolder) const {
        if (!isFolder) {
            return !Leftover(full);
        }
        std::error_code error;
        for (fs::recursive_directory_iterator it(full, fs::directory_options::skip_permission_denied, error), end;
             !error && it != end; it.increment(error)) {
            std::error_code ignored;
            if (fs::is_regular_file(it->symlink_status(ignored)) && !Leftover(it->path().string())) {
                return true;
            }
        }
        return false;
    }

    struct Named {
        int index;
        std::string listed;
        bool isFolder;
        std::string name; // as written
        bool sure;        // of `name`
    };

    // Where a numbered name's "~" stands ("name~2", "name~2.ext"), with `end`
    // past its number; npos when `entry` has no such form.
    static size_t NumberMark(const std::string &entry, size_t &end) {
        const size_t tilde = entry.rfind('~');
        if (tilde == std::string::npos || tilde == 0) {
            return std::string::npos;
        }
        end = tilde + 1;
        while (end < entry.size() && std::isdigit(static_cast<unsigned char>(entry[end]))) {
            ++end;
        }
        const bool form = end > tilde + 1 && (end == entry.size() || entry[end] == '.');
        return form ? tilde : std::string::npos;
    }

    // True when one name is the other cut shorter: a long name is cut to fit
    // the folder it goes to, so a copy alone into another folder cuts it
    // elsewhere.
    static bool CutAlike(const std::string &entry, const std::string &name) {
        const size_t shorter = std::min(entry.size(), name.size());
        if (entry.size() == name.size() || shorter == 0) {
            return false;
        }
        // A cut that ends in dots or blanks has them written as "-".
        std::string cut = name.substr(0, shorter);
        for (size_t end = cut.size(); end > 0 && (cut[end - 1] == '.' || cut[end - 1] == ' '); --end) {
            cut[end - 1] = '-';
        }
        return entry.compare(0, shorter, cut) == 0;
    }

    // True when `entry` may be a numbered name the plug-in made from `name`
    // for a second item of that name: "name~2.ext", or, cut to fit, a
    // beginning of the name's stem, "~" and a number, then its extension or
    // nothing.
    static bool NumberedFrom(const std::string &entry, const std::string &name) {
        size_t end = 0;
        const size_t tilde = NumberMark(entry, end);
        const size_t dot = name.find_last_of('.');
        const size_t stem = dot != std::string::npos && dot != 0 ? dot : name.size();
        return tilde != std::string::npos && tilde <= stem &&
               name.compare(0, tilde, entry, 0, tilde) == 0 &&
               (end == entry.size() || entry.compare(end, std::string::npos, name, stem) == 0);
    }

    void SurveyOne(const Named &item, const std::string &folder, const std::string &site,
                   const std::string &urlFolder) {
        const std::string path = folder.empty() ? item.name : folder + "/" + item.name;
        if (folder.empty()) {
            CountWritten(path);
        }
        if (!item.isFolder) {
            AddFile(item.index, path, site, urlFolder + item.listed);
            return;
        }
        // A folder listed as ".." was written, but SetDirectory would go up
        // instead of into it: what lies inside cannot be learned.
        session_.SetCurrentItem(item.index);
        if (!session_.CanEnter(item.listed) || !session_.ChangeDirectory(item.listed)) {
            Warn("cannot enter " + Quoted(item.listed) + " to see what was written for it");
            ++warnings_;
            ++leftOut_;
            return;
        }
        const bool siteItem = site.empty();
        std::vector<int> children(static_cast<size_t>(session_.Count()));
        for (int child = 0; child < session_.Count(); ++child) {
            children[static_cast<size_t>(child)] = child;
        }
        const std::string outerSiteFolder = siteFolder_;
        siteFolder_ = siteItem ? path : siteFolder_;
        Survey(children, path, siteItem ? item.listed : site,
               siteItem ? "" : urlFolder + item.listed + "/");
        siteFolder_ = outerSiteFolder;
        session_.ChangeDirectory("..");
    }

    // For an item unsure of its name: a file or folder in `folder` holding
    // what it holds when copied alone (the same bytes, the same names
    // below), among its name and the names made from it, none `taken`.
    // False when none does.
    bool MatchByBytes(Named &item, const std::string &folder,
                      const std::vector<std::string> &entries, std::vector<std::string> &taken) {
        std::string name;
        std::string error;
        const bool copied = (!work_.Path().empty() || work_.Make(destination_, error)) &&
                            CopyAlone(session_, item.index, work_, name, error);
        const std::string in = folder.empty() ? destination_ : Full(folder);
        // A folder holding just what the item holds is it; one holding more
        // (left by an earlier copy) only when no folder is just that.
        std::vector<std::string> matches;
        for (bool exact : {true, false}) {
            for (const std::string &entry : entries) {
                const bool named = entry == item.name || NumberedFrom(entry, item.name) ||
                                   CutAlike(entry, item.name);
                if (copied && named && std::find(taken.begin(), taken.end(), entry) == taken.end() &&
                    SameTree(work_.Path() + "/" + name, in + "/" + entry, exact)) {
                    matches.push_back(entry);
                }
            }
            if (!matches.empty()) {
                break;
            }
        }
        work_.Clear();
        // Several alike (two items of the same bytes whose names cleaned
        // alike): each holds what this item holds, so any one is its copy.
        if (matches.empty()) {
            return false;
        }
        item.name = matches[0];
        taken.push_back(item.name);
        return true;
    }

    // True when `a` and `b` are both files of the same bytes, or both
    // folders and `b` holds every name `a` holds, with the same contents,
    // and (when `exact`) nothing else.
    static bool SameTree(const std::string &a, const std::string &b, bool exact) {
        std::error_code ignored;
        const fs::file_status sa = fs::symlink_status(a, ignored);
        const fs::file_status sb = fs::symlink_status(b, ignored);
        if (fs::is_regular_file(sa) && fs::is_regular_file(sb)) {
            std::string x;
            std::string y;
            return fs::file_size(a, ignored) == fs::file_size(b, ignored) && ReadWhole(a, x) &&
                   ReadWhole(b, y) && x == y;
        }
        if (!fs::is_directory(sa) || !fs::is_directory(sb)) {
            return false;
        }
        auto names = [](const std::string &path) {
            std::vector<std::string> found;
            std::error_code failed;
            for (const auto &entry : fs::directory_iterator(path, failed)) {
                found.push_back(entry.path().filename().string());
            }
            std::sort(found.begin(), found.end());
            return found;
        };
        const std::vector<std::string> inA = names(a);
        const std::vector<std::string> inB = names(b);
        if (exact ? inA != inB : !std::includes(inB.begin(), inB.end(), inA.begin(), inA.end())) {
            return false;
        }
        return std::all_of(inA.begin(), inA.end(), [&](const std::string &entry) {
            return SameTree(a + "/" + entry, b + "/" + entry, exact);
        });
    }

    // What the plug-in named item `index` in `folder`: the listed name when
    // an entry of the right kind bears it, else learned by a copy alone.
    bool WrittenName(int index, const std::string &folder, bool isFolder, std::string &name,
                     bool &sure) {
        sure = true;
        const std::string listed = session_.Name(index);
        const std::string in = folder.empty() ? destination_ : Full(folder);
        std::error_code ignored;
        auto kindFits = [&](const std::string &candidate) {
            const fs::file_status status = fs::symlink_status(in + "/" + candidate, ignored);
            return isFolder ? fs::is_directory(status) : fs::is_regular_file(status);
        };
        const bool plain = !listed.empty() && listed != "." && listed != ".." &&
                           listed.find('/') == std::string::npos;
        // A name the plug-in cleans up may be borne by the user's own file or
        // folder, left as it was: that is not the copy.
        if (plain && kindFits(listed) && WrittenHere(in + "/" + listed, isFolder)) {
            name = listed;
            return true;
        }
        std::string error;
        if (work_.Path().empty() && !work_.Make(destination_, error)) {
            Warn(Quoted(listed) + ": not found among the files written (" + error + ")");
            ++warnings_;
            return false;
        }
        bool learned = false;
        if (reported_) {
            CopyReport quiet(&ui_); // the plug-in's boxes for what failed were shown
            learned = CopyAlone(session_, index, work_, name, error);
        } else {
            learned = CopyAlone(session_, index, work_, name, error);
        }
        work_.Clear();
        if (!learned && reported_) {
            return false; // the plug-in told why it was not written
        }
        if (!learned) {
            ++leftOut_;
            Warn(Quoted(listed) + ": not found among the files written (" + error + ")");
            ++warnings_;
            return false;
        }
        // Of the wrong kind there: an earlier item took the name, and this
        // one is under a numbered one.
        sure = kindFits(name);
        return true;
    }

    void AddFile(int index, const std::string &path, const std::string &site,
                 const std::string &key) {
        if (reported_ && Leftover(Full(path))) {
            return; // left from before: the damaged record did not replace it
        }
        WrittenFile file;
        file.site = site;
        file.key = key;
        file.path = path;
        file.siteFolder = siteFolder_;
        std::string text;
        if (FetchHeader(session_, ui_, index, text)) {
            file.header = ParseHttpHeader(text);
            file.hasHeader = true;
        }
        if ((line_.decode || line_.offline) && file.hasHeader) {
            BodyCoding coding;
            std::string error;
            const bool known = CodingOf(file.header.Field("Transfer-Encoding"),
                                        file.header.Field("Content-Encoding"), coding, error);
            if (known && !coding.Plain() && DecodeInPlace(Full(path), coding, error)) {
                ++decoded_;
            } else if (!known || !coding.Plain()) {
                Warn(file.Url() + ": written as stored: " + error);
                ++warnings_;
                // A body that decodes but could not be written is work not done.
                unwritten_ += error.compare(0, 6, "cannot") == 0 ? 1 : 0;
            }
        }
        std::error_code ignored;
        const auto size = fs::file_size(Full(path), ignored);
        file.size = ignored ? 0 : size;
        bytes_ += file.size;
        files_.push_back(std::move(file));
        Progress();
    }

    void Progress() {
        if (!ui_.DrawsProgress()) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw_ < std::chrono::milliseconds(40)) {
            return;
        }
        lastDraw_ = now;
        // The bar in the plug-in's own blocks, which the terminal draws as one.
        constexpr size_t kCells = 40;
        const size_t done = total_ == 0 ? kCells : std::min(kCells, files_.size() * kCells / total_);
        MessageBoxText box;
        box.title = "get";
        box.lines.push_back(std::string(done, static_cast<char>(219)) +
                            std::string(kCells - done, static_cast<char>(176)));
        box.lines.push_back(std::to_string(files_.size()) + " of " + std::to_string(total_) +
                            " files, " + std::to_string(Bytes()) + " bytes");
        ui_.ShowMessage(box);
    }

    // The files the plug-in wrote under `path`: the bar's whole.
    void CountWritten(const std::string &path) {
        std::error_code ignored;
        if (fs::is_regular_file(fs::symlink_status(Full(path), ignored))) {
            ++total_;
            return;
        }
        for (fs::recursive_directory_iterator it(Full(path), ignored), end; !ignored && it != end;
             it.increment(ignored)) {
            total_ += it->is_regular_file(ignored) ? 1 : 0;
        }
    }

    void SetTime(const WrittenFile &file) {
        const auto when = file.When();
        if (!when) {
            return;
        }
        struct timespec times[2];
        times[0].tv_sec = *when;
        times[0].tv_nsec = 0;
        times[1] = times[0];
        if (utimensat(AT_FDCWD, Full(file.path).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            Warn("cannot set the time of " + Quoted(file.path));
            ++warnings_;
            ++unwritten_;
        }
    }

    // Renames HTML pages to .html, turns redirects into forwarding pages and
    // rewrites the links of every page and sheet.
    void MakeOffline() {
        // A file of this copy is never replaced by a rename; one left from an
        // earlier copy into the same place is, as the copy replaces files.
        std::set<std::string> ours;
        for (const WrittenFile &file : files_) {
            ours.insert(file.path);
        }
        for (WrittenFile &file : files_) {
            const bool page = file.Html() || file.Redirect();
            if (page && !EndsWith(file.path, ".html") && !EndsWith(file.path, ".htm")) {
                const std::string renamed = file.path + ".html";
                std::error_code failed;
                const fs::file_status there = fs::symlink_status(Full(renamed), failed);
                if (ours.count(renamed) != 0 || (fs::exists(there) && !fs::is_regular_file(there)) ||
                    std::rename(Full(file.path).c_str(), Full(renamed).c_str()) != 0) {
                    Warn(Quoted(file.path) + ": not renamed to " + Quoted(renamed));
                    ++warnings_;
                    continue;
                }
                ours.erase(file.path);
                ours.insert(renamed);
                file.path = renamed;
            }
        }
        std::map<std::string, SiteFiles> bySite;
        for (const WrittenFile &file : files_) {
            SiteFiles &site = bySite[file.site + '\n' + file.siteFolder];
            site.name = file.site;
            site.Add(file.key, &file);
        }
        // Pages are parsed and rewritten on every core: each file is its own.
        ReadyUnbrokenWrites();
        std::atomic<size_t> next{0};
        std::atomic<int> warnings{0};
        auto work = [&]() {
            for (size_t i = next++; i < files_.size(); i = next++) {
                if (!Rewrite(files_[i], bySite)) {
                    ++warnings;
                }
            }
        };
        const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
        std::vector<std::thread> threads;
        for (unsigned i = 1; i < cores; ++i) {
            threads.emplace_back(work);
        }
        work();
        for (std::thread &thread : threads) {
            thread.join();
        }
        warnings_ += warnings;
        unwritten_ += warnings; // each a page or sheet that could not be written
        bytes_ = 0;
        for (const WrittenFile &file : files_) {
            bytes_ += file.size;
        }
    }

    // Where a link to `found` lands: a stored redirect's target when that is
    // another file of the same copied site (a redirect "faq" to "faq.html"
    // keeps no page name of its own), else `found` itself. A fragment the
    // redirect names replaces `fragment`, as a browser takes it.
    static const WrittenFile *Landing(const WrittenFile *found, const SiteFiles &site,
                                      std::string &fragment) {
        if (found == nullptr || !found->Redirect()) {
            return found;
        }
        std::string key;
        const std::string location =
            ResolveReference(found->Url(), AsBrowserReads(found->header.Field("Location")));
        if (!KeyOnSite(location, found->site, key)) {
            return found;
        }
        const WrittenFile *target = site.Find(key);
        if (target == nullptr || target == found || target->Redirect()) {
            return found;
        }
        if (!FragmentOf(location).empty()) {
            fragment = FragmentOf(location);
        }
        return target;
    }

    // The links of one page or sheet rewritten, or a redirect made a page;
    // false when it could not be written.
    bool Rewrite(WrittenFile &file, const std::map<std::string, SiteFiles> &bySite) {
        // A page names the same targets again and again (its style sheet,
        // its logo, its menu): each link is resolved once per page.
        std::unordered_map<std::string, std::optional<std::string>> resolved;
        const SiteFiles &own = bySite.at(file.site + '\n' + file.siteFolder);
        std::string base = file.Url();
        // The page's own URL is not always its key: "a/" (a folder's page)
        // is kept as the file "a" when nothing was stored below it, and "a"
        // as "a/index.htm" when something was. Its relative links are tried
        // against the other reading too when the first finds no file.
        std::string otherBase;
        bool baseMoved = false;
        bool baseElsewhere = false; // the <base href> is not this page's
        const std::string index = "/index.htm";
        const std::string last = file.key.substr(file.key.rfind('/') + 1);
        if (file.key.size() > index.size() &&
            file.key.compare(file.key.size() - index.size(), index.size(), index) == 0) {
            otherBase = base.substr(0, base.size() - index.size());
        } else if (!last.empty() && last.find_first_of(".?") == std::string::npos) {
            otherBase = base + "/";
        }
        const LinkMap resolve = [&](const std::string &value) -> std::optional<std::string> {
            const std::string link = AsBrowserReads(value);
            // Within the page itself, unless its <base href> names another.
            if ((link.empty() || link[0] == '#') && !baseElsewhere) {
                return std::nullopt;
            }
            std::string key;
            for (const std::string &from : {base, otherBase}) {
                const std::string absolute = from.empty() ? std::string() : ResolveReference(from, link);
                if (KeyOnSite(absolute, file.site, key)) {
                    std::string fragment = FragmentOf(absolute);
                    if (const WrittenFile *found = Landing(own.Find(key), own, fragment)) {
                        return RelativeLink(file.path, found->path) + fragment;
                    }
                    continue;
                }
                // Another site copied along with this one.
                for (const auto &site : bySite) {
                    if (!absolute.empty() && &site.second != &own &&
                        KeyOnSite(absolute, site.second.name, key)) {
                        if (const WrittenFile *found = site.second.Find(key)) {
                            return RelativeLink(file.path, found->path) + FragmentOf(absolute);
                        }
                    }
                }
            }
            const std::string absolute = ResolveReference(base, link);
            if (!KeyOnSite(absolute, file.site, key)) {
                // With the page's <base href> made the page itself, a relative
                // link into another site must say where it goes.
                return baseMoved && absolute != link ? std::optional<std::string>(absolute) : std::nullopt;
            }
            // Already whole (http or https): it goes to the web as it is.
            if (StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://")) {
                return std::nullopt;
            }
            const std::string whole = "http://" + file.site + "/" + key + FragmentOf(absolute);
            return whole == value ? std::nullopt : std::optional<std::string>(whole);
        };
        // A <base href> would send every relative link of the copy back to
        // the web: it names the page itself, and links resolve against it.
        const LinkMap onBase = [&](const std::string &href) -> std::optional<std::string> {
            base = ResolveReference(file.Url(), href);
            baseMoved = true;
            otherBase.clear();
            std::string key;
            std::string fragment;
            baseElsewhere = !KeyOnSite(base, file.site, key) || Landing(own.Find(key), own, fragment) != &file;
            return RelativeLink(file.path, file.path);
        };
        const LinkMap map = [&](const std::string &link) -> std::optional<std::string> {
            const auto known = resolved.find(link);
            if (known != resolved.end()) {
                return known->second;
            }
            return resolved.emplace(link, resolve(link)).first->second;
        };
        std::string text;
        if (file.Redirect()) {
            // One that leads to its own file (http to https, "a" to "a/")
            // would reload itself for ever: it goes to the web instead.
            const std::string location = file.header.Field("Location");
            std::string target = map(location).value_or(location);
            if (target.substr(0, target.find('#')) == RelativeLink(file.path, file.path)) {
                target = ResolveReference(file.Url(), AsBrowserReads(location));
            }
            std::string escaped;
            for (char c : target) {
                escaped += c == '&' ? "&amp;" : c == '"' ? "&quot;" : c == '<' ? "&lt;" : std::string(1, c);
            }
            text = "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" "
                   "content=\"0; url=" + escaped + "\">\n<title>Moved</title>\n<a href=\"" +
                   escaped + "\">" + escaped + "</a>\n";
        } else if (file.Html() || file.Css()) {
            const bool html = file.Html();
            if (!RewriteFile(
                    Full(file.path),
                    [&](const std::string &original) {
                        return html ? RewriteHtml(original, map, onBase) : RewriteCss(original, map);
                    },
                    file.size)) {
                Warn(Quoted(file.path) + ": links not rewritten (cannot read or write it)");
                return false;
            }
            return true;
        } else {
            return true;
        }
        if (!WriteWhole(Full(file.path), text)) {
            Warn(Quoted(file.path) + ": links not rewritten (cannot write it)");
            return false;
        }
        file.size = text.size();
        return true;
    }

    Session &session_;
    TerminalUi &ui_;
    const CommandLine &line_;
    std::string destination_;
    WorkFolder work_;
    std::vector<WrittenFile> files_;
    int warnings_ = 0;
    int decoded_ = 0;
    int leftOut_ = 0;   // items written but not found, so not decoded, rewritten or dated
    bool manifestRefused_ = false; // the manifest would have replaced a copied file
    int unwritten_ = 0; // files whose change or date could not be written (a full disk)
    bool reported_ = false;
    std::string siteFolder_; // of the site being surveyed
    const FileIdentities *before_ = nullptr;
    size_t total_ = 0;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};


// The files the items at `indexes` hold, counted through the plug-in: a
// folder (or site) is entered and walked.
// `whole` is set false when a folder (one named "..") could not be entered.
size_t FilesIn(Session &session, const std::vector<int> &indexes, bool &whole) {
    size_t count = 0;
    for (int index : indexes) {
        if (index >= session.Count()) continue;
        const std::string name = session.Name(index);
        session.SetCurrentItem(index); // a site name two site files share
        if (!session.IsFolder(index)) {
            ++count;
        } else if (session.CanEnter(name) && session.ChangeDirectory(name)) {
            std::vector<int> inner(static_cast<size_t>(session.Count()));
            for (int i = 0; i < session.Count(); ++i) inner[static_cast<size_t>(i)] = i;
            count += FilesIn(session, inner, whole);
            session.ChangeDirectory("..");
        } else {
            whole = false;
        }
    }
    return count;
}

// "copied N of M files (B bytes)": what the copy really wrote (files new
// under `destination` since `before`, or new in place of older ones) of the
// files the items at `chosen` hold.
void PrintCopySummary(Session &session, const std::vector<int> &chosen,
                      const std::vector<std::string> &listed, const DestinationFiles &before,
                      const std::string &destination, const std::optional<std::string> &manifest) {
    size_t written = 0;
    std::uintmax_t bytes = 0;
    const std::string manifestName =
        manifest ? fs::path(*manifest).filename().string() : std::string();
    for (const auto &file : FilesUnder(destination, listed, &before).files) {
        const auto old = before.files.find(file.first);
        std::error_code ignored;
        if (!manifestName.empty() && fs::path(file.first).filename() == manifestName &&
            fs::equivalent(file.first, *manifest, ignored)) {
            continue; // the manifest is not a file of the copy
        }
        if (old == before.files.end() || !old->second.Same(file.second)) {
            ++written;
            bytes += file.second.size;
        }
    }
    // A whole site holds a file per stored response, but for URLs stored
    // twice: far fewer means records the plug-in never reached.
    const bool atRoot = !session.OnSiteFile() && session.CurDir().empty();
    size_t total = 0;
    for (int index : chosen) {
        bool whole = true;
        const size_t files = FilesIn(session, {index}, whole);
        total += files;
        // Files in a folder that cannot be entered ("..") are not counted:
        // of a site copied alone, the files the copy wrote count instead.
        const size_t seen = whole ? files : chosen.size() == 1 ? std::max(files, written) : SIZE_MAX;
        const PluginPanelItem &item = session.Item(index);
        if (atRoot && item.Description != nullptr && item.NumberOfLinks > seen) {
            Warn(Quoted(session.Name(index)) + " (" + DisplayText(item.Description) + "): its file lists " +
                 std::to_string(item.NumberOfLinks) + " stored responses, only " + std::to_string(seen) +
                 " file(s) were read from it: the file may be cut short or damaged, or URLs name "
                 "one file (a URL stored twice, or /a and /a/index.htm, show once); qvork warc "
                 "reads every record, looks past a broken chain, and names those it cannot");
        }
    }
    std::printf("copied %zu of %zu files (%ju bytes)\n", written, std::max(total, written), bytes);
}

std::string DestinationPath(const std::string &destination) {
    std::string path = destination;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// What get says when it is done: one summary line (the failed items were
// told as the plug-in reported them).
int ReportGet(const std::vector<int> &failed, size_t wanted, bool copied, const CopyOut *copy,
              const std::string &destination) {
    if (copy != nullptr) {
        std::fprintf(stderr, "qvork: %zu file(s), %llu bytes in %s", copy->Files(),
                     static_cast<unsigned long long>(copy->Bytes()), Quoted(destination).c_str());
        if (copy->Decoded() > 0) {
            std::fprintf(stderr, ", %d decoded", copy->Decoded());
        }
        if (copy->Warnings() > 0) {
            std::fprintf(stderr, ", %d warning(s)", copy->Warnings());
        }
        std::fputc('\n', stderr);
    }
    if (!copied || !failed.empty()) {
        return Fail(std::to_string(failed.size()) + " of " + std::to_string(wanted) +
                    " item(s) not copied to " + Quoted(destination));
    }
    return kExitOk;
}

// A copy of a whole site that had to leave records out (the plug-in told
// which as it read the site).
int LeftOut() {
    return Fail("records of the site could not be read (told above): the copy lacks them");
}

} // namespace

int RunGet(Session &session, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    // A warning the plug-in gives while loading a site (a record it could
    // not read) leaves something out of a copy of the whole site.
    const int warningsBefore = ui.WarningsShown();
    bool warned = false;
    if (!Requires(session.Entry().GetFiles, "GetFiles", status) || !OpenAtRoot(session, status)) {
        return status;
    }
    // --all: every site, each by its cache file (which tells twins apart);
    // on a site file, all of it.
    std::vector<std::string> operands = line.operands;
    bool unreadSites = false;
    for (int i = 0; line.all && !session.OnSiteFile() && i < session.Count(); ++i) {
        const char *file = session.Item(i).Description;
        if (file != nullptr && !session.IsHidden(i)) {
            operands.push_back(file);
        } else if (!session.IsHidden(i)) {
            Warn(Quoted(session.Name(i)) + " is not a readable site file; left out");
            unreadSites = true;
        }
    }
    if (line.all && session.OnSiteFile()) {
        operands.push_back("/");
    }
    if (operands.empty()) {
        return Fail("no readable site in the cache");
    }
    std::vector<CachePath> paths;
    for (const std::string &text : operands) {
        CachePath path;
        std::string error;
        const PathStatus split = SplitCachePath(session, text, path, error);
        // On a site file "/" is its top folder: everything in it.
        const bool top = split == PathStatus::kOk && path.siteIsTop && path.names.empty() &&
                         text == "/";
        if (top && operands.size() > 1) {
            return PathFailure(PathStatus::kInvalid, "'/' (the whole site) is given alone");
        }
        if (split == PathStatus::kOk && path.siteIndex < 0 &&
            (!path.siteIsTop || path.names.empty()) && !top) {
            return PathFailure(PathStatus::kInvalid,
                               session.OnSiteFile()
                                   ? "get needs a folder or file of the site, or '/' for all of it"
                                   : "get needs a site, folder or file, not ''");
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
    std::vector<int> chosen;
    const bool wholeTop = paths[0].siteIsTop && paths[0].names.empty();
    for (int item = 0; wholeTop && item < session.Count(); ++item) {
        session.SetSelected(item, true);
        chosen.push_back(item);
    }
    for (const CachePath &path : paths) {
        if (wholeTop) {
            break;
        }
        const int item = FindLeaf(session, path, status);
        if (item < 0) {
            return status;
        }
        session.SetSelected(item, true);
        chosen.push_back(item);
    }
    const std::string destination = DestinationPath(line.destination);
    const std::string backslash = BackslashProblem(destination);
    if (!backslash.empty()) {
        return Fail(backslash);
    }
    std::error_code made;
    fs::create_directories(destination, made);
    if (made || !fs::is_directory(destination)) {
        return Fail("cannot create the destination folder " + Quoted(destination) +
                    (made ? ": " + made.message() : ""));
    }
    std::vector<std::string> listed;
    for (int index : chosen) {
        listed.push_back(session.Name(index));
    }
    const DestinationFiles before = FilesUnder(destination, listed);
    std::vector<int> failed;
    bool copied = false;
    const bool adds = !line.noTimes || line.decode || line.manifest || line.offline;
    // Bodies are decoded, rewritten and dated once all are copied: a copy
    // ended before then says what it left.
    struct Unfinished {
        explicit Unfinished(bool adds) {
            if (adds) {
                NoteOnSignal("qvork: interrupted: the files copied so far may be left as stored "
                             "(not decoded, rewritten or dated, no manifest); run the same get "
                             "again to finish them\n");
            }
        }
        ~Unfinished() { NoteOnSignal(nullptr); }
    } unfinished(adds);
    {
        CopyReport report(&ui);
        // Ended by a signal, the copy leaves no half-written temporary file.
        SweepOnSignal(destination);
        copied = session.CopySelection(destination, 0, failed);
        SweepOnSignal("");
        for (const std::string &failure : report.FailureLines()) {
            Fail(failure);
            warned = true;
        }
    }
    // A site file's own sites load before the copy: its warnings were shown.
    warned = warned || (wholeTop && ui.WarningsShown() != warningsBefore);
    if (!adds) {
        PrintCopySummary(session, chosen, listed, before, destination, std::nullopt);
        const int result = ReportGet(failed, chosen.size(), copied, nullptr, destination);
        return result == kExitOk && warned        ? LeftOut()
               : result == kExitOk && unreadSites ? kExitFailed
                                                  : result;
    }
    CopyOut copy(session, ui, line, destination);
    // The site of the copied items, as the URLs name it: none at the root.
    const std::string site = paths[0].names.empty() && !paths[0].siteIsTop ? std::string()
                                                                            : paths[0].site;
    std::string urlFolder;
    for (size_t i = 0; i + 1 < paths[0].names.size(); ++i) {
        urlFolder += paths[0].names[i] + "/";
    }
    std::vector<int> copiedItems;
    std::vector<int> reportedItems;
    for (int index : chosen) {
        const bool reported = std::find(failed.begin(), failed.end(), index) != failed.end();
        (reported ? reportedItems : copiedItems).push_back(index);
    }
    copy.SetBefore(before.files);
    copy.Survey(copiedItems, "", site, urlFolder);
    copy.SurveyReported(reportedItems, site, urlFolder);
    const bool finished = copy.Finish();
    PrintCopySummary(session, chosen, listed, before, destination,
                     copy.ManifestRefused() ? std::nullopt : line.manifest);
    const int result = ReportGet(failed, chosen.size(), copied, &copy, destination);
    return result == kExitOk && warned                      ? LeftOut()
           : result == kExitOk && (!finished || unreadSites) ? kExitFailed
                                                              : result;
}

int RunCat(Session &session, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    if (!Requires(session.Entry().GetFiles, "GetFiles", status) || !OpenAtRoot(session, status)) {
        return status;
    }
    CachePath path;
    std::string error;
    const PathStatus split = SplitCachePath(session, line.operands[0], path, error);
    if (split == PathStatus::kOk && path.names.empty()) {
        return PathFailure(PathStatus::kInvalid, "cat needs a file inside a site");
    }
    if (split != PathStatus::kOk) {
        return PathFailure(split, error);
    }
    const int item = ReachParent(session, path, status) ? FindLeaf(session, path, status) : -1;
    if (item < 0) {
        return status;
    }
    if (session.IsFolder(item)) {
        return Fail(Quoted(line.operands[0]) + " is a folder");
    }
    WorkFolder work;
    std::string name;
    if (!work.Make(TemporaryFolder(), error)) {
        return Fail(error);
    }
    bool copied = false;
    std::vector<std::string> failures;
    {
        // The plug-in's boxes for a body it cannot copy name the private
        // work folder: told as lines about the file asked for instead.
        CopyReport report(&ui);
        copied = CopyAlone(session, item, work, name, error);
        failures = report.FailureLines();
    }
    if (!copied) {
        const std::string place = fs::absolute(work.Path()).lexically_normal().string() + "/";
        for (std::string failure : failures) {
            for (size_t at = failure.find(place); at != std::string::npos; at = failure.find(place)) {
                failure.erase(at, place.size());
            }
            Fail(Quoted(line.operands[0]) + ": " + failure);
        }
        return Fail(error);
    }
    BodyCoding coding;
    std::string header;
    if (line.decode && FetchHeader(session, ui, item, header)) {
        const HttpHeader fields = ParseHttpHeader(header);
        if (!CodingOf(fields.Field("Transfer-Encoding"), fields.Field("Content-Encoding"), coding,
                      error)) {
            Warn(error + "; written as stored");
            coding = BodyCoding{};
        }
    }
    ui.ClearProgressLine();
    const std::string body = work.Path() + "/" + name;
    FILE *in = std::fopen(body.c_str(), "rb");
    if (in == nullptr) {
        return Fail("cannot read the copied body of " + Quoted(line.operands[0]));
    }
    bool written = true;
    if (!coding.Plain()) {
        std::string decoded;
        std::string stored;
        ReadWhole(body, stored);
        if (DecodeBytes(stored, decoded, coding, error, DecodeLimit(stored.size()))) {
            written = std::fwrite(decoded.data(), 1, decoded.size(), stdout) == decoded.size();
        } else {
            Warn(Quoted(line.operands[0]) + ": written as stored: " + error);
            written = std::fwrite(stored.data(), 1, stored.size(), stdout) == stored.size();
        }
    } else {
        char buffer[1 << 16];
        size_t got;
        while (written && (got = std::fread(buffer, 1, sizeof(buffer), in)) > 0) {
            written = std::fwrite(buffer, 1, got, stdout) == got;
        }
    }
    std::fclose(in);
    if (std::fflush(stdout) != 0 || !written) {
        return Fail("cannot write to standard output");
    }
    return kExitOk;
}

} // namespace qvork_host
