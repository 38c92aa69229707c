// URLs of an offline copy: resolving a link against its page, telling
// whether it points into the copied site, and the relative path from one
// written file to another.
#ifndef QVORK_HOSTS_WEB_URL_H
#define QVORK_HOSTS_WEB_URL_H

#include <string>

namespace qvork_host {

// `reference` resolved against the absolute URL `base` (RFC 3986 section 5,
// dot segments removed).
std::string ResolveReference(const std::string &base, const std::string &reference);

// For an absolute URL (http, https or scheme-relative) on site `site` (a
// host name, perhaps with a path of its own, as the cache names sites):
// true with `key` = the part after "site/", fragment cut off.
bool KeyOnSite(const std::string &url, const std::string &site, std::string &key);

// `key` (a URL's part below its site) with every percent escape of a byte
// that needs none decoded and the others in upper case, so that two ways of
// writing one URL compare equal ("a%20b" and "a b", "%7e" and "~").
std::string NormalizedKey(const std::string &key);

// The fragment of `url`, "#" included; "" when there is none.
std::string FragmentOf(const std::string &url);

// The path from the folder of file `from` to `to`, both relative to the
// same top folder with "/" between names, written as a link: bytes a
// browser would read as URL syntax (%, #, ?, space, quotes, controls,
// non-ASCII) percent-encoded.
std::string RelativeLink(const std::string &from, const std::string &to);

} // namespace qvork_host

#endif
