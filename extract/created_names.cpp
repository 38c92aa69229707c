// The created-path record (see created_names.h): an open-addressing hash
// table of path keys, grown by doubling, at most half full.
#include "extract/created_names.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "platform/file_names.h"

namespace {

#define KEY_SIZE FILE_NAME_KEY_SIZE

struct CreatedTable {
    char **slots; // NULL: free
    size_t capacity;
    size_t count;
};

struct CreatedTable Created;

uint32_t HashOf(const char *key)
{
    uint32_t hash = 2166136261u;
    for (const unsigned char *p = (const unsigned char *)key; *p != 0; p++)
        hash = (hash ^ *p) * 16777619u;
    return hash;
}

// The slot holding `key`, or the free slot where it would go.
char **SlotOf(const struct CreatedTable *table, const char *key)
{
    size_t mask = table->capacity - 1;
    for (size_t i = HashOf(key) & mask;; i = (i + 1) & mask) {
        char **slot = &table->slots[i];
        if (*slot == NULL || strcmp(*slot, key) == 0)
            return slot;
    }
}

BOOL Grow(void)
{
    struct CreatedTable larger = {NULL, Created.capacity != 0 ? Created.capacity * 2 : 256, 0};
    larger.slots = (char **)calloc(larger.capacity, sizeof *larger.slots);
    if (larger.slots == NULL)
        return FALSE;
    for (size_t i = 0; i < Created.capacity; i++) {
        if (Created.slots[i] != NULL)
            *SlotOf(&larger, Created.slots[i]) = Created.slots[i];
    }
    larger.count = Created.count;
    free(Created.slots);
    Created = larger;
    return TRUE;
}

} // namespace

BOOL RememberCreated(const char *path)
{
    char key[KEY_SIZE];
    if (!FileNameKey(path, key, sizeof key))
        return FALSE;
    if ((Created.count + 1) * 2 > Created.capacity && !Grow())
        return FALSE;
    char **slot = SlotOf(&Created, key);
    if (*slot != NULL)
        return TRUE;
    size_t size = strlen(key) + 1;
    *slot = (char *)malloc(size);
    if (*slot == NULL)
        return FALSE;
    memcpy(*slot, key, size);
    Created.count++;
    return TRUE;
}

BOOL WasCreated(const char *path)
{
    char key[KEY_SIZE];
    if (Created.count == 0 || !FileNameKey(path, key, sizeof key))
        return FALSE;
    return *SlotOf(&Created, key) != NULL;
}

void ForgetCreatedNames(void)
{
    for (size_t i = 0; i < Created.capacity; i++)
        free(Created.slots[i]);
    free(Created.slots);
    Created.slots = NULL;
    Created.capacity = 0;
    Created.count = 0;
}
