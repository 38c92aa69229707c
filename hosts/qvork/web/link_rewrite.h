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

namespace qvork_host {

// A link as written (entities decoded) -> its new value, or none to keep it.
using LinkMap = std::function<std::optional<std::string>(const std::string &)>;

// HTML: href, src, srcset, action, poster, background, data, the URL of a
// <meta http-equiv="refresh">, inline style attributes and <style> sheets.
// The page's <base href>, when it has one, is handed to `base` before any
// link, and its value becomes what `base` gives (the page's links are then
// resolved against it by `map`).
std::string RewriteHtml(const std::string &page, const LinkMap &map, const LinkMap &base = {});

// CSS: url(...) and @import "...".
std::string RewriteCss(const std::string &sheet, const LinkMap &map);

} // namespace qvork_host

#endif
