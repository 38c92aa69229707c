// A stored HTTP response header, as the header view shows it: the status
// line and its fields. The bytes come from a cache: any of them may be
// missing or malformed, and nothing here trusts a length or a number.
#ifndef QVORK_HOSTS_WEB_HTTP_HEADER_H
#define QVORK_HOSTS_WEB_HTTP_HEADER_H

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvork_host {

struct HttpHeader {
    int status = 0; // 0: no readable status line
    std::vector<std::pair<std::string, std::string>> fields; // in order, values trimmed

    // The first field of that name (any case); "" when there is none.
    std::string Field(const std::string &name) const;
    bool Has(const std::string &name) const;
};

// Splits `text` (lines ended by "\r\n" or "\n") into the status and fields.
// Folded lines (starting with a space or tab) continue the previous value.
HttpHeader ParseHttpHeader(const std::string &text);

// An HTTP date (RFC 1123 "Sun, 06 Nov 1994 08:49:37 GMT", RFC 850
// "Sunday, 06-Nov-94 08:49:37 GMT" or asctime "Sun Nov  6 08:49:37 1994")
// as seconds since 1970 (UTC); none for anything else.
std::optional<time_t> ParseHttpDate(const std::string &text);

// "1994-11-06T08:49:37Z".
std::string IsoDate(time_t when);

// The value's tokens, comma-separated, lower-cased and trimmed
// ("gzip, br" -> {"gzip", "br"}).
std::vector<std::string> HeaderTokens(const std::string &value);

} // namespace qvork_host

#endif
