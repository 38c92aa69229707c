// Operations on the panel state that other subsystems share.
#ifndef QVORK_HOST_PANEL_STATE_H
#define QVORK_HOST_PANEL_STATE_H

#include "host/plugin_state.h"

// Back to the cache root: CurrentSite 0 and the tree released. The held root
// listing stays, so it is shown again without a new scan.
void LeaveSite(void);
// The panel's current item as the host reports it, or NULL.
struct PluginPanelItem *GetCurrentPanelItem(HANDLE handle);

#endif
