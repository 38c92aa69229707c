// The sibling index (see sibling_index.h): open addressing over 32-bit pool
// handles. A child slot holds (parent, child); a tail slot holds (parent,
// last child) under the parent's handle with the tail bit set. Load stays
// at most three quarters, so every probe ends at an empty slot. Slots are
// chosen by a keyed hash with a key drawn once per process: names in a site
// file, which its writer chooses, cannot be crafted to pile up in a few slots.
#include "cache/sibling_index.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "cache/keyed_hash.h"
#include "cache/node_pool.h"

namespace {

#define TOP_LEVEL 0x40000000u // the parent handle of first-level nodes
#define TAIL_BIT 0x80000000u  // pool handles stay below 2^30
#define EMPTY_SLOT NO_NODE_HANDLE
#define INITIAL_SLOTS 1024u

struct Slot {
    uint32_t parent; // parent handle, with TAIL_BIT for a tail slot; EMPTY_SLOT when free
    uint32_t node;
};

struct Index {
    struct Slot *slots;
    uint32_t size; // a power of two
    uint32_t used;
    uint64_t probes; // slots looked at since the index was opened
};

struct Index Table;

struct HashKey Key;
BOOL KeyDrawn;

// Draws the key once. Should the system's random source fail, a mix of the
// time and of addresses (which vary between processes) is still no key an
// attacker can know in advance.
void DrawKey(void)
{
    if (KeyDrawn)
        return;
    if (!RtlGenRandom(&Key, sizeof Key)) {
        uintptr_t here = (uintptr_t)&here;
        Key.k0 = (uint64_t)time(NULL) ^ ((uint64_t)clock() << 32) ^ (uint64_t)(uintptr_t)&Table;
        Key.k1 = (uint64_t)here * 0x9E3779B97F4A7C15ull;
    }
    KeyDrawn = TRUE;
}

uint32_t ParentHandle(const struct SiteNode *parent)
{
    return parent == NULL ? TOP_LEVEL : PoolHandleOf(parent);
}

uint32_t HashName(uint32_t parent, const char *name, size_t length)
{
    return KeyedHash(&Key, parent, name, length);
}

// Keyed too: which nodes become parents is also the file's choice.
uint32_t HashTail(uint32_t parent)
{
    return KeyedHash(&Key, parent | TAIL_BIT, NULL, 0);
}

BOOL NameIs(const struct SiteNode *node, const char *name, size_t length)
{
    return strncmp(node->name, name, length) == 0 && node->name[length] == 0;
}

// The slot of (parent, name), or the empty slot where it would go.
struct Slot *ChildSlot(uint32_t parent, const char *name, size_t length)
{
    uint32_t mask = Table.size - 1;
    for (uint32_t i = HashName(parent, name, length) & mask;; i = (i + 1) & mask) {
        struct Slot *slot = &Table.slots[i];
        Table.probes++;
        if (slot->parent == EMPTY_SLOT)
            return slot;
        if (slot->parent == parent && NameIs(PoolNodeOf(slot->node), name, length))
            return slot;
    }
}

struct Slot *TailSlot(uint32_t parent)
{
    uint32_t mask = Table.size - 1;
    for (uint32_t i = HashTail(parent) & mask;; i = (i + 1) & mask) {
        struct Slot *slot = &Table.slots[i];
        Table.probes++;
        if (slot->parent == EMPTY_SLOT || slot->parent == (parent | TAIL_BIT))
            return slot;
    }
}

BOOL AllocateSlots(uint32_t size)
{
    Table.slots = (struct Slot *)malloc((size_t)size * sizeof *Table.slots);
    if (Table.slots == NULL)
        return FALSE;
    memset(Table.slots, 0xFF, (size_t)size * sizeof *Table.slots);
    Table.size = size;
    Table.used = 0;
    return TRUE;
}

void Reinsert(struct Slot entry)
{
    struct Slot *slot;
    if (entry.parent & TAIL_BIT) {
        slot = TailSlot(entry.parent & ~TAIL_BIT);
    } else {
        const struct SiteNode *node = PoolNodeOf(entry.node);
        slot = ChildSlot(entry.parent, node->name, strlen(node->name));
    }
    *slot = entry;
    Table.used++;
}

BOOL Grow(void)
{
    struct Index old = Table;
    if (old.size > 0x40000000u || !AllocateSlots(old.size * 2)) {
        Table = old;
        return FALSE;
    }
    for (uint32_t i = 0; i < old.size; i++) {
        if (old.slots[i].parent != EMPTY_SLOT)
            Reinsert(old.slots[i]);
    }
    free(old.slots);
    return TRUE;
}

} // namespace

int OpenSiblingIndex(uint32_t expected)
{
    CloseSiblingIndex();
    DrawKey();
    uint32_t size = INITIAL_SLOTS;
    // Child slots plus a few tail slots, at most three quarters full.
    while (size < 0x40000000u && (uint64_t)size * 3 < ((uint64_t)expected + 2) * 4)
        size *= 2;
    return AllocateSlots(size);
}

int SiblingIndexOpen(void)
{
    return Table.slots != NULL;
}

uint64_t SiblingIndexProbes(void)
{
    return Table.probes;
}

struct SiteNode *FindIndexedChild(const struct SiteNode *parent, const char *name, size_t length)
{
    struct Slot *slot = ChildSlot(ParentHandle(parent), name, length);
    return slot->parent == EMPTY_SLOT ? NULL : PoolNodeOf(slot->node);
}

struct SiteNode *LastIndexedChild(const struct SiteNode *parent)
{
    struct Slot *slot = TailSlot(ParentHandle(parent));
    return slot->parent == EMPTY_SLOT ? NULL : PoolNodeOf(slot->node);
}

int IndexChild(const struct SiteNode *parent, struct SiteNode *child)
{
    // Room for a child slot and a new tail slot.
    if ((Table.used + 2) * 4 > Table.size * 3 && !Grow()) {
        CloseSiblingIndex();
        return FALSE;
    }
    uint32_t parentHandle = ParentHandle(parent);
    uint32_t childHandle = PoolHandleOf(child);
    struct Slot *slot = ChildSlot(parentHandle, child->name, strlen(child->name));
    if (slot->parent == EMPTY_SLOT) {
        slot->parent = parentHandle;
        slot->node = childHandle;
        Table.used++;
    }
    slot = TailSlot(parentHandle);
    if (slot->parent == EMPTY_SLOT)
        Table.used++;
    slot->parent = parentHandle | TAIL_BIT;
    slot->node = childHandle;
    return TRUE;
}

void CloseSiblingIndex(void)
{
    free(Table.slots);
    memset(&Table, 0, sizeof Table);
}
