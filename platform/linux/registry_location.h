// Where the Linux layer keeps the registry, for the registry functions and
// for a host that tells its user which file it uses or why a save failed.
#ifndef QVORK_PLATFORM_LINUX_REGISTRY_LOCATION_H
#define QVORK_PLATFORM_LINUX_REGISTRY_LOCATION_H

#include <stddef.h>

#include "platform/win32.h"

#define REGISTRY_FILE_PATH_SIZE 4096 // room for any path LocateRegistryFile gives

// The registry file's path (`size` bytes of room), from the environment as
// it is now: $QVORK_REGISTRY, else $XDG_CONFIG_HOME/qvork/registry.reg (an
// absolute XDG_CONFIG_HOME only), else ~/.config/qvork/registry.reg.
// ERROR_PATH_NOT_FOUND without a home folder, ERROR_FILENAME_EXCED_RANGE
// when the path does not fit.
LONG LocateRegistryFile(char *path, size_t size);

// Whether the registry functions would rewrite the file at `path`:
// ERROR_SUCCESS for a REGEDIT4 file, an empty file or nothing there yet;
// ERROR_ACCESS_DENIED for a folder, device, FIFO or socket; ERROR_BADDB for
// a file that does not start with the line REGEDIT4 (after an optional
// byte-order mark and white space); else the error of reading it. `why`
// receives a phrase for a message ("is a FIFO, not a registry file"), or ""
// when there is nothing to say. Opens nothing that could block.
LONG CheckRegistryFile(const char *path, const char **why);

#endif
