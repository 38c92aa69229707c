// Reading the status, Content-Type and dates out of a stored header.
#include "hosts/qvork/mount_header.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace qvork_host {

namespace {

std::string Trimmed(const std::string &text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// The value of the first field `name` (case-insensitive), "" when absent.
std::string FieldValue(const std::string &text, const char *name) {
    const size_t length = std::strlen(name);
    size_t start = text.find('\n');
    while (start != std::string::npos) {
        ++start;
        size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (line.size() > length && line[length] == ':' &&
            strncasecmp(line.c_str(), name, length) == 0) {
            return Trimmed(line.substr(length + 1));
        }
        start = end;
    }
    return std::string();
}

} // namespace

bool ParseHttpDate(const std::string &text, time_t &time) {
    static const char *const kForms[] = {"%a, %d %b %Y %H:%M:%S", "%A, %d-%b-%y %H:%M:%S",
                                         "%a %b %d %H:%M:%S %Y"};
    for (const char *form : kForms) {
        struct tm parts;
        std::memset(&parts, 0, sizeof(parts));
        const char *end = strptime(text.c_str(), form, &parts);
        if (end == nullptr) {
            continue;
        }
        while (*end == ' ') {
            ++end;
        }
        if (*end != '\0' && strcasecmp(end, "GMT") != 0 && strcasecmp(end, "UTC") != 0) {
            continue;
        }
        time = timegm(&parts);
        return time != static_cast<time_t>(-1);
    }
    return false;
}

HeaderFacts ParseHeaderFacts(const std::string &text) {
    HeaderFacts facts;
    facts.text = text;
    // "HTTP/1.1 200 OK": the second word, when it is three digits.
    const size_t space = text.find(' ');
    const size_t lineEnd = text.find_first_of("\r\n");
    if (text.compare(0, 5, "HTTP/") == 0 && space != std::string::npos && space < lineEnd &&
        space + 4 <= text.size()) {
        const std::string code = text.substr(space + 1, 3);
        const char after = space + 4 < text.size() ? text[space + 4] : ' ';
        if (std::isdigit(static_cast<unsigned char>(code[0])) &&
            std::isdigit(static_cast<unsigned char>(code[1])) &&
            std::isdigit(static_cast<unsigned char>(code[2])) &&
            std::isspace(static_cast<unsigned char>(after))) {
            facts.status = code;
        }
    }
    facts.contentType = FieldValue(text, "Content-Type");
    if (!ParseHttpDate(FieldValue(text, "Last-Modified"), facts.time) &&
        !ParseHttpDate(FieldValue(text, "Date"), facts.time)) {
        facts.time = 0;
    }
    return facts;
}

} // namespace qvork_host
