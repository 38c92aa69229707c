// Copying stored bodies out of the cache to a disk folder: a file item
// becomes one file, a folder inside a site a folder tree, a site at the
// cache root a folder named after the site holding its whole tree.
#ifndef QVORK_EXTRACT_EXTRACT_FILES_H
#define QVORK_EXTRACT_EXTRACT_FILES_H

#include <stdio.h>

#include "host/plugin_state.h"

#define DEST_PATH_SIZE 2048
#define COPY_CHUNK_SIZE 50000

#define EXTRACT_BODY 0
#define EXTRACT_HEADER 1

// Writes the node's stored body (or, in header mode, its stored header) to
// the file at `path`, a DEST_PATH_SIZE buffer that may be cut in place.
// 1 when the whole content was written, else 0 after telling the user.
int ExtractFile(struct SiteNode *node, char *path, FILE *site, int headerMode);
// Creates the folder at `path` and writes everything under `node` into it.
int ExtractFolder(struct SiteNode *node, char *path, FILE *site);
// Loads the site of a root item, writes its whole tree to `path`, and
// leaves the panel at the cache root again.
int ExtractSite(HANDLE hPlugin, struct PluginPanelItem *item, char *path, int opMode);

#endif
