// What a path given by the user stands for: a NetSonic cache folder (the
// folder holding "icache", or a folder of site files itself) or one site
// file, recognised by its header. Used by OpenFilePlugin and by the command
// line ("vork:PATH"); NetSonic's registry value is not consulted.
#ifndef QVORK_CACHE_OPEN_PATH_H
#define QVORK_CACHE_OPEN_PATH_H

#include "host/plugin_state.h"

enum OpenPathKind { OPEN_PATH_NONE, OPEN_PATH_FOLDER, OPEN_PATH_SITE_FILE };

// TRUE when the first `size` bytes of a file are a site file's header: the
// magic, and a name length of 0 or more whose first characters (as many
// as `siteName` holds) lie within the bytes. The name
// is copied into `siteName` (at most nameSize - 1 characters, terminated).
BOOL ReadSiteFileHeader(const unsigned char *data, LONG size, char *siteName, size_t nameSize);

// Splits a file path at its last "\" or "/" into the folder (with the
// separator; ".\\" for a bare name) and the name. FALSE when either part
// does not fit or the name is empty.
BOOL SplitFilePath(const char *path, char *folder, size_t folderSize, char *name, size_t nameSize);

// Classifies `path`. For a folder, `folder` receives the folder of the site
// files, ending in a separator; for a site file, `folder`, `siteFile` (its
// name) and `siteName` (from its header). Each buffer's size is the one
// OwnPanel gives it.
enum OpenPathKind ClassifyOpenPath(const char *path, char *folder, char *siteFile,
                                   char *siteName);

#endif
