// DeleteFiles at the cache root: after one confirmation, deletes the cache
// files of the given sites and marks their held root items as gone (hidden,
// sizes 0, no Description), so they drop out without a new scan. Held items
// are found by cache file name, which is unique, never by site name; every
// name is copied before anything is deleted or released.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cache/site_list.h"
#include "host/entry_points.h"
#include "host/item_guard.h"
#include "host/own_panels.h"
#include "host/plugin_state.h"

namespace {

BOOL ConfirmDelete(int count)
{
    if (State.Info.Message == NULL)
        return FALSE;
    char countLine[64];
    snprintf(countLine, sizeof countLine, "Delete %u site(z).", (unsigned)count);
    const char *items[5] = {"qVORK", countLine, "", "Yes", "No"};
    return State.Info.Message(State.Info.ModuleNumber, FMSG_WARNING, NULL, items, 5, 2) == 0;
}

// Copies of the items' cache file names (NULL where an item has none).
char **CopyFileNames(const struct PluginPanelItem *items, int count)
{
    char **names = (char **)calloc((size_t)count, sizeof *names);
    if (names == NULL)
        return NULL;
    for (int i = 0; i < count; i++) {
        const char *description = LiveDescriptionOf(&items[i]);
        if (description == NULL)
            continue;
        size_t size = strlen(description) + 1;
        names[i] = (char *)malloc(size);
        if (names[i] != NULL)
            memcpy(names[i], description, size);
    }
    return names;
}

// Only a file that is still the site listed is deleted: one changed or put
// in its place since the listing was read (a name search may also find
// another case of the name on Linux) is another site's.
BOOL DeleteSiteFile(const char *fileName)
{
    char path[SITE_PATH_SIZE];
    return fileName != NULL && BuildCachePath(path, sizeof path, fileName) &&
           SiteFileIsAsListed(fileName) && DeleteFileA(path);
}

void MarkDeleted(const char *fileName)
{
    struct PluginPanelItem *entry = FindSiteItemByFile(fileName);
    if (entry == NULL)
        return;
    entry->FindData.dwFileAttributes |= FILE_ATTRIBUTE_HIDDEN;
    entry->FindData.nFileSizeLow = 0;
    entry->PackSize = 0;
    entry->NumberOfLinks = 0;
    RetireDescription(entry->Description); // a panel may still show the old item
    entry->Description = NULL;
}

} // namespace

int WINAPI DeleteFiles(HANDLE hPlugin, struct PluginPanelItem *PanelItem, int ItemsNumber,
                       int OpMode)
{
    (void)OpMode; // the confirmation is shown even when the host asks for silence
    SelectPanel(hPlugin);
    if (InsideSite() || State.OwnSiteFile != NULL)
        return FALSE;
    if (!ConfirmDelete(ItemsNumber))
        return FALSE;
    if (ItemsNumber <= 0 || PanelItem == NULL)
        return TRUE;
    char **names = CopyFileNames(PanelItem, ItemsNumber);
    if (names == NULL)
        return FALSE;
    int result = TRUE;
    for (int i = 0; i < ItemsNumber; i++) {
        if (DeleteSiteFile(names[i]))
            MarkDeleted(names[i]);
        else
            result = FALSE;
        free(names[i]);
    }
    free(names);
    return result;
}
