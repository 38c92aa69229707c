// The position inside a site: a stack of tree nodes from the synthetic site
// node (bottom) to the folder shown (top), and the directory text built from
// it. The stack owns its entries, never the nodes.
#ifndef QVORK_BROWSE_NAV_STACK_H
#define QVORK_BROWSE_NAV_STACK_H

#include "host/plugin_state.h"

// Makes `node` the top; on allocation failure nothing changes.
void PushNavStack(struct NavStack *stack, struct SiteNode *node);
// Removes the top entry and gives its node; NULL on an empty stack.
struct SiteNode *PopNavStack(struct NavStack *stack);
// The top entry's node, NULL when the stack is empty.
struct SiteNode *TopNavStack(const struct NavStack *stack);
// Pops until an entry holding NULL was popped or the stack is empty.
void ClearNavStack(struct NavStack *stack);
// Walks top to bottom with the one shared cursor: flag 0 starts at the top
// of `stack`, any other value goes on from the cursor. NULL at the end.
struct SiteNode *NavStackNext(struct NavStack *stack, int continueWalk);
// Rebuilds PluginState.CurDirText: the names from bottom to top joined by
// "/", cut at the buffer's end.
void BuildCurDir(void);

#endif
