// The registry side of the host: which registry file is in use (the
// platform layer says), why it cannot be written, and storing the NetSonic
// cache location there (the plug-in's "CachePath" value, REG_SZ), through the
// same registry layer the plug-in reads it with.
#ifndef QVORK_HOSTS_CACHE_LOCATION_H
#define QVORK_HOSTS_CACHE_LOCATION_H

#include <string>

namespace qvork_host {

// The registry file the layer uses: $QVORK_REGISTRY, else
// $XDG_CONFIG_HOME/qvork/registry.reg (when absolute), else
// ~/.config/qvork/registry.reg.
std::string RegistryFileInUse();

// Why the registry file in use is not written ("/dev/null is a character
// device, not a registry file"), or "" when nothing keeps it from being.
std::string RegistryFileProblem();

// Stores `folder`, made absolute, as "CachePath". `stored` receives the
// value written; false with `error` set when the registry refuses.
bool StoreCacheFolder(const std::string &folder, std::string &stored, std::string &error);

// What keeps the plug-in from listing any site, said with how to set the
// cache: no "CachePath", one it cannot use, or no icache folder in it. ""
// when the cache folder is there. `givenForRun`: the folder came from
// --cache, not from the registry file.
std::string CacheProblem(bool givenForRun);

// For this run only: a private copy of the registry file in use with
// `folder` as "CachePath", made the registry file in use (QVORK_REGISTRY).
// The copy goes when the object does; the values the plug-in changed in it
// meanwhile are written to the registry file (not the copy's CachePath).
class RunCache {
public:
    RunCache() = default;
    ~RunCache();
    RunCache(const RunCache &) = delete;
    RunCache &operator=(const RunCache &) = delete;
    bool Use(const std::string &folder, std::string &error);
    // Puts what the plug-in saved in the copy since the last call into the
    // registry file; false with `error` when it could not be written.
    bool Keep(std::string &error);
    const std::string &Registry() const { return registry_; }
    // A failed Keep was told to the user: the end of the run tries again
    // without a word.
    void FailureTold() { failureTold_ = true; }

private:
    std::string folder_;   // the private folder holding the copy
    std::string registry_; // the registry file in use before
    std::string snapshot_; // the copy's text as last kept in the registry file
    bool failureTold_ = false;
};
// Settings saved during a run on --cache DIR (into that run's copy of the
// registry file) go to the registry file now, not only when the run ends;
// true at once without such a run. `error` says why they could not.
bool KeepRunSettings(std::string &error);
// The registry file that keeps the settings: the one in use, or, in a run
// on --cache DIR, the one its copy came from.
std::string SettingsFile();

// Reads "CachePath" as stored (the folder that holds "icache"); false with
// `error` set when there is none.
bool ReadCacheFolder(std::string &folder, std::string &error);

// The longest "CachePath" the plug-in takes: "\icache\" and a file name are
// appended to it in a 250-byte buffer.
constexpr size_t kLongestCachePath = 241;

} // namespace qvork_host

#endif
