// The registry side of the host: which registry file is in use, and storing
// the NetSonic cache location there ("CachePath" under HKEY_LOCAL_MACHINE
// "SOFTWARE\web3000\netsonic", REG_SZ), through the same registry layer the
// plug-in reads it with.
#ifndef QVORK_HOSTS_CACHE_LOCATION_H
#define QVORK_HOSTS_CACHE_LOCATION_H

#include <string>

namespace qvork_host {

// The registry file the layer uses: $QVORK_REGISTRY, else
// $XDG_CONFIG_HOME/qvork/registry.reg (when absolute), else
// ~/.config/qvork/registry.reg.
std::string RegistryFileInUse();

// Stores `folder`, made absolute, as "CachePath". `stored` receives the
// value written; false with `error` set when the registry refuses.
bool StoreCacheFolder(const std::string &folder, std::string &stored, std::string &error);

// Reads "CachePath" as stored (the folder that holds "icache"); false with
// `error` set when there is none.
bool ReadCacheFolder(std::string &folder, std::string &error);

// The longest "CachePath" the plug-in takes: "\icache\" and a file name are
// appended to it in a 250-byte buffer.
constexpr size_t kLongestCachePath = 241;

} // namespace qvork_host

#endif
