// The mount's facts of a stored header, read with the console host's HTTP
// header parser.
#include "hosts/qvork/mount_header.h"

#include "hosts/qvork/web/http_header.h"

namespace qvork_host {

HeaderFacts ParseHeaderFacts(const std::string &text) {
    HeaderFacts facts;
    facts.text = text;
    const HttpHeader header = ParseHttpHeader(text);
    if (header.status >= 100 && header.status <= 999) {
        facts.status = std::to_string(header.status);
    }
    facts.contentType = header.Field("Content-Type");
    facts.contentEncoding = header.Field("Content-Encoding");
    facts.transferEncoding = header.Field("Transfer-Encoding");
    std::optional<time_t> when = ParseHttpDate(header.Field("Last-Modified"));
    if (!when) {
        when = ParseHttpDate(header.Field("Date"));
    }
    facts.time = when;
    return facts;
}

} // namespace qvork_host
