// Finding the NetSonic cache: its "CachePath" registry value with
// "\icache\" appended becomes PluginState.CacheFolder.
#ifndef QVORK_CACHE_CACHE_FOLDER_H
#define QVORK_CACHE_CACHE_FOLDER_H

#include "host/netsonic.h"

#define CACHE_SUBFOLDER "\\icache\\"

// Reads the value afresh; on any failure (no key, no value, a value that
// does not fit) the previous CacheFolder stays.
void LookUpCacheFolder(void);

#endif
