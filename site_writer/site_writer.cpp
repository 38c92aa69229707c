// Site file layout (integers little-endian):
//   0 magic, 8 recordCount (16-bit), 16 siteBlockLength, 32 nameLength,
//   36 name; the first record at 16 + siteBlockLength.
//   record: +0 recordLength, +16 urlLength, +20 url, +28+u dataLength,
//   +38+u header "\r\n\r\n" body.
// The reader takes bodyLength = dataLength - 10 - (header text length), so
// dataLength = 10 + header text + body makes bodyLength the body's size.
#include "site_writer.h"

#include <fstream>
#include <stdexcept>

namespace qvork_test {

void PutLE16(std::string &bytes, size_t offset, uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2, '\0');
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutLE32(std::string &bytes, size_t offset, uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, '\0');
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

namespace {

std::string BuildSiteHeader(const std::string &siteName, size_t recordTotal,
                            const SiteFileOptions &options) {
    std::string head(kNameOffset, '\0');
    PutLE32(head, 0, options.magic);
    PutLE16(head, kRecordCountOffset,
            options.recordCount ? *options.recordCount : static_cast<uint16_t>(recordTotal + 2));
    const int32_t naturalBlock =
        static_cast<int32_t>(kNameOffset - kSiteBlockOffset + siteName.size() +
                             options.siteBlockTrailer.size());
    PutLE32(head, kSiteBlockOffset,
            static_cast<uint32_t>(options.siteBlockLength ? *options.siteBlockLength : naturalBlock));
    PutLE32(head, kNameLengthOffset,
            static_cast<uint32_t>(options.nameLength ? *options.nameLength
                                                     : static_cast<int32_t>(siteName.size())));
    head += siteName;
    head += options.siteBlockTrailer;
    return head;
}

// One record's bytes; `placement` gets offsets relative to the record start.
std::string BuildRecord(const SiteRecord &record, RecordPlacement &placement) {
    const size_t urlSize = record.url.size();
    std::string bytes(kRecordHeaderOffset + urlSize, '\0');
    PutLE32(bytes, kRecordUrlLengthOffset,
            static_cast<uint32_t>(record.urlLength ? *record.urlLength
                                                   : static_cast<int32_t>(urlSize)));
    bytes.replace(kRecordUrlOffset, urlSize, record.url);
    const int64_t naturalData = kDataLengthExtra + static_cast<int64_t>(record.header.size()) +
                                static_cast<int64_t>(record.body.size());
    PutLE32(bytes, kRecordDataLengthOffset + urlSize,
            static_cast<uint32_t>(record.dataLength ? *record.dataLength : naturalData));
    placement.headerOffset = static_cast<int64_t>(bytes.size());
    bytes += record.header;
    if (!record.omitSeparator) bytes += kHeaderSeparator;
    placement.bodyOffset = static_cast<int64_t>(bytes.size());
    placement.bodyLength = static_cast<int64_t>(record.body.size());
    bytes += record.body;
    bytes += record.trailer;
    PutLE32(bytes, 0,
            static_cast<uint32_t>(record.recordLength ? *record.recordLength
                                                      : static_cast<int32_t>(bytes.size())));
    return bytes;
}

} // namespace

SiteFileImage BuildSiteFile(const std::string &siteName, const std::vector<SiteRecord> &records,
                            const SiteFileOptions &options) {
    SiteFileImage image;
    image.bytes = BuildSiteHeader(siteName, records.size(), options);
    for (const SiteRecord &record : records) {
        RecordPlacement placement;
        const std::string bytes = BuildRecord(record, placement);
        placement.start = static_cast<int64_t>(image.bytes.size());
        placement.headerOffset += placement.start;
        placement.bodyOffset += placement.start;
        image.records.push_back(placement);
        image.bytes += bytes;
    }
    if (options.padTail && !image.records.empty()) {
        const size_t windowEnd = static_cast<size_t>(image.records.back().start) + kReadWindow;
        if (image.bytes.size() < windowEnd) image.bytes.resize(windowEnd, '\0');
    }
    if (options.truncateAt && *options.truncateAt < image.bytes.size())
        image.bytes.resize(*options.truncateAt);
    return image;
}

void WriteBytes(const std::filesystem::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path.string());
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

SiteFileImage WriteSiteFile(const std::filesystem::path &path, const std::string &siteName,
                            const std::vector<SiteRecord> &records,
                            const SiteFileOptions &options) {
    SiteFileImage image = BuildSiteFile(siteName, records, options);
    WriteBytes(path, image.bytes);
    return image;
}

SiteRecord OkRecord(const std::string &url, const std::string &body,
                    const std::string &contentType) {
    SiteRecord record;
    record.url = url;
    record.header = "HTTP/1.0 200 OK\r\nContent-Type: " + contentType +
                    "\r\nContent-Length: " + std::to_string(body.size());
    record.body = body;
    return record;
}

} // namespace qvork_test
