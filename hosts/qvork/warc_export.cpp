// qvork warc; see warc_export.h. The archive and its index are written to
// temporary files beside their destinations and renamed over them only when
// every write succeeded, so a failed run leaves nothing half written.
// Invariant: a record goes out only after its whole block was read and
// checked, so the archive parses to its end whatever the site files hold.
#include "hosts/qvork/warc_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "cache/site_reader.h"
#include "hosts/qvork/cache_location.h"
#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/open_target.h"
#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/text_output.h"
#include "hosts/qvork/web/text_escape.h"
#include "hosts/qvork/warc_format.h"
#include "platform/stream.h"

#ifndef QVORK_VERSION
#define QVORK_VERSION "unknown"
#endif

namespace qvork_host {

const char kWarcHelp[] =
    R"(  warc SITE... -o FILE   Write the stored responses of the sites (or of every
  warc --all -o FILE     site: --all) as a web archive, WARC/1.1: every stored
                         response in file order, duplicates included, with its
                         URL, header and body as stored. FILE ending in .gz is
                         compressed record by record. --cdxj INDEX also writes
                         the replay index. SITE: a site name or a cache file
                         name (cache7). Damaged records are named and left out
                         (exit status 1, the archive kept).
)";

namespace fs = std::filesystem;

namespace {

struct ExportSite {
    std::string name; // the site name: the host of its URLs
    std::string file; // its cache file name
};

struct Totals {
    long written = 0;
    long skipped = 0; // damaged records and records the walk could not reach
};

// One exported response for the index.
struct IndexEntry {
    std::string line; // the whole CDXJ line; lines sort by SURT key, then time
};

std::string Quoted(const std::string &text) { return "'" + DisplayText(text) + "'"; }

std::string JsonText(const std::string &text) {
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        bool printable = true;
        bool c1 = false;
        const size_t length = c < 0x80 ? 1 : CharacterAt(text, i, printable, c1);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x80 && length == 1)) {
            // A byte outside UTF-8 (a Latin-1 header field) as the character
            // of that number: the line stays JSON.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json.append(text, i, length);
        }
        i += length;
    }
    return json + "\"";
}

// Where the archive and its index may go: not one file for both, and not
// among the cache's own site files, which one of them would replace.
bool OutputsAllowed(const std::string &output, const std::optional<std::string> &index,
                    std::string siteFolder, std::string &error) {
    std::replace(siteFolder.begin(), siteFolder.end(), '\\', '/');
    std::error_code ignored;
    const fs::path icache = fs::weakly_canonical(fs::path(siteFolder), ignored);
    auto place = [](const std::string &path) {
        std::error_code failed;
        return fs::weakly_canonical(fs::absolute(path, failed), failed);
    };
    if (index && place(*index) == place(output)) {
        error = "the archive and its index cannot be one file: " + Quoted(output);
        return false;
    }
    for (const std::string &path : {output, index.value_or(std::string())}) {
        std::error_code failed;
        if (!path.empty() && (path.back() == '/' || fs::is_directory(path, failed))) {
            error = Quoted(path) + " is a folder: name the file to write";
            return false;
        }
        if (!path.empty() && !icache.empty() && place(path).parent_path() == icache) {
            error = "cannot write " + Quoted(path) + " among the cache's site files";
            return false;
        }
    }
    return true;
}

// The sites to export, from the plug-in's root listing.
bool ChooseSites(Session &session, const CommandLine &line, std::vector<ExportSite> &sites,
                 long &unreadable) {
    for (int i = 0; line.all && i < session.Count(); ++i) {
        const char *file = session.Item(i).Description;
        if (file != nullptr && !session.IsHidden(i)) {
            sites.push_back({session.Name(i), file});
        } else if (!session.IsHidden(i)) {
            std::fprintf(stderr, "qvork: %s: not a readable site file; left out\n",
                         DisplayText(session.Name(i)).c_str());
            ++unreadable;
        }
    }
    for (const std::string &wanted : line.operands) {
        // A site by its name or its cache file, as every command names it; a
        // name two cache files share is refused there.
        CachePath path;
        std::string error;
        const PathStatus split = SplitCachePath(session, wanted, path, error);
        if (split == PathStatus::kInvalid) {
            Fail(error);
            return false;
        }
        const int found = split == PathStatus::kOk && path.names.empty() ? path.siteIndex : -1;
        if (found < 0) {
            Fail("no site " + Quoted(wanted) + " at the cache root (qvork ls lists them)");
            return false;
        }
        if (session.Item(found).Description == nullptr) {
            Fail(Quoted(wanted) + " is not a readable site file");
            return false;
        }
        const std::string file = session.Item(found).Description;
        if (std::none_of(sites.begin(), sites.end(), [&](const ExportSite &site) { return site.file == file; })) {
            sites.push_back({session.Name(found), file}); // a site named twice goes in once
        }
    }
    return true;
}

constexpr size_t kListedNameLimit = 259; // a site name in the root listing

class SiteExporter {
public:
    SiteExporter(WarcWriter &writer, const std::string &warcinfoId, const std::string &fileName,
                 std::vector<IndexEntry> &index, Totals &totals)
        : writer_(writer), warcinfoId_(warcinfoId), fileName_(fileName), index_(index),
          totals_(totals) {}

    // False only when writing failed.
    bool Export(const ExportSite &site, const std::string &path);

private:
    void Skip(const SiteRecordEntry &entry, const std::string &why);
    bool ExportRecord(const SiteRecordEntry &entry);
    void ReportUnreached(const SiteReader &reader, bool broken);

    WarcWriter &writer_;
    const std::string warcinfoId_;
    const std::string fileName_;
    std::vector<IndexEntry> &index_;
    Totals &totals_;
    const ExportSite *site_ = nullptr;
    std::string host_; // the site's name as its file holds it, whole
    SiteReader reader_{};
    long long fileSize_ = 0;
    std::time_t modified_ = 0;
    int number_ = 0; // the record's place in the chain, from 1
    std::vector<unsigned char> block_;
};

void SiteExporter::Skip(const SiteRecordEntry &entry, const std::string &why) {
    std::fprintf(stderr, "qvork: %s (%s) record %d at offset %ld: %s; left out\n",
                 DisplayText(site_->name).c_str(), site_->file.c_str(), number_,
                 static_cast<long>(entry.position), why.c_str());
    totals_.skipped++;
}

const char *DamageText(int status) {
    switch (status) {
    case SITE_RECORD_OVERLONG: return "URL length out of range";
    case SITE_RECORD_TRUNCATED: return "truncated, the file ends inside it";
    default: return "unreadable, its body length is negative";
    }
}

// The status code of the response's first line "HTTP/x.y NNN ...", or -1.
int StatusOf(const std::string &header) {
    char digits[4] = {0};
    int end = 0;
    // Three digits, and no fourth: "2000" is no status 200.
    if (header.compare(0, 5, "HTTP/") != 0 ||
        std::sscanf(header.c_str(), "HTTP/%*[0-9.] %3[0-9]%n", digits, &end) != 1 ||
        std::strlen(digits) != 3 || std::isdigit(static_cast<unsigned char>(header[static_cast<size_t>(end)]))) {
        return -1;
    }
    return std::atoi(digits);
}

bool SiteExporter::ExportRecord(const SiteRecordEntry &entry) {
    // The block: header text, "\r\n\r\n", body; dataLength counts 10 bytes
    // more than header text and body.
    long long size = static_cast<long long>(entry.dataLength) - RECORD_DATA_OVERHEAD +
                     HEADER_SEPARATOR_LENGTH;
    if (entry.headerOffset + size > fileSize_) {
        Skip(entry, "truncated, its body reaches past the end of the file");
        return true;
    }
    block_.resize(static_cast<size_t>(size));
    size_t got = ReadStreamAt(reader_.file, entry.headerOffset, block_.data(), block_.size());
    if (got != block_.size()) {
        Skip(entry, "unreadable");
        return true;
    }
    size_t headerLength = FindHeaderSeparator(block_.data(), block_.size());
    std::string header(reinterpret_cast<const char *>(block_.data()), headerLength);
    int status = StatusOf(header);
    if (headerLength == block_.size() || status < 0 || header.find('\0') != std::string::npos) {
        Skip(entry, "its stored header is no HTTP response header");
        return true;
    }
    const unsigned char *body = block_.data() + headerLength + HEADER_SEPARATOR_LENGTH;
    size_t bodySize = block_.size() - headerLength - HEADER_SEPARATOR_LENGTH;
    Sha1 blockDigest, payloadDigest;
    blockDigest.Update(block_.data(), block_.size());
    payloadDigest.Update(body, bodySize);
    const std::string payload = payloadDigest.Label();
    const std::time_t when =
        ParseHttpDate(HeaderField(header, "Date").value_or("")).value_or(modified_);
    // Every byte of the URL as stored, a zero byte included.
    const std::string url(entry.url, static_cast<size_t>(entry.urlLength));
    const std::string uri = TargetUri(host_, url);
    std::string head = "WARC/1.1\r\nWARC-Type: response\r\nWARC-Record-ID: " + NewRecordId() +
                       "\r\nWARC-Warcinfo-ID: " + warcinfoId_ + "\r\nWARC-Date: " + WarcDate(when) +
                       "\r\nWARC-Target-URI: " + uri + "\r\nWARC-Block-Digest: " +
                       blockDigest.Label() + "\r\nWARC-Payload-Digest: " + payload +
                       "\r\nContent-Type: application/http;msgtype=response\r\n";
    if (!writer_.Write(head, block_.data(), block_.size())) {
        return false;
    }
    totals_.written++;
    std::string mime = HeaderField(header, "Content-Type").value_or("unk");
    mime = mime.substr(0, mime.find(';'));
    while (!mime.empty() && (mime.back() == ' ' || mime.back() == '\t')) {
        mime.pop_back();
    }
    index_.push_back({SurtKey(uri) + " " + CdxTimestamp(when) + " {\"url\": " + JsonText(uri) +
                      ", \"mime\": " + JsonText(mime.empty() ? "unk" : mime) + ", \"status\": \"" +
                      std::to_string(status) + "\", \"digest\": \"" + payload.substr(5) +
                      "\", \"length\": \"" + std::to_string(writer_.LastLength()) +
                      "\", \"offset\": \"" + std::to_string(writer_.LastOffset()) +
                      "\", \"filename\": " + JsonText(fileName_) + "}"});
    return true;
}

// Records the chain promised but the walk could not reach.
// `broken`: the walk went on past breaks, so the records it missed were
// lost to damage wherever the walk ended.
void SiteExporter::ReportUnreached(const SiteReader &reader, bool broken) {
    // The over-long URLs passed over were told as damaged records already.
    const int missing = reader.recordCount - reader.returned - reader.passedOver;
    if (reader.stop == SITE_STOP_COUNT || missing <= 0) {
        return;
    }
    std::fprintf(stderr, "qvork: %s (%s): %d of %d records not reached: %s\n",
                 DisplayText(site_->name).c_str(), site_->file.c_str(), missing, reader.recordCount,
                 broken || reader.stop == SITE_STOP_BAD_LINK ? "the record chain is broken"
                                                              : "the file ends early");
    totals_.skipped += missing;
}

bool SiteExporter::Export(const ExportSite &site, const std::string &path) {
    site_ = &site;
    number_ = 0;
    if (!SiteReaderOpenPath(&reader_, path.c_str())) {
        std::fprintf(stderr, "qvork: %s (%s): cannot open %s; left out\n",
                     DisplayText(site.name).c_str(), site.file.c_str(), path.c_str());
        totals_.skipped++;
        return true;
    }
    // The file named in the listing may have been replaced since: its own
    // site name must be the listed one (which the listing cuts to 259 bytes).
    char stored[4096];
    SiteReaderName(&reader_, stored, sizeof stored);
    host_ = stored;
    if (host_ != site.name &&
        !(site.name.size() == kListedNameLimit && host_.compare(0, kListedNameLimit, site.name) == 0)) {
        std::fprintf(stderr, "qvork: %s (%s): the file changed since the cache was listed; left out\n",
                     DisplayText(site.name).c_str(), site.file.c_str());
        SiteReaderClose(&reader_);
        totals_.skipped++;
        return true;
    }
    struct stat info {};
    fstat(fileno(reader_.file), &info);
    fileSize_ = info.st_size;
    modified_ = info.st_mtime;
    bool ok = true;
    SiteRecordEntry entry;
    bool broken = false;
    for (;;) {
        while (ok && SiteReaderNext(&reader_, &entry)) {
            number_++;
            if (entry.status != SITE_RECORD_OK) {
                Skip(entry, DamageText(entry.status));
            } else {
                ok = ExportRecord(entry);
            }
        }
        // A broken link loses every record after it: the records further
        // on are looked for, and the walk goes on from the next one found.
        const bool badLink = reader_.stop == SITE_STOP_BAD_LINK;
        if (!ok || !SiteReaderResume(&reader_)) {
            break;
        }
        broken = true;
        // The reader's latest record: not bytes it passed over as no record.
        const std::string after = reader_.returned == 0
                                      ? "before the first record"
                                      : "after the record at offset " + std::to_string(reader_.lastPosition);
        std::fprintf(stderr, "qvork: %s (%s): %s %s; going on from a record found at offset %lld\n",
                     DisplayText(site.name).c_str(), site.file.c_str(),
                     badLink ? "the record chain is broken" : "the chain leads past the end of the file",
                     after.c_str(), reader_.next);
    }
    if (ok) {
        ReportUnreached(reader_, broken);
    }
    SiteReaderClose(&reader_);
    return ok;
}

std::string WarcinfoBlock(const std::string &cacheFolder, const std::vector<ExportSite> &sites) {
    std::string block = "software: qvork (qVORK " QVORK_VERSION ")\r\n"
                        "format: WARC File Format 1.1\r\n"
                        "conformsTo: http://bibnum.bnf.fr/WARC/WARC_ISO_28500_version1-1_latestdraft.pdf\r\n"
                        "description: responses stored in a NetSonic web cache\r\n"
                        "x-cache-folder: " + DisplayText(cacheFolder) + "\r\n";
    // A line end in a name would start a field of its own: none goes in raw.
    for (const ExportSite &site : sites) {
        block += "x-site: " + DisplayText(site.name) + " (" + DisplayText(site.file) + ")\r\n";
    }
    return block;
}

std::string BaseName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool WriteIndex(const std::string &path, std::vector<IndexEntry> &index, std::string &error) {
    std::sort(index.begin(), index.end(),
              [](const IndexEntry &a, const IndexEntry &b) { return a.line < b.line; });
    FILE *file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr;
    for (size_t i = 0; ok && i < index.size(); ++i) {
        ok = std::fprintf(file, "%s\n", index[i].line.c_str()) > 0;
    }
    ok = ok && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int savedErrno = errno;
    if (file != nullptr) {
        ok = std::fclose(file) == 0 && ok;
    }
    if (!ok) {
        error = "cannot write the index " + path + ": " + std::strerror(savedErrno);
    }
    return ok;
}

// Renames the finished temporaries over their destinations; on a failure
// the temporaries not yet renamed are removed.
bool Publish(const std::vector<std::pair<std::string, std::string>> &moves, std::string &error) {
    for (const auto &move : moves) {
        if (std::rename(move.first.c_str(), move.second.c_str()) != 0) {
            error = "cannot write " + move.second + ": " + std::strerror(errno);
            for (const auto &other : moves) {
                std::remove(other.first.c_str()); // those renamed are gone already
            }
            return false;
        }
    }
    return true;
}

} // namespace

int RunWarc(Session &session, const CommandLine &line) {
    std::string error;
    if (!session.Open(error) || !session.Read()) {
        return Fail(error.empty() ? "the plug-in did not list the cache root" : error);
    }
    // The folder of the site files: the registered cache's icache, or the
    // folder --cache names when it holds them itself.
    std::string siteFolder = session.Target().path;
    if (session.Target().kind == OpenTarget::kRegistered) {
        if (!ReadCacheFolder(siteFolder, error)) {
            return Fail(error);
        }
        std::replace(siteFolder.begin(), siteFolder.end(), '\\', '/');
        siteFolder = SiteFilesFolder(siteFolder);
    }
    std::vector<ExportSite> sites;
    long unreadable = 0;
    if (!ChooseSites(session, line, sites, unreadable)) {
        return kExitFailed;
    }
    const std::string output = *line.output;
    const std::string suffix = ".partial-" + std::to_string(getpid());
    const std::string temporary = output + suffix;
    const std::string icache = siteFolder + "\\";
    if (!OutputsAllowed(output, line.cdxj, siteFolder, error)) {
        return Fail(error);
    }
    WarcWriter writer;
    if (!writer.Open(temporary, EndsWith(output, ".gz"), error)) {
        return Fail("cannot create " + output + ": " + error);
    }
    // Ended by a signal, the unfinished archive and index are not left.
    RemoveOnSignal(temporary);
    const std::string temporaryIndex = line.cdxj ? *line.cdxj + suffix : std::string();
    if (line.cdxj) {
        RemoveOnSignal(temporaryIndex);
    }
    struct Forget {
        std::vector<std::string> paths;
        ~Forget() {
            for (const std::string &path : paths) ForgetOnSignal(path);
        }
    } forget{{temporary, temporaryIndex}};
    const std::string warcinfoId = NewRecordId();
    const std::string info = WarcinfoBlock(siteFolder, sites);
    bool ok = writer.Write("WARC/1.1\r\nWARC-Type: warcinfo\r\nWARC-Record-ID: " + warcinfoId +
                               "\r\nWARC-Date: " + WarcDate(std::time(nullptr)) +
                               "\r\nWARC-Filename: " + BaseName(output) +
                               "\r\nContent-Type: application/warc-fields\r\n",
                           reinterpret_cast<const unsigned char *>(info.data()), info.size());
    std::vector<IndexEntry> index;
    Totals totals;
    SiteExporter exporter(writer, warcinfoId, BaseName(output), index, totals);
    for (size_t i = 0; ok && i < sites.size(); ++i) {
        ok = exporter.Export(sites[i], icache + sites[i].file);
    }
    ok = writer.Close(error) && ok;
    std::vector<std::pair<std::string, std::string>> moves = {{temporary, output}};
    if (ok && line.cdxj) {
        moves.push_back({temporaryIndex, *line.cdxj});
        ok = WriteIndex(moves.back().first, index, error);
    }
    if (!ok) {
        for (const auto &move : moves) {
            std::remove(move.first.c_str());
        }
        return Fail((error.empty() ? "cannot write " + output : error) + "; nothing written");
    }
    if (!Publish(moves, error)) {
        return Fail(error);
    }
    std::fprintf(stderr, "qvork: %ld responses of %zu site(s) written to %s", totals.written,
                 sites.size(), output.c_str());
    if (totals.skipped > 0) {
        std::fprintf(stderr, "; %ld damaged or unreachable records left out", totals.skipped);
    }
    if (unreadable > 0) {
        std::fprintf(stderr, "; %ld cache file(s) not readable as sites left out", unreadable);
    }
    std::fprintf(stderr, "\n");
    return totals.skipped > 0 || unreadable > 0 ? kExitFailed : kExitOk;
}

} // namespace qvork_host
