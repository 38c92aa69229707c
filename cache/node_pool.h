// Memory for one loaded site tree: nodes and names are carved out of a few
// large blocks and given back together when the tree's root is freed, so a
// site of 65533 files costs no allocation per node and no per-allocation
// overhead. Every block has a number, and every node a 32-bit handle, which
// the sibling index stores instead of a pointer.
#ifndef QVORK_CACHE_NODE_POOL_H
#define QVORK_CACHE_NODE_POOL_H

#include <stddef.h>
#include <stdint.h>

#include "host/plugin_state.h"

#define NO_NODE_HANDLE 0xFFFFFFFFu

// Sizes the pool's first node block for about `nodes` nodes (a load knows
// its record count before it starts), so a site costs little more than its
// nodes. Only before the first node is taken; later blocks double as before.
void PoolReserve(uint32_t nodes);
// A zero-filled node from the pool, or NULL when memory runs out.
struct SiteNode *PoolNewNode(void);
// A copy of `length` bytes of `text`, terminated, or NULL.
char *PoolCopyName(const char *text, size_t length);
// TRUE when `memory` is the start of a node slot of the pool: reading it as
// a SiteNode is safe, whatever it holds.
int PoolHoldsNode(const void *memory);
// The handle of a pool node, and back.
uint32_t PoolHandleOf(const struct SiteNode *node);
struct SiteNode *PoolNodeOf(uint32_t handle);
// Gives every block back; every node and name of the pool is gone.
void PoolRelease(void);

#endif
