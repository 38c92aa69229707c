// The node pool (see node_pool.h). Node blocks hold SiteNodes only, so a
// node's handle is its block number and its index in the block; names live
// in blocks of their own, packed without padding.
#include "cache/node_pool.h"

#include <stdlib.h>
#include <string.h>

namespace {

#define POOL_BLOCKS 16 // block 15 holds 2^25 nodes: a handle stays below 2^30
#define NODE_BLOCK_SHIFT 10 // the first node block holds 1024 nodes; each next twice as many
#define NAME_BLOCK_SIZE 65536

struct NodeBlocks {
    struct SiteNode *block[POOL_BLOCKS];
    uint32_t capacity[POOL_BLOCKS];
    int count;     // blocks in use
    uint32_t used; // nodes taken from the last block
};

struct NameBlock {
    struct NameBlock *next;
    size_t size;
    size_t used;
    char text[1];
};

struct NodeBlocks Nodes;
uint32_t FirstBlockNodes = 1u << NODE_BLOCK_SHIFT;
struct NameBlock *Names;
int NameBlockCount; // name blocks grow with their number, so there are few

BOOL AddNodeBlock(void)
{
    if (Nodes.count == POOL_BLOCKS)
        return FALSE;
    uint32_t capacity = Nodes.count == 0 ? FirstBlockNodes : 1u << (NODE_BLOCK_SHIFT + Nodes.count);
    struct SiteNode *block = (struct SiteNode *)calloc(capacity, sizeof *block);
    if (block == NULL)
        return FALSE;
    Nodes.block[Nodes.count] = block;
    Nodes.capacity[Nodes.count] = capacity;
    Nodes.count++;
    Nodes.used = 0;
    return TRUE;
}

BOOL AddNameBlock(size_t need)
{
    size_t size = (size_t)NAME_BLOCK_SIZE << (NameBlockCount < 2 ? NameBlockCount : 2);
    if (size < need)
        size = need;
    struct NameBlock *block = (struct NameBlock *)malloc(offsetof(struct NameBlock, text) + size);
    if (block == NULL)
        return FALSE;
    block->next = Names;
    block->size = size;
    block->used = 0;
    Names = block;
    NameBlockCount++;
    return TRUE;
}

} // namespace

void PoolReserve(uint32_t nodes)
{
    if (Nodes.count != 0)
        return;
    if (nodes < (1u << NODE_BLOCK_SHIFT))
        nodes = 1u << NODE_BLOCK_SHIFT;
    if (nodes > (1u << 25))
        nodes = 1u << 25;
    FirstBlockNodes = nodes;
}

struct SiteNode *PoolNewNode(void)
{
    if (Nodes.count == 0 || Nodes.used == Nodes.capacity[Nodes.count - 1]) {
        if (!AddNodeBlock())
            return NULL;
    }
    return &Nodes.block[Nodes.count - 1][Nodes.used++];
}

char *PoolCopyName(const char *text, size_t length)
{
    if (Names == NULL || Names->size - Names->used < length + 1) {
        if (!AddNameBlock(length + 1))
            return NULL;
    }
    char *copy = Names->text + Names->used;
    memcpy(copy, text, length);
    copy[length] = 0;
    Names->used += length + 1;
    return copy;
}

int PoolHoldsNode(const void *memory)
{
    const char *p = (const char *)memory;
    for (int i = 0; i < Nodes.count; i++) {
        const char *start = (const char *)Nodes.block[i];
        size_t size = (size_t)Nodes.capacity[i] * sizeof(struct SiteNode);
        if (p >= start && p < start + size)
            return (size_t)(p - start) % sizeof(struct SiteNode) == 0;
    }
    return FALSE;
}

uint32_t PoolHandleOf(const struct SiteNode *node)
{
    // Newest block first: a load asks mostly about the nodes it just made.
    for (int i = Nodes.count - 1; i >= 0; i--) {
        const struct SiteNode *start = Nodes.block[i];
        if (node >= start && node < start + Nodes.capacity[i])
            return ((uint32_t)i << 26) | (uint32_t)(node - start);
    }
    return NO_NODE_HANDLE;
}

struct SiteNode *PoolNodeOf(uint32_t handle)
{
    uint32_t block = handle >> 26;
    uint32_t index = handle & ((1u << 26) - 1);
    if (handle == NO_NODE_HANDLE || block >= (uint32_t)Nodes.count || index >= Nodes.capacity[block])
        return NULL;
    return &Nodes.block[block][index];
}

void PoolRelease(void)
{
    for (int i = 0; i < Nodes.count; i++)
        free(Nodes.block[i]);
    memset(&Nodes, 0, sizeof Nodes);
    FirstBlockNodes = 1u << NODE_BLOCK_SHIFT;
    while (Names != NULL) {
        struct NameBlock *next = Names->next;
        free(Names);
        Names = next;
    }
    NameBlockCount = 0;
}
