// Writes NetSonic site files for tests and the demo cache: a header with the
// site name, then one stored response per record (URL, HTTP header, body),
// laid out exactly as the plug-in's reader walks them. Every field can be
// overridden per file or per record, and the file can be cut at any byte, so
// damaged and hostile variants are written from the same description as good
// ones. Nothing here depends on the plug-in's own code.
#ifndef QVORK_SITE_WRITER_SITE_WRITER_H
#define QVORK_SITE_WRITER_SITE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvork_test {

// Where things lie in a site file.
constexpr uint32_t kSiteMagic = 289639;     // bytes 67 6B 04 00 at offset 0
constexpr int kRecordCountOffset = 8;       // 16-bit: stored responses + 2
constexpr int kSiteBlockOffset = 16;        // 32-bit siteBlockLength; the block starts here
constexpr int kNameLengthOffset = 32;       // 32-bit, +16 of the site block
constexpr int kNameOffset = 36;             // +20 of the site block
constexpr int kRecordUrlLengthOffset = 16;  // from the record's start
constexpr int kRecordUrlOffset = 20;
constexpr int kRecordDataLengthOffset = 28; // + urlLength
constexpr int kRecordHeaderOffset = 38;     // + urlLength
constexpr int kReadWindow = 1024;           // the reader's per-record window
constexpr int kDataLengthExtra = 10;        // dataLength = 10 + header text + body
const char kHeaderSeparator[] = "\r\n\r\n";

// One stored response. The header is the HTTP header text without the blank
// line that ends it; the writer adds "\r\n\r\n" unless told not to.
struct SiteRecord {
    std::string url;
    std::string header;
    std::string body; // raw bytes
    // Damage: each set field replaces the value the writer would compute.
    std::optional<int32_t> recordLength; // default: this record's own size
    std::optional<int32_t> urlLength;    // default: url.size()
    std::optional<int32_t> dataLength;   // default: 10 + header.size() + body.size()
    bool omitSeparator = false;          // write the header without "\r\n\r\n"
    std::string trailer;                 // bytes after the body, inside the record
};

struct SiteFileOptions {
    uint32_t magic = kSiteMagic;
    std::optional<uint16_t> recordCount;    // default: records + 2
    std::optional<int32_t> siteBlockLength; // default: 20 + name size
    std::optional<int32_t> nameLength;      // default: name size
    std::string siteBlockTrailer;           // bytes after the name, inside the site block
    // The reader stops after a record whose 1024-byte window reaches past the
    // end of the file, so by default the file is padded with zero bytes until
    // the last record's window fits; false leaves the file at its natural end.
    bool padTail = true;
    std::optional<size_t> truncateAt; // cut the finished file to this many bytes
};

// Where the writer put each record, for tests that check offsets and copies.
struct RecordPlacement {
    int64_t start = 0;        // file offset of the record
    int64_t headerOffset = 0; // start + 38 + urlLength
    int64_t bodyOffset = 0;   // first byte after "\r\n\r\n"
    int64_t bodyLength = 0;   // body.size()
};

struct SiteFileImage {
    std::string bytes;
    std::vector<RecordPlacement> records;
};

// Lays out a whole site file in memory.
SiteFileImage BuildSiteFile(const std::string &siteName, const std::vector<SiteRecord> &records,
                            const SiteFileOptions &options = {});

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteBytes(const std::filesystem::path &path, const std::string &bytes);

// BuildSiteFile + WriteBytes; returns the placement of the records.
SiteFileImage WriteSiteFile(const std::filesystem::path &path, const std::string &siteName,
                            const std::vector<SiteRecord> &records,
                            const SiteFileOptions &options = {});

// Little-endian patching of raw bytes; the string grows with zero bytes when
// the field lies past its end.
void PutLE16(std::string &bytes, size_t offset, uint16_t value);
void PutLE32(std::string &bytes, size_t offset, uint32_t value);

// A record with a plain "HTTP/1.0 200 OK" header of the given content type.
SiteRecord OkRecord(const std::string &url, const std::string &body,
                    const std::string &contentType = "text/html");

} // namespace qvork_test

#endif
