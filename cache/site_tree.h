// Reading one site file into the tree of its URL path components. Only
// names and the header and body positions of each file are kept; the site
// file is opened again whenever data is copied out.
#ifndef QVORK_CACHE_SITE_TREE_H
#define QVORK_CACHE_SITE_TREE_H

#include "cache/site_reader.h"
#include "host/plugin_state.h"

#define INDEX_FILE_NAME "index.htm"

// Enters a site: reads the site file of `item` (or of the held item named
// `dirName`, or of the panel's current item) into PluginState.TreeRoot under
// a synthetic site node, puts that node on the navigation stack and rebuilds
// the directory text. FALSE when no site was entered.
int LoadSiteTree(HANDLE handle, struct PluginPanelItem *item, const char *dirName, int opMode);
// TRUE when the latest LoadSiteTree read its site file.
int SiteFileWasRead(void);
// Inserts one URL into the sibling chain starting at `node`; returns the
// first node it created (NULL for none) and sets LastLeaf for a new leaf.
struct SiteNode *InsertPath(struct SiteNode *node, const char *text);
// Frees `node`, its descendants and its following siblings with theirs.
void FreeTree(struct SiteNode *node);

#endif
