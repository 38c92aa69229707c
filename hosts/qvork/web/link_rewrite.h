// Rewriting the links of one HTML page or CSS sheet, and nothing else: each
// link value is handed to a map, and where the map gives a new value only
// that value's bytes change; every other byte stays as it was. HTML is
// parsed with gumbo, which reports where each attribute value and each
// text lies in the source.
#ifndef QVORK_HOSTS_WEB_LINK_REWRITE_H
#define QVORK_HOSTS_WEB_LINK_REWRITE_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvork_host {

// A link as written (entities decoded) -> its new value, or none to keep it.
using LinkMap = std::function<std::optional<std::string>(const std::string &)>;

// HTML: href, src, srcset, action, poster, background, data, the URL of a
// <meta http-equiv="refresh">, inline style attributes and <style> sheets.
std::string RewriteHtml(const std::string &page, const LinkMap &map);

// RewriteHtml in two steps, so that pages can be parsed before the map is
// known: where a page's link-bearing values lie, and those values changed
// by a map in the very bytes they were found in.
struct LinkSpot {
    enum Kind { kUrl, kSrcset, kRefresh, kStyle, kSheet };
    Kind kind;
    size_t offset; // of the value as written (quotes included), or of the sheet
    size_t length;
    std::string value; // the attribute's value with entities decoded, or the sheet
};
std::vector<LinkSpot> FindHtmlLinks(const std::string &page);
std::string ApplyHtmlLinks(const std::string &page, const std::vector<LinkSpot> &spots,
                           const LinkMap &map);

// CSS: url(...) and @import "...".
std::string RewriteCss(const std::string &sheet, const LinkMap &map);

} // namespace qvork_host

#endif
