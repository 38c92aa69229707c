// Stored header fields and HTTP dates.
#include "hosts/qvork/web/http_header.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qvork_host {

namespace {

std::string Trimmed(const std::string &text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && (text[start] == ' ' || text[start] == '\t')) {
        ++start;
    }
    while (end > start && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(start, end - start);
}

// 0-11 for "Jan".."Dec", -1 otherwise.
int MonthOf(const char *name) {
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (strncasecmp(name, kMonths[i], 3) == 0 && name[3] == '\0') {
            return i;
        }
    }
    return -1;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 0-11).
long long DaysFromCivil(long long year, int month, int day) {
    const int m = month + 1;
    year -= m <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yoe = year - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::optional<time_t> Compose(int year, int month, int day, int hour, int minute, int second) {
    if (month < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0 || year < 1601 || year > 9999) {
        return std::nullopt;
    }
    const long long days = DaysFromCivil(year, month, day);
    return static_cast<time_t>(days * 86400 + hour * 3600 + minute * 60 + second);
}

} // namespace

std::string HttpHeader::Field(const std::string &name) const {
    for (const auto &field : fields) {
        if (strcasecmp(field.first.c_str(), name.c_str()) == 0) {
            return field.second;
        }
    }
    return std::string();
}

bool HttpHeader::Has(const std::string &name) const {
    for (const auto &field : fields) {
        if (strcasecmp(field.first.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

HttpHeader ParseHttpHeader(const std::string &text) {
    HttpHeader header;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (first) {
            first = false;
            int code = 0;
            int end = 0;
            char version[16];
            if (std::sscanf(line.c_str(), "HTTP/%15s %3d%n", version, &code, &end) == 2 && code >= 100 &&
                code <= 999 && !std::isdigit(static_cast<unsigned char>(line[static_cast<size_t>(end)]))) {
                header.status = code;
            }
            continue;
        }
        if (line.empty()) {
            break;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !header.fields.empty()) {
            header.fields.back().second += " " + Trimmed(line);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            continue;
        }
        header.fields.emplace_back(Trimmed(line.substr(0, colon)), Trimmed(line.substr(colon + 1)));
    }
    return header;
}

namespace {

// The digits of value[at, at + count) as a number; -1 unless all are digits.
int DigitsAt(const std::string &value, size_t at, size_t count) {
    int number = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (value[i] < '0' || value[i] > '9') {
            return -1;
        }
        number = number * 10 + (value[i] - '0');
    }
    return number;
}

// The usual form exactly, "Sun, 06 Nov 1994 08:49:37 GMT", read without
// sscanf (ls -l reads one date a file); false for anything else, which the
// general reading below then takes.
bool ReadUsualDate(const std::string &value, std::optional<time_t> &when) {
    static const char kShape[] = "Aaa, 00 Aaa 0000 00:00:00 GMT";
    if (value.size() != sizeof(kShape) - 1) {
        return false;
    }
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const char shape = kShape[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool fits = shape == '0'                  ? c >= '0' && c <= '9'
                          : shape == 'A' || shape == 'a' ? letter
                                                         : c == shape;
        if (!fits) {
            return false;
        }
    }
    const std::string month = value.substr(8, 3);
    when = Compose(DigitsAt(value, 12, 4), MonthOf(month.c_str()), DigitsAt(value, 5, 2),
                   DigitsAt(value, 17, 2), DigitsAt(value, 20, 2), DigitsAt(value, 23, 2));
    return true;
}

} // namespace

std::optional<time_t> ParseHttpDate(const std::string &text) {
    const std::string value = Trimmed(text);
    std::optional<time_t> usual;
    if (ReadUsualDate(value, usual)) {
        return usual;
    }
    char weekday[16] = {0};
    char month[8] = {0};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char zone[8] = {0};
    int used = 0;
    // RFC 1123: "Sun, 06 Nov 1994 08:49:37 GMT"
    if (std::sscanf(value.c_str(), "%15[A-Za-z], %2d %3s %4d %2d:%2d:%2d %7s%n", weekday, &day,
                    month, &year, &hour, &minute, &second, zone, &used) == 8 &&
        used == static_cast<int>(value.size()) && std::strcmp(zone, "GMT") == 0) {
        return Compose(year, MonthOf(month), day, hour, minute, second);
    }
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
    used = 0;
    if (std::sscanf(value.c_str(), "%15[A-Za-z], %2d-%3[A-Za-z]-%4d %2d:%2d:%2d %7s%n", weekday,
                    &day, month, &year, &hour, &minute, &second, zone, &used) == 8 &&
        used == static_cast<int>(value.size()) && std::strcmp(zone, "GMT") == 0) {
        if (year < 100) {
            year += year < 70 ? 2000 : 1900;
        }
        return Compose(year, MonthOf(month), day, hour, minute, second);
    }
    // asctime: "Sun Nov  6 08:49:37 1994"
    used = 0;
    if (std::sscanf(value.c_str(), "%15[A-Za-z] %3s %2d %2d:%2d:%2d %4d%n", weekday, month, &day,
                    &hour, &minute, &second, &year, &used) == 7 &&
        used == static_cast<int>(value.size())) {
        return Compose(year, MonthOf(month), day, hour, minute, second);
    }
    return std::nullopt;
}

std::string IsoDate(time_t when) {
    // By hand: strftime reads the time zone file at every call.
    struct tm parts;
    char text[48];
    if (gmtime_r(&when, &parts) == nullptr) {
        return std::string();
    }
    const int year = parts.tm_year + 1900;
    if (year < 0 || year > 9999) {
        std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02dZ", year,
                      parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
        return text;
    }
    // "YYYY-MM-DDThh:mm:ssZ" digit by digit: ls -l writes one a file.
    std::string out = "0000-00-00T00:00:00Z";
    auto put = [&out](size_t at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) {
            out[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        }
    };
    put(0, year, 4);
    put(5, parts.tm_mon + 1, 2);
    put(8, parts.tm_mday, 2);
    put(11, parts.tm_hour, 2);
    put(14, parts.tm_min, 2);
    put(17, parts.tm_sec, 2);
    return out;
}

std::vector<std::string> HeaderTokens(const std::string &value) {
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) {
            end = value.size();
        }
        std::string token = Trimmed(value.substr(start, end - start));
        for (char &c : token) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (!token.empty()) {
            tokens.push_back(token);
        }
        start = end + 1;
    }
    return tokens;
}

} // namespace qvork_host
