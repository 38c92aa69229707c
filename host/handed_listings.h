// The in-site listings GetFindData hands to the host. They are not held by
// the plug-in state; FreeFindData gives each back, once. Remembering them
// lets FreeFindData refuse anything else (the held root listing, an array
// already released) and lets unloading free what a host never gave back.
#ifndef QVORK_HOST_HANDED_LISTINGS_H
#define QVORK_HOST_HANDED_LISTINGS_H

#include "host/far_abi.h"

void RememberListing(struct PluginPanelItem *items);
// TRUE, forgetting it, when `items` was handed out and not yet given back.
int ForgetListing(struct PluginPanelItem *items);
// Frees every listing handed out and not yet given back.
void ReleaseHandedListings(void);

#endif
