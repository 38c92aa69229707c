// The in-site listings GetFindData hands to the host. They are not held by
// the plug-in state; FreeFindData gives each back, once. Remembering them
// lets FreeFindData refuse anything else (the held root listing, an array
// already released) and lets unloading free what a host never gave back.
// Each open panel's latest listing (root or in-site) is also remembered: a
// root listing the plug-in has dropped may be freed once no open panel was
// last given it, since a panel shows only what it read last.
#ifndef QVORK_HOST_HANDED_LISTINGS_H
#define QVORK_HOST_HANDED_LISTINGS_H

#include "host/far_abi.h"

void RememberListing(struct PluginPanelItem *items);
// TRUE, forgetting it, when `items` was handed out and not yet given back.
int ForgetListing(struct PluginPanelItem *items);
// Frees every listing handed out and not yet given back.
void ReleaseHandedListings(void);

// The panels opened and not yet closed, and what each was last given.
void PanelOpened(HANDLE handle);
void PanelClosed(HANDLE handle);
void PanelGiven(HANDLE handle, const struct PluginPanelItem *items);
// TRUE when an open panel may still show `items`: one was last given them,
// or one is not known here (more panels than the table holds).
int ListingShown(const struct PluginPanelItem *items);

#endif
