// The record of a copy: one row per file written, as JSON (an array of
// objects) or TSV (a heading line, then TsvField-escaped fields).
#ifndef QVORK_HOSTS_WEB_MANIFEST_H
#define QVORK_HOSTS_WEB_MANIFEST_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvork_host {

struct ManifestRow {
    std::string url;
    std::string path; // as written, relative to the destination folder
    int status = 0;   // 0: none stored
    std::string contentType;
    uint64_t size = 0;
    std::string date; // ISO 8601, from Last-Modified, else Date; "" when none
};

// JSON when `file` ends in ".json", else TSV.
bool WantsJson(const std::string &file);
std::string ManifestText(const std::vector<ManifestRow> &rows, bool json);

// Texts from a cache are bytes, not always UTF-8: JSON gets them with each
// invalid byte as U+FFFD.
std::string JsonText(const std::string &bytes);

} // namespace qvork_host

#endif
