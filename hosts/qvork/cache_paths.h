// PATH arguments of the command line: a site name as the root listing shows
// it, then folder and file names separated by "/". A site name may itself
// hold "/", so the split is made against the root listing: the longest
// listed site name that the path starts with (followed by its end or "/").
#ifndef QVORK_HOSTS_CACHE_PATHS_H
#define QVORK_HOSTS_CACHE_PATHS_H

#include <string>
#include <vector>

#include "hosts/qvork/session.h"

namespace qvork_host {

struct CachePath {
    std::string text;               // as given
    std::string site;               // empty: the cache root itself
    int siteIndex = -1;             // the site's item in the root listing
    std::vector<std::string> names; // folder and file names below the site
    bool endsWithSlash = false;     // "site/img/": the last name is a folder
    bool siteIsTop = false;         // a panel on a site file: the names start at its top

    // The folder that holds the named item: the site and all names but the
    // last ("" site for an item at the root).
    std::string ParentText() const;
    // The named item itself: the last name, or the site.
    std::string LeafName() const;
};

enum class PathStatus { kOk, kNotFound, kInvalid };

// Splits `text` against the root listing that `root` holds (it must be at
// the cache root). On a panel opened on a site file, `text` names folders
// and files from the site's top, without the site name. kNotFound when no visible site matches, kInvalid for a
// "." or ".." name; `error` says which.
PathStatus SplitCachePath(const Session &root, const std::string &text, CachePath &path,
                          std::string &error);

// From the cache root: SetDirectory with the site name (with the site as the
// current item, as the file manager has it when the user presses Enter on
// it), then with each of the first `depth` names. False with `error` naming
// the site or name the plug-in refused.
bool WalkInto(Session &session, const CachePath &path, size_t depth, std::string &error);

} // namespace qvork_host

#endif
