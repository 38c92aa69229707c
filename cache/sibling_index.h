// An index of the tree under construction, by parent and name, so a URL
// component finds its sibling in constant time however wide the folder.
// It lives only while a site file is read: built as nodes are made, dropped
// when the walk ends. It never changes the tree; siblings keep their order.
#ifndef QVORK_CACHE_SIBLING_INDEX_H
#define QVORK_CACHE_SIBLING_INDEX_H

#include <stddef.h>
#include <stdint.h>

#include "host/plugin_state.h"

// Starts an empty index; FALSE when it cannot be allocated (callers then
// walk the sibling chains instead).
// `expected`: about how many nodes the load will make; the table is sized
// for them at once, so it need not grow (holding two tables) on the way.
int OpenSiblingIndex(uint32_t expected);
int SiblingIndexOpen(void);
// Slots looked at by lookups and insertions since the index was opened:
// a few per call while names spread well, whoever chose them.
uint64_t SiblingIndexProbes(void);
// The child of `parent` (NULL: the top level) named `name` (length bytes),
// or NULL.
struct SiteNode *FindIndexedChild(const struct SiteNode *parent, const char *name, size_t length);
// The last child of `parent`, or NULL when it has none.
struct SiteNode *LastIndexedChild(const struct SiteNode *parent);
// Records `child` as the newest (last) child of `parent`. FALSE when the
// index could not grow; it is then closed.
int IndexChild(const struct SiteNode *parent, struct SiteNode *child);
void CloseSiblingIndex(void);

#endif
