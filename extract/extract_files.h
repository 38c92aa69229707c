// Copying stored bodies out of the cache to a disk folder: a file item
// becomes one file, a folder inside a site a folder tree, a site at the
// cache root a folder named after the site holding its whole tree.
#ifndef QVORK_EXTRACT_EXTRACT_FILES_H
#define QVORK_EXTRACT_EXTRACT_FILES_H

#include <stdio.h>

#include "host/plugin_state.h"

#define DEST_PATH_SIZE 2048
#define COPY_CHUNK_SIZE 50000

// Writes the node's stored body to the file at `path`, a DEST_PATH_SIZE
// buffer. 1 when the whole body was written, else 0 after telling the user.
int ExtractFile(struct SiteNode *node, char *path, FILE *site);
// Writes the node's stored header to `output`, the new temporary file at
// `path` (named in a failure message), and closes `output`. 1 when the whole
// header was written, else 0 after telling the user.
int WriteStoredHeader(struct SiteNode *node, FILE *output, const char *path, FILE *site);
// Creates the folder at `path` and writes everything under `node` into it.
int ExtractFolder(struct SiteNode *node, char *path, FILE *site);
// Loads the site of a root item, writes its whole tree to `path`, and
// leaves the panel at the cache root again.
int ExtractSite(HANDLE hPlugin, struct PluginPanelItem *item, char *path, int opMode);

#endif
