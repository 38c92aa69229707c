// Items come back from the host long after they were listed, and with the
// plug-in open in two panels the other panel may have released what they
// refer to. Before following an item's UserData or Description, entry
// points ask here; an item that no longer refers to something alive is
// treated as absent.
#ifndef QVORK_HOST_ITEM_GUARD_H
#define QVORK_HOST_ITEM_GUARD_H

#include "host/plugin_state.h"

// The node of the loaded tree that an in-site item stands for, or NULL.
struct SiteNode *LiveNodeOf(const struct PluginPanelItem *item);
// A root item's cache file name, or NULL when it has none or when it is a
// text this plug-in has already released.
const char *LiveDescriptionOf(const struct PluginPanelItem *item);

#endif
