// Where NetSonic names its cache folder: the registry value the plug-in
// reads under HKEY_LOCAL_MACHINE. NetSonic writes it; so does a host that
// points the plug-in at a cache of its choosing.
#ifndef QVORK_HOST_NETSONIC_H
#define QVORK_HOST_NETSONIC_H

#define NETSONIC_KEY "SOFTWARE\\web3000\\netsonic"
#define NETSONIC_CACHE_PATH_VALUE "CachePath"

#endif
