// Moving through a site's tree for the host's SetDirectory, and listing the
// folder on top of the navigation stack.
#ifndef QVORK_BROWSE_SITE_NAVIGATION_H
#define QVORK_BROWSE_SITE_NAVIGATION_H

#include "host/plugin_state.h"

// The number of children of the folder shown (the navigation stack's top).
int CountSiteChildren(void);
// Fills one item per child of the folder shown, from ListingCursor on,
// never past ListingEnd.
void FillSiteListing(void);

#endif
