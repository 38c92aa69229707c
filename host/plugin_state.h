// The one plug-in wide state record, shared by every entry point and every
// panel that shows the plug-in, and the records it holds: the site tree node,
// the navigation stack and the progress box. All of it is zero when the
// library is loaded; a static constructor then readies the progress box and
// empties the navigation stack (host/plugin_state.cpp).
#ifndef QVORK_HOST_PLUGIN_STATE_H
#define QVORK_HOST_PLUGIN_STATE_H

#include "host/far_abi.h"
#include "platform/stream.h"

#define CACHE_FOLDER_SIZE 250
#define SITE_NAME_SIZE MAX_PATH // room for any cFileName, so a name always compares whole
#define CUR_DIR_SIZE 768
#define PROGRESS_LINE_SIZE 50

// One node of a site's tree; allocated zero-filled.
struct SiteNode {
    struct SiteNode *next;       // next sibling; NULL at the end of the chain
    struct SiteNode *firstChild; // NULL for a leaf
    char *name;                  // the URL component; owned, except the synthetic
                                 // site node's, which is PluginState.SiteName
    LONG bodyOffset;             // 0: a folder; else the body's offset in the site file
    LONG headerOffset;           // offset of the stored HTTP header; 0 for folders
    LONG bodyLength;             // body bytes; 0 for folders
};

// One entry of the navigation stack; owned by the stack, the node is not.
struct NavEntry {
    struct SiteNode *node; // NULL ends a walk
    struct NavEntry *below;
};

struct NavStack {
    struct NavEntry *top; // NULL when empty
};

// The one progress box: a host message box without buttons.
struct ProgressBox {
    char Bar[PROGRESS_LINE_SIZE];      // 49 cells and a terminator
    char NameLine[PROGRESS_LINE_SIZE]; // at most 49 characters and a terminator
    HANDLE SavedScreen;                // from SaveScreen at the start of a run
    int Quiet;                         // non-zero: the run draws nothing
    LONG Done;                         // items counted in this run
    LONG Total;                        // items expected; never below Done after a step
    const char *Title;                 // a literal, never owned
    int WarningsOff;                   // non-zero: a warning of this run was cancelled
};

#define MAX_OWN_PANELS 8
#define OWN_PATH_SIZE (CACHE_FOLDER_SIZE + MAX_PATH)
#define OWN_TITLE_PREFIX "qVORK: "
#define OWN_TITLE_SIZE (sizeof OWN_TITLE_PREFIX - 1 + SITE_NAME_SIZE)

// A panel opened on a cache folder or a site file of its own (the command
// line, or a site file of an ordinary panel) rather than on the cache that
// NetSonic's registry value names. The shared tree and root listing belong
// to one panel at a time (ActivePanel); a panel whose folder or site file
// differs finds them dropped when it acts next.
struct OwnPanel {
    LONG Handle;                    // 0: the slot is free
    char Folder[CACHE_FOLDER_SIZE]; // its cache folder, ending in "\" or "/"
    char SiteFile[MAX_PATH];        // opened on one site file: its name in Folder; else ""
    char SiteName[SITE_NAME_SIZE];  // that site's name, from the file's header
    char HostFile[OWN_PATH_SIZE];   // Folder + SiteFile, reported as HostFile
    char Title[OWN_TITLE_SIZE];     // "qVORK: " and SiteName: nothing else names the site
};

struct PluginState {
    char CacheFolderText[CACHE_FOLDER_SIZE]; // the cache folder, ending in "\"
    const char *CacheFolder;      // the active panel's cache folder: CacheFolderText once a
                                  // lookup succeeded, an OwnPanel's Folder, or NULL
    LONG CurrentSite;             // the number in the open site's file name; 0 at the cache root
    char SiteFile[MAX_PATH];      // the open site's cache file name; "" at the cache root
    struct StreamIdentity SiteIdentity; // that file as it was read; all 0 when
                                        // the system could not tell
    struct SiteNode *TreeRoot;    // the loaded site tree (the synthetic site node), or NULL
    struct PluginPanelItem *SiteList; // the held root listing, or NULL
    LONG SiteCount;               // items in SiteList
    LONG OpenCount;               // OpenPlugin calls so far; the last panel handle
    LONG OpenPanels;              // panels opened and not yet closed
    char CurDirText[CUR_DIR_SIZE];
    struct NavStack NavStack;
    struct PluginPanelItem *ListingCursor; // next item to fill in GetFindData
    struct PluginPanelItem *ListingEnd;    // one past the last item the fill may touch
    struct SiteNode *LastLeaf;    // the newest leaf while a site file is read
    DWORD TreeGeneration;         // counts loaded trees (never 0); in-site items carry it
    char SiteName[SITE_NAME_SIZE];
    struct KeyBarTitles KeyBarRecord;
    struct ProgressBox Progress;
    struct PluginStartupInfo Info; // the host's record, copied by SetStartupInfo
    struct OwnPanel OwnPanels[MAX_OWN_PANELS];
    LONG ActivePanel;             // the handle the tree and root listing belong to
    const char *OwnSiteFile;      // the active panel's SiteFile when it was opened on one,
                                  // else NULL: the site is reopened by this name
};

extern struct PluginState State;

// Inside a site: a site file was entered, whatever number its name carries
// (a file named "cache" or "cache0" carries 0).
inline int InsideSite(void)
{
    return State.SiteFile[0] != 0;
}

// At the cache root: no site file open, site number 0.
inline void MarkAtCacheRoot(void)
{
    State.CurrentSite = 0;
    State.SiteFile[0] = 0;
}

#endif
