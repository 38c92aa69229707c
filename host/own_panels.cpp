// The records of panels opened on a folder or site file of their own, and
// the switch of the shared state between panels. Invariant: State.CacheFolder
// and State.OwnSiteFile are those of State.ActivePanel, and the tree and the
// root listing held, if any, were read from that folder.
#include "host/own_panels.h"

#include <stdint.h>
#include <string.h>

#include "browse/nav_stack.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "host/entry_points.h"
#include "host/handed_listings.h"
#include "host/messages.h"

namespace {

LONG NumberOf(HANDLE handle)
{
    return (LONG)(intptr_t)handle;
}

BOOL SameText(const char *a, const char *b)
{
    if (a == NULL || b == NULL)
        return a == b;
    return strcmp(a, b) == 0;
}

// Copies `text` whole into a buffer of `size` bytes; FALSE when it does not fit.
BOOL CopyWhole(char *buffer, size_t size, const char *text)
{
    size_t length = strnlen(text, size);
    if (length >= size)
        return FALSE;
    memcpy(buffer, text, length + 1);
    return TRUE;
}

void DropSharedView(void)
{
    FreeTree(State.TreeRoot);
    ReleaseSiteList();
    ClearNavStack(&State.NavStack);
    MarkAtCacheRoot();
    State.CurDirText[0] = 0;
}

// Fills a free record; FALSE when every slot is taken or a text does not fit.
BOOL FillOwnPanel(struct OwnPanel *own, const char *folder, const char *siteFile,
                  const char *siteName)
{
    memset(own, 0, sizeof *own);
    if (!CopyWhole(own->Folder, sizeof own->Folder, folder))
        return FALSE;
    if (siteFile == NULL)
        return TRUE;
    size_t folderLength = strlen(own->Folder);
    if (!CopyWhole(own->SiteFile, sizeof own->SiteFile, siteFile) ||
        folderLength + strlen(own->SiteFile) + 1 > sizeof own->HostFile)
        return FALSE;
    memcpy(own->HostFile, own->Folder, folderLength);
    memcpy(own->HostFile + folderLength, own->SiteFile, strlen(own->SiteFile) + 1);
    size_t nameLength = strnlen(siteName, sizeof own->SiteName - 1);
    memcpy(own->SiteName, siteName, nameLength);
    own->SiteName[nameLength] = 0;
    size_t prefixLength = sizeof OWN_TITLE_PREFIX - 1;
    memcpy(own->Title, OWN_TITLE_PREFIX, prefixLength);
    memcpy(own->Title + prefixLength, own->SiteName, nameLength + 1);
    return TRUE;
}

// Reads the active panel's own site into the tree, its top folder shown.
BOOL LoadOwnSite(HANDLE handle, const struct OwnPanel *own, int opMode)
{
    struct PluginPanelItem item;
    memset(&item, 0, sizeof item);
    memcpy(item.FindData.cFileName, own->SiteName, strlen(own->SiteName) + 1);
    item.Description = (char *)own->SiteFile;
    if (!LoadSiteTree(handle, &item, NULL, opMode) || !SiteFileWasRead()) {
        DropSharedView();
        return FALSE;
    }
    // The file's name need not carry a number ("cache" followed by digits);
    // the site is reopened by name, and a number gives the panel its "..".
    if (State.CurrentSite <= 0)
        State.CurrentSite = 1;
    return TRUE;
}

} // namespace

struct OwnPanel *FindOwnPanel(HANDLE handle)
{
    LONG number = NumberOf(handle);
    if (number == 0)
        return NULL;
    for (int i = 0; i < MAX_OWN_PANELS; i++) {
        if (State.OwnPanels[i].Handle == number)
            return &State.OwnPanels[i];
    }
    return NULL;
}

const char *RegisteredFolder(void)
{
    return State.CacheFolderText[0] != 0 ? State.CacheFolderText : NULL;
}

void SelectPanel(HANDLE handle)
{
    LONG number = NumberOf(handle);
    if (number == State.ActivePanel)
        return;
    struct OwnPanel *own = FindOwnPanel(handle);
    const char *folder = own != NULL ? own->Folder : RegisteredFolder();
    const char *siteFile = own != NULL && own->SiteFile[0] != 0 ? own->SiteFile : NULL;
    if (!SameText(folder, State.CacheFolder) || !SameText(siteFile, State.OwnSiteFile))
        DropSharedView();
    State.ActivePanel = number;
    State.CacheFolder = folder;
    State.OwnSiteFile = siteFile;
}

int EnsureOwnSite(HANDLE handle, int opMode)
{
    if (State.OwnSiteFile == NULL)
        return TRUE;
    if (InsideSite() && TopNavStack(&State.NavStack) != NULL)
        return TRUE;
    const struct OwnPanel *own = FindOwnPanel((HANDLE)(intptr_t)State.ActivePanel);
    return own != NULL && LoadOwnSite(handle, own, opMode);
}

int AtOwnSiteTop(void)
{
    return State.OwnSiteFile != NULL && State.TreeRoot != NULL &&
           TopNavStack(&State.NavStack) == State.TreeRoot;
}

HANDLE OpenOwnPanel(const char *folder, const char *siteFile, const char *siteName)
{
    struct OwnPanel *own = NULL;
    for (int i = 0; i < MAX_OWN_PANELS && own == NULL; i++) {
        if (State.OwnPanels[i].Handle == 0)
            own = &State.OwnPanels[i];
    }
    if (own == NULL) {
        ShowError("too many panels open!");
        return INVALID_HANDLE_VALUE;
    }
    if (!FillOwnPanel(own, folder, siteFile, siteName)) {
        ShowError("path too long!");
        return INVALID_HANDLE_VALUE;
    }
    DropSharedView();
    State.SiteCount = 0;
    State.OpenPanels++;
    State.OpenCount++;
    own->Handle = State.OpenCount;
    HANDLE handle = (HANDLE)(intptr_t)own->Handle;
    PanelOpened(handle);
    State.ActivePanel = own->Handle;
    State.CacheFolder = own->Folder;
    State.OwnSiteFile = siteFile != NULL ? own->SiteFile : NULL;
    if (siteFile != NULL && !LoadOwnSite(handle, own, 0)) {
        ClosePlugin(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

void ForgetOwnPanel(HANDLE handle)
{
    struct OwnPanel *own = FindOwnPanel(handle);
    if (own != NULL)
        memset(own, 0, sizeof *own);
    if (NumberOf(handle) == State.ActivePanel) {
        State.ActivePanel = 0;
        State.CacheFolder = RegisteredFolder();
        State.OwnSiteFile = NULL;
    }
}
