// The panel's life: OpenPlugin, GetOpenPluginInfo, GetFindData (the cache
// root or the folder shown inside a site), FreeFindData, ProcessKey (the
// re-read keys and Shift+F3) and ClosePlugin. Every panel shares the one
// PluginState; the handle is only a counter for the host.
#include <stdlib.h>
#include <string.h>

#include "browse/nav_stack.h"
#include "browse/site_navigation.h"
#include "cache/cache_folder.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "extract/header_view.h"
#include "host/entry_points.h"
#include "host/handed_listings.h"
#include "host/item_guard.h"
#include "host/own_panels.h"
#include "host/panel_state.h"
#include "host/progress_box.h"

namespace {

char ShiftF3Title[] = "VwHdr";

// The re-read keys at the cache root: the next root read scans again.
void DropSiteList(void)
{
    if (!InsideSite())
        ReleaseSiteList();
}

// Shift+F3 inside a site: the stored header of the current file.
int ViewCurrentHeader(HANDLE hPlugin)
{
    struct PluginPanelItem *item = GetCurrentPanelItem(hPlugin);
    if (item == NULL)
        return FALSE;
    struct SiteNode *node = LiveNodeOf(item);
    if (node == NULL || node->bodyOffset == 0)
        return FALSE;
    FILE *site = OpenCurrentSiteFile();
    if (site == NULL)
        return FALSE;
    ShowStoredHeader(node, site);
    return TRUE;
}

// A panel's own read (not a silent one, nor a file search walking the
// folders) replaces what it shows: retired listings that no open panel
// shows any more are then freed.
void GiveListing(HANDLE hPlugin, const struct PluginPanelItem *items, int opMode)
{
    if ((opMode & (OPM_SILENT | OPM_FIND)) != 0)
        return;
    PanelGiven(hPlugin, items);
    FreeRetiredListings(FALSE);
}

} // namespace

void LeaveSite(void)
{
    MarkAtCacheRoot();
    FreeTree(State.TreeRoot);
}

struct PluginPanelItem *GetCurrentPanelItem(HANDLE handle)
{
    if (State.Info.Control == NULL)
        return NULL;
    struct PanelInfo panel;
    memset(&panel, 0, sizeof panel);
    if (!State.Info.Control(handle, FCTL_GETPANELINFO, &panel))
        return NULL;
    if (panel.ItemsNumber <= 0 || panel.PanelItems == NULL || panel.CurrentItem < 0 ||
        panel.CurrentItem >= panel.ItemsNumber)
        return NULL;
    return &panel.PanelItems[panel.CurrentItem];
}

HANDLE WINAPI OpenPlugin(int OpenFrom, intptr_t Item)
{
    if (OpenFrom == OPEN_COMMANDLINE)
        return OpenFromCommandLine((const char *)Item);
    // A folder shortcut made on a panel of its own folder names that folder.
    if (OpenFrom == OPEN_SHORTCUT && Item != 0 && *(const char *)Item != 0)
        return OpenFromCommandLine((const char *)Item);
    // A failed lookup keeps the folder found before, never another panel's own.
    State.CacheFolder = RegisteredFolder();
    State.OwnSiteFile = NULL;
    LookUpCacheFolder();
    State.CurDirText[0] = 0;
    MarkAtCacheRoot();
    // Another panel's tree and listing are not followed any more: released
    // here rather than lost (the item guard keeps that panel's items safe).
    FreeTree(State.TreeRoot);
    ReleaseSiteList();
    State.SiteCount = 0;
    State.OpenPanels++;
    State.OpenCount++;
    State.ActivePanel = State.OpenCount;
    PanelOpened((HANDLE)(intptr_t)State.OpenCount);
    return (HANDLE)(intptr_t)State.OpenCount;
}

void WINAPI ClosePlugin(HANDLE hPlugin)
{
    ForgetOwnPanel(hPlugin);
    FreeTree(State.TreeRoot);
    ReleaseSiteList();
    MarkAtCacheRoot();
    // Another panel may still ask where it is: at the root now.
    State.CurDirText[0] = 0;
    if (State.OpenPanels > 0)
        State.OpenPanels--;
    PanelClosed(hPlugin);
    FreeRetiredListings(FALSE);
}

void WINAPI GetOpenPluginInfo(HANDLE hPlugin, struct OpenPluginInfo *Info)
{
    State.KeyBarRecord.ShiftTitles[2] = ShiftF3Title;
    if (Info == NULL)
        return;
    Info->StructSize = sizeof *Info;
    Info->Flags = OPIF_USEATTRHIGHLIGHTING | OPIF_SHOWNAMESONLY | OPIF_RAWSELECTION;
    if (State.CurrentSite > 0)
        Info->Flags |= OPIF_ADDDOTS;
    Info->CurDir = State.CurDirText;
    Info->Format = "VORK";
    Info->PanelTitle = "qVORK";
    Info->KeyBar = &State.KeyBarRecord;
    // A panel on a site file is left, like an archive, for the file panel
    // that shows this file; its title names the site, which no directory
    // text does there.
    const struct OwnPanel *own = FindOwnPanel(hPlugin);
    if (own != NULL && own->SiteFile[0] != 0) {
        Info->HostFile = own->HostFile;
        Info->PanelTitle = own->Title;
    }
    // A folder shortcut brings back the folder or site file, not NetSonic's.
    if (own != NULL)
        Info->ShortcutData = own->SiteFile[0] != 0 ? own->HostFile : own->Folder;
}

int WINAPI GetFindData(HANDLE hPlugin, struct PluginPanelItem **pPanelItem, int *pItemsNumber,
                       int OpMode)
{
    if (pPanelItem == NULL || pItemsNumber == NULL)
        return FALSE;
    SelectPanel(hPlugin);
    if (!EnsureOwnSite(hPlugin, OpMode)) {
        // A site file that no longer reads: an empty panel, never the folder.
        *pPanelItem = NULL;
        *pItemsNumber = 0;
        return TRUE;
    }
    if (TopNavStack(&State.NavStack) == NULL || !InsideSite()) {
        // At the root; any entries left are stale and never followed, and
        // the directory text must say root like the listing does.
        MarkAtCacheRoot();
        ClearNavStack(&State.NavStack);
        State.CurDirText[0] = 0;
    }
    if (!InsideSite()) {
        HoldSiteList(OpMode);
        *pPanelItem = State.SiteList;
        *pItemsNumber = State.SiteList != NULL ? State.SiteCount : 0;
        GiveListing(hPlugin, State.SiteList, OpMode);
        return TRUE;
    }
    int count = CountSiteChildren();
    ProgressBegin(&State.Progress, "reading cache", count, OpMode & (OPM_SILENT | OPM_FIND));
    // At least one item, so an empty listing is still a distinct allocation.
    struct PluginPanelItem *items =
        (struct PluginPanelItem *)calloc(count > 0 ? (size_t)count : 1, sizeof *items);
    *pPanelItem = items;
    *pItemsNumber = 0;
    if (items != NULL) {
        State.ListingCursor = items;
        State.ListingEnd = items + count;
        FillSiteListing();
        RememberListing(items);
        *pItemsNumber = (int)(State.ListingCursor - items);
        State.ListingEnd = NULL;
    }
    ProgressEnd(&State.Progress);
    GiveListing(hPlugin, items, OpMode);
    return TRUE;
}

void WINAPI FreeFindData(HANDLE hPlugin, struct PluginPanelItem *PanelItem, int ItemsNumber)
{
    (void)hPlugin;
    (void)ItemsNumber;
    // The held root listing lives on; only in-site listings are released, and
    // only those this plug-in handed out and has not released yet.
    if (PanelItem != NULL && PanelItem != State.SiteList && ForgetListing(PanelItem))
        free(PanelItem);
}

int WINAPI ProcessKey(HANDLE hPlugin, int Key, unsigned int ControlState)
{
    SelectPanel(hPlugin);
    if (Key == KEY_CODE_R) {
        DropSiteList();
        return FALSE;
    }
    if (Key != KEY_CODE_F3)
        return FALSE;
    if (!InsideSite()) {
        DropSiteList();
        return FALSE;
    }
    if (ControlState != PKF_SHIFT)
        return FALSE;
    return ViewCurrentHeader(hPlugin);
}
