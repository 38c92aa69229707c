// The in-site listings handed to the host (see handed_listings.h).
#include "host/handed_listings.h"

#include <stdlib.h>

#include "host/plugin_state.h"

#define TRACKED_PANELS 16 // the file manager opens two; more are only counted

namespace {

struct HandedListing {
    struct PluginPanelItem *items; // owned until FreeFindData gives it back
    struct HandedListing *next;
};

struct HandedListing *HandedListings;

struct OpenPanel {
    HANDLE handle; // NULL: a free entry
    const struct PluginPanelItem *given; // the latest listing handed to it, or NULL
};

struct OpenPanel OpenPanels[TRACKED_PANELS];

struct OpenPanel *PanelOf(HANDLE handle)
{
    for (int i = 0; i < TRACKED_PANELS; i++) {
        if (handle != NULL && OpenPanels[i].handle == handle)
            return &OpenPanels[i];
    }
    return NULL;
}

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

void PanelOpened(HANDLE handle)
{
    for (int i = 0; i < TRACKED_PANELS; i++) {
        if (OpenPanels[i].handle == NULL) {
            OpenPanels[i].handle = handle;
            OpenPanels[i].given = NULL;
            return;
        }
    }
}

void PanelClosed(HANDLE handle)
{
    struct OpenPanel *panel = PanelOf(handle);
    if (panel != NULL)
        panel->handle = NULL;
}

void PanelGiven(HANDLE handle, const struct PluginPanelItem *items)
{
    struct OpenPanel *panel = PanelOf(handle);
    if (panel != NULL)
        panel->given = items;
}

int ListingShown(const struct PluginPanelItem *items)
{
    LONG known = 0;
    for (int i = 0; i < TRACKED_PANELS; i++) {
        if (OpenPanels[i].handle == NULL)
            continue;
        known++;
        if (OpenPanels[i].given == items)
            return TRUE;
    }
    return known < State.OpenPanels;
}
