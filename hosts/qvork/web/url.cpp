// Reference resolution and relative links.
#include "hosts/qvork/web/url.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hosts/qvork/web/text_escape.h"

namespace qvork_host {

namespace {

// The length of the scheme and its ":", or 0 when `text` has none.
size_t SchemeLength(const std::string &text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return 0;
    }
    for (size_t i = 1; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ':') {
            return i + 1;
        }
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

std::string Lower(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string RemoveDotSegments(const std::string &path) {
    std::vector<std::string> out;
    size_t start = 0;
    const bool absolute = !path.empty() && path[0] == '/';
    bool trailing = false;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string segment = path.substr(start, end - start);
        trailing = segment == "." || segment == "..";
        if (segment == "..") {
            if (!out.empty()) {
                out.pop_back();
            }
        } else if (segment != "." && !(segment.empty() && start == 0 && absolute)) {
            out.push_back(segment);
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < out.size(); ++i) {
        result += (i == 0 ? "" : "/") + out[i];
    }
    if (trailing && (result.empty() || result.back() != '/')) {
        result += "/";
    }
    return result;
}

} // namespace

std::string NormalizedKey(const std::string &key) {
    std::string out;
    out.reserve(key.size());
    for (size_t i = 0; i < key.size(); ++i) {
        const int high = i + 2 < key.size() && key[i] == '%' ? HexDigitValue(key[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(key[i + 2]) : -1;
        if (low < 0) {
            out += key[i];
            continue;
        }
        const char byte = static_cast<char>(high * 16 + low);
        // These keep their escapes: decoded, they would split the URL anew.
        if (byte == '/' || byte == '?' || byte == '#' || byte == '%') {
            out += '%';
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(key[i + 1])));
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(key[i + 2])));
        } else {
            out += byte;
        }
        i += 2;
    }
    return out;
}

std::string ResolveReference(const std::string &base, const std::string &reference) {
    if (SchemeLength(reference) != 0) {
        return reference;
    }
    const size_t scheme = SchemeLength(base);
    const std::string schemeText = base.substr(0, scheme);
    if (reference.compare(0, 2, "//") == 0) {
        return schemeText + reference;
    }
    // base = scheme "//" authority path [?query] [#fragment]
    size_t pathStart = scheme;
    if (base.compare(scheme, 2, "//") == 0) {
        pathStart = base.find_first_of("/?#", scheme + 2);
        if (pathStart == std::string::npos) {
            pathStart = base.size();
        }
    }
    const std::string prefix = base.substr(0, pathStart);
    size_t pathEnd = base.find_first_of("?#", pathStart);
    if (pathEnd == std::string::npos) {
        pathEnd = base.size();
    }
    const std::string path = base.substr(pathStart, pathEnd - pathStart);
    if (reference.empty()) {
        return base.substr(0, base.find('#'));
    }
    if (reference[0] == '#') {
        return base.substr(0, base.find('#')) + reference;
    }
    if (reference[0] == '?') {
        return prefix + path + reference;
    }
    const size_t split = reference.find_first_of("?#");
    const std::string refPath = reference.substr(0, split);
    const std::string rest = split == std::string::npos ? "" : reference.substr(split);
    std::string merged;
    if (!refPath.empty() && refPath[0] == '/') {
        merged = refPath;
    } else {
        const size_t slash = path.rfind('/');
        merged = (slash == std::string::npos ? "/" : path.substr(0, slash + 1)) + refPath;
    }
    return prefix + RemoveDotSegments(merged) + rest;
}

bool KeyOnSite(const std::string &url, const std::string &site, std::string &key) {
    std::string rest;
    const std::string lower = Lower(url.substr(0, 8));
    if (lower.compare(0, 7, "http://") == 0) {
        rest = url.substr(7);
    } else if (lower.compare(0, 8, "https://") == 0) {
        rest = url.substr(8);
    } else if (url.compare(0, 2, "//") == 0) {
        rest = url.substr(2);
    } else {
        return false;
    }
    rest = rest.substr(0, rest.find('#'));
    // The host compares without regard to case, a path of the site's own
    // byte for byte; a default port is the same site.
    const size_t siteHostEnd = site.find('/');
    const std::string siteHost = Lower(site.substr(0, siteHostEnd));
    const std::string sitePath = siteHostEnd == std::string::npos ? "" : site.substr(siteHostEnd);
    size_t hostEnd = rest.find_first_of("/?");
    if (hostEnd == std::string::npos) {
        hostEnd = rest.size();
    }
    std::string host = Lower(rest.substr(0, hostEnd));
    const size_t userEnd = host.rfind('@'); // "user:password@" names no other host
    if (userEnd != std::string::npos) {
        host.erase(0, userEnd + 1);
    }
    if (siteHost.find(':') == std::string::npos) {
        for (const char *port : {":", ":80", ":443"}) { // the site's pages over either scheme
            const size_t length = std::strlen(port);
            if (host.size() > length && host.compare(host.size() - length, length, port) == 0) {
                host.resize(host.size() - length);
                break;
            }
        }
    }
    if (host.size() > 1 && host.back() == '.' && !siteHost.empty() && siteHost.back() != '.') {
        host.pop_back(); // "site.com." is the same host
    }
    if (host != siteHost) {
        return false;
    }
    std::string path = rest.substr(hostEnd);
    if (path.compare(0, sitePath.size(), sitePath) != 0) {
        return false;
    }
    path = path.substr(sitePath.size());
    if (!path.empty() && path[0] == '/') {
        path = path.substr(1);
    } else if (!path.empty() && path[0] != '?') {
        return false; // "site/pathX": another path that starts alike
    }
    key = path;
    return true;
}

std::string FragmentOf(const std::string &url) {
    const size_t hash = url.find('#');
    return hash == std::string::npos ? std::string() : url.substr(hash);
}

std::string RelativeLink(const std::string &from, const std::string &to) {
    size_t common = 0; // length of the shared folder prefix, its "/" included
    for (size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i) {
        if (from[i] == '/') {
            common = i + 1;
        }
    }
    std::string link;
    for (size_t i = common; i < from.size(); ++i) {
        if (from[i] == '/') {
            link += "../";
        }
    }
    const std::string tail = to.substr(common);
    for (unsigned char c : tail) {
        if (c <= 0x20 || c >= 0x7f || c == '%' || c == '#' || c == '?' || c == '"' ||
            c == '\'' || c == '<' || c == '>' || c == '\\') {
            char code[4];
            std::snprintf(code, sizeof(code), "%%%02X", c);
            link += code;
        } else {
            link += static_cast<char>(c);
        }
    }
    if (link.empty()) {
        link = "./";
    }
    // A first name holding ":" would read as a scheme.
    const size_t colon = link.find(':');
    if (colon != std::string::npos && link.find('/') > colon) {
        link = "./" + link;
    }
    return link;
}

} // namespace qvork_host
