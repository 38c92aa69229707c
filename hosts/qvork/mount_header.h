// The facts of one stored HTTP response header that the mount shows: the
// status, Content-Type, and the time a file gets (Last-Modified, else Date).
// The header comes from the cache: any of it may be missing or malformed.
#ifndef QVORK_HOSTS_MOUNT_HEADER_H
#define QVORK_HOSTS_MOUNT_HEADER_H

#include <ctime>
#include <optional>
#include <string>

namespace qvork_host {

struct HeaderFacts {
    std::string text;        // the header as the header view shows it
    std::string status;      // "200"; "" when the status line holds none
    std::string contentType; // "" when absent
    std::string contentEncoding;  // "" when absent
    std::string transferEncoding; // "" when absent
    std::optional<time_t> time; // Last-Modified, else Date; none when neither parses
};

HeaderFacts ParseHeaderFacts(const std::string &text);

} // namespace qvork_host

#endif
