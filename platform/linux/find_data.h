// The entries a directory search hands out, as the rest of the layer fills
// them in (find_file.cpp).
#ifndef QVORK_PLATFORM_LINUX_FIND_DATA_H
#define QVORK_PLATFORM_LINUX_FIND_DATA_H

#include <sys/stat.h>

#include "platform/win32.h"

// In dwReserved1 of an entry a name search handed out with only its name and
// whether it is a folder, a file or a device: its size and times are still
// to be filled in (OpenFoundFile does, from the file it opens).
#define FIND_DATA_NAME_ONLY 0x454D414Eu

// Fills in the attributes, size and times of `findData` from `info`, as the
// search does for each entry; the name stays.
void CompleteFindData(const struct stat *info, WIN32_FIND_DATAA *findData);

#endif // QVORK_PLATFORM_LINUX_FIND_DATA_H
