// The item guard (see item_guard.h). A node is alive when the item was
// listed from the tree now loaded (the tree generation in its CRC32), lies
// in that tree's node pool (memory that is safe to read) and bears the
// item's name; a tree built outside the pool is searched instead. A
// Description is dead when it is a text this plug-in released: released
// listings are retired, not freed, while a panel may still show them.
#include "host/item_guard.h"

#include <string.h>

#include "browse/nav_stack.h"
#include "cache/node_pool.h"
#include "cache/site_list.h"

namespace {

// The item's cFileName against a node's name, as the in-site listing copies
// it: at most 260 bytes, without a terminator when the name is that long.
BOOL SameName(const struct PluginPanelItem *item, const char *name)
{
    size_t field = sizeof item->FindData.cFileName;
    size_t length = strnlen(name, field);
    if (memcmp(item->FindData.cFileName, name, length) != 0)
        return FALSE;
    return length == field || item->FindData.cFileName[length] == 0;
}

BOOL InTree(const struct SiteNode *tree, const struct SiteNode *node)
{
    for (; tree != NULL; tree = tree->next) {
        if (tree == node || InTree(tree->firstChild, node))
            return TRUE;
    }
    return FALSE;
}

} // namespace

struct SiteNode *LiveNodeOf(const struct PluginPanelItem *item)
{
    struct SiteNode *node = (struct SiteNode *)item->UserData;
    if (node == NULL || !InsideSite() || State.TreeRoot == NULL)
        return NULL;
    // Listed from another tree. A host that does not hand the number back
    // (0) is judged by address and name alone.
    if (item->CRC32 != 0 && item->CRC32 != State.TreeGeneration)
        return NULL;
    if (!PoolHoldsNode(node) && !InTree(State.TreeRoot, node))
        return NULL;
    if (node->name == NULL || !SameName(item, node->name))
        return NULL;
    return node;
}

const char *LiveDescriptionOf(const struct PluginPanelItem *item)
{
    const char *text = item->Description;
    if (text == NULL)
        return NULL;
    if (IsHeldText(text))
        return text;
    // Not ours now: either released by us (dead) or the host's own copy.
    return IsRetiredText(text) ? NULL : text;
}
