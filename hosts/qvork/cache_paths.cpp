// Splitting PATH arguments and walking to them through SetDirectory.
#include "hosts/qvork/cache_paths.h"

#include <algorithm>

#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

bool StartsWithSite(const std::string &text, const std::string &site) {
    return text.compare(0, site.size(), site) == 0 &&
           (text.size() == site.size() || text[site.size()] == '/');
}

std::string Quoted(const std::string &text) { return "'" + DisplayText(text) + "'"; }

// The names of `rest`, "/" separated; kInvalid for "." and "..".
PathStatus SplitNames(const std::string &rest, CachePath &path, std::string &error) {
    path.endsWithSlash = !rest.empty() && rest.back() == '/';
    for (const std::string &name : Split(rest, '/')) {
        if (name == "." || name == "..") {
            error = "a path cannot hold " + Quoted(name) + ": name the folders from the site down";
            return PathStatus::kInvalid;
        }
        if (!name.empty()) {
            path.names.push_back(name);
        }
    }
    return PathStatus::kOk;
}

} // namespace

std::string CachePath::ParentText() const {
    if (names.empty()) {
        return std::string();
    }
    std::string parent = site;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        parent += "/" + names[i];
    }
    return parent;
}

std::string CachePath::LeafName() const { return names.empty() ? site : names.back(); }

PathStatus SplitCachePath(const Session &root, const std::string &text, CachePath &path,
                          std::string &error) {
    path = CachePath{};
    path.text = text;
    if (root.OnSiteFile()) {
        path.site = root.SiteOfUrls();
        path.siteIsTop = true;
        return SplitNames(text, path, error);
    }
    if (text.empty()) {
        return PathStatus::kOk;
    }
    // A site is named by its name or by its cache file; the longest that
    // the path starts with wins, and of two as long the cache file (unique,
    // and what a shared site name asks for) wins over a site of that name.
    size_t matched = 0;
    bool byName = false;
    for (int i = 0; i < root.Count(); ++i) {
        if (root.IsHidden(i)) {
            continue;
        }
        const std::string site = root.Name(i);
        const char *file = root.Item(i).Description;
        for (const std::string &name : {site, std::string(file != nullptr ? file : "")}) {
            const bool isFile = name != site || (file != nullptr && name == file);
            if (!name.empty() && StartsWithSite(text, name) &&
                (path.siteIndex < 0 || name.size() > matched ||
                 (name.size() == matched && byName && isFile))) {
                path.site = site;
                path.siteIndex = i;
                matched = name.size();
                byName = !isFile;
            }
        }
    }
    if (path.siteIndex < 0) {
        error = "no site at the cache root matches " + Quoted(text) +
                " (qvork ls lists the sites)";
        return PathStatus::kNotFound;
    }
    if (byName) {
        std::vector<std::string> sharing;
        for (int i = 0; i < root.Count(); ++i) {
            const char *file = root.Item(i).Description;
            if (!root.IsHidden(i) && root.Name(i) == path.site) {
                sharing.push_back(file != nullptr ? file : "-");
            }
        }
        // cache2 before cache10
        std::sort(sharing.begin(), sharing.end(), [](const std::string &a, const std::string &b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        std::string files;
        for (size_t i = 0; i < sharing.size(); ++i) {
            files += (i == 0 ? "" : i + 1 == sharing.size() ? " and " : ", ") + sharing[i];
        }
        if (sharing.size() > 1) {
            error = "the site name " + Quoted(path.site) + " is shared by the cache files " +
                    files + ": name the cache file instead";
            return PathStatus::kInvalid;
        }
    }
    return SplitNames(text.substr(matched), path, error);
}

bool WalkInto(Session &session, const CachePath &path, size_t depth, std::string &error) {
    if (path.siteIndex < 0 && !path.siteIsTop) {
        return true;
    }
    if (!path.siteIsTop) {
        session.SetCurrentItem(path.siteIndex);
        if (!session.ChangeDirectory(path.site)) {
            error = "the site " + Quoted(path.site) + " could not be entered";
            return false;
        }
    }
    for (size_t i = 0; i < depth && i < path.names.size(); ++i) {
        const std::string where = session.LocationText();
        if (!session.ChangeDirectory(path.names[i])) {
            error = Quoted(path.names[i]) + " not found in " + Quoted(where);
            return false;
        }
    }
    return true;
}

} // namespace qvork_host
