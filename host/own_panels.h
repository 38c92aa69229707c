// Panels opened on a folder or a site file of their own, beside the panels
// on NetSonic's registered cache. All of them share the one PluginState;
// each entry point that acts for a panel first makes it the active panel,
// so the cache folder (and the site file) it uses are that panel's own.
#ifndef QVORK_HOST_OWN_PANELS_H
#define QVORK_HOST_OWN_PANELS_H

#include "host/plugin_state.h"

// The record of panel `handle`, or NULL for a panel on the registered cache.
struct OwnPanel *FindOwnPanel(HANDLE handle);
// Makes `handle` the active panel. When its folder or site file differs from
// the active panel's, the shared tree and root listing are dropped first:
// they came from another folder.
void SelectPanel(HANDLE handle);
// The registered cache folder, or NULL while no lookup has succeeded.
const char *RegisteredFolder(void);
// For the active panel opened on a site file: reads the site again when no
// site is loaded (another panel dropped it). FALSE when it is not loaded.
// TRUE for other panels.
int EnsureOwnSite(HANDLE handle, int opMode);
// TRUE when the active panel was opened on a site file and shows its top
// folder: there is nothing above it but the file panel it came from.
int AtOwnSiteTop(void);
// Opens a panel on `folder` (ending in a separator), on the site file
// `siteFile` in it when that is not NULL. Returns the new handle, or
// INVALID_HANDLE_VALUE after telling the user why not.
HANDLE OpenOwnPanel(const char *folder, const char *siteFile, const char *siteName);
// OpenPlugin with OPEN_COMMANDLINE: a panel on the cache folder or site
// file `text` names, or one box saying it is neither.
HANDLE OpenFromCommandLine(const char *text);
// Frees the record of `handle` when it has one.
void ForgetOwnPanel(HANDLE handle);

#endif
