// The pieces of a WARC/1.1 file that do not depend on where the records come
// from: SHA-1 digests in base 32, record ids, dates, target URIs, SURT keys,
// and a writer that puts each record into a gzip member of its own (so a
// reader can seek to any record) or writes it plain.
#ifndef QVORK_HOSTS_WARC_FORMAT_H
#define QVORK_HOSTS_WARC_FORMAT_H

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "hosts/qvork/web/http_header.h"

namespace qvork_host {

class Sha1 {
public:
    Sha1();
    void Update(const void *data, size_t size);
    // "sha1:" and the digest in base 32 (RFC 4648, 32 characters); the
    // object is spent afterwards.
    std::string Label();

private:
    void Block(const unsigned char *block);
    uint32_t state_[5];
    uint64_t length_ = 0;
    unsigned char buffer_[64];
    size_t buffered_ = 0;
};

// "<urn:uuid:...>": a random (version 4) UUID.
std::string NewRecordId();
// "2026-12-07T11:49:21Z".
std::string WarcDate(std::time_t when);
// "20261207114921", the CDXJ timestamp.
std::string CdxTimestamp(std::time_t when);
// (HTTP dates: ParseHttpDate in web/http_header.h.)
// The value of the first header field `name` (case-insensitive) in the
// header text, trimmed; none when it is absent.
std::optional<std::string> HeaderField(const std::string &header, const std::string &name);
// "http://" + site + the stored URL ("/" put in front when it has none),
// bytes a URI cannot hold percent-encoded.
std::string TargetUri(const std::string &site, const std::string &storedUrl);
// The SURT form replay indexes sort by: "com,example)/path?query".
std::string SurtKey(const std::string &uri);

// Writes WARC records to a file, each one gzip member when `gzip`.
class WarcWriter {
public:
    WarcWriter() = default;
    ~WarcWriter();
    WarcWriter(const WarcWriter &) = delete;
    WarcWriter &operator=(const WarcWriter &) = delete;

    // Creates `path`; false with the reason in `error`.
    bool Open(const std::string &path, bool gzip, std::string &error);
    // One record: `head` (the version line and header fields, without the
    // blank line), then the block. Returns false once anything failed.
    bool Write(const std::string &head, const unsigned char *block, size_t blockSize);
    // Where the last record began in the file and how many bytes it took.
    uint64_t LastOffset() const { return lastOffset_; }
    uint64_t LastLength() const { return offset_ - lastOffset_; }
    // Flushes, syncs and closes; false when any write or the close failed.
    bool Close(std::string &error);

private:
    bool Put(const void *data, size_t size, bool last);
    FILE *file_ = nullptr;
    bool gzip_ = false;
    bool zOpen_ = false;
    bool failed_ = false;
    int errno_ = 0; // of the first failed write
    z_stream z_{};
    uint64_t offset_ = 0;
    uint64_t lastOffset_ = 0;
    unsigned char out_[128 * 1024];
};

} // namespace qvork_host

#endif
