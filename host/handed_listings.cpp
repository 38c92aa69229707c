// The in-site listings handed to the host (see handed_listings.h).
#include "host/handed_listings.h"

#include <stdlib.h>

namespace {

struct HandedListing {
    struct PluginPanelItem *items; // owned until FreeFindData gives it back
    struct HandedListing *next;
};

struct HandedListing *HandedListings;

} // namespace

void RememberListing(struct PluginPanelItem *items)
{
    struct HandedListing *entry = (struct HandedListing *)malloc(sizeof *entry);
    if (entry == NULL)
        return; // never released: a small leak rather than a wrong free
    entry->items = items;
    entry->next = HandedListings;
    HandedListings = entry;
}

int ForgetListing(struct PluginPanelItem *items)
{
    for (struct HandedListing **link = &HandedListings; *link != NULL; link = &(*link)->next) {
        if ((*link)->items == items) {
            struct HandedListing *entry = *link;
            *link = entry->next;
            free(entry);
            return TRUE;
        }
    }
    return FALSE;
}

void ReleaseHandedListings(void)
{
    while (HandedListings != NULL) {
        struct HandedListing *entry = HandedListings;
        HandedListings = entry->next;
        free(entry->items);
        free(entry);
    }
}
