// SetDirectory and the in-site listing. At the cache root a directory name
// is a site to enter; inside a site it is "..", "\", the exact name of one
// child of the folder shown, or a directory text as GetOpenPluginInfo gave
// it (at the root too). Failures are silent FALSE results.
#include "browse/site_navigation.h"

#include <string.h>

#include "browse/nav_stack.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "host/entry_points.h"
#include "host/own_panels.h"
#include "host/panel_state.h"

namespace {

// ".." (up one folder) or "\" (to the site's top folder); either leaves the
// site from its top folder.
void MoveUp(BOOL toTop)
{
    PopNavStack(&State.NavStack);
    if (TopNavStack(&State.NavStack) == NULL) {
        ClearNavStack(&State.NavStack);
        LeaveSite();
    } else if (toTop) {
        struct SiteNode *site = NULL;
        while (TopNavStack(&State.NavStack) != NULL)
            site = PopNavStack(&State.NavStack);
        PushNavStack(&State.NavStack, site);
    }
    BuildCurDir();
}

// The child the last search found, in its folder of its tree: a host that
// enters each item of a large folder in turn (to see what lies below a
// file) finds the next one at once instead of walking the folder each time.
struct SiteNode *LastFoundFolder;
struct SiteNode *LastFound;
DWORD LastFoundGeneration;

struct SiteNode *FindChild(const char *name)
{
    struct SiteNode *folder = TopNavStack(&State.NavStack);
    if (folder == NULL || name == NULL)
        return NULL;
    // Siblings have names of their own: the search may start anywhere.
    struct SiteNode *start = folder->firstChild;
    if (LastFoundFolder == folder && LastFoundGeneration == State.TreeGeneration &&
        LastFound != NULL && LastFound->next != NULL)
        start = LastFound->next;
    for (int round = 0; round < 2; round++) {
        struct SiteNode *end = round == 0 ? NULL : start;
        for (struct SiteNode *child = round == 0 ? start : folder->firstChild; child != end;
             child = child->next) {
            if (child->name != NULL && strcmp(child->name, name) == 0) {
                LastFoundFolder = folder;
                LastFound = child;
                LastFoundGeneration = State.TreeGeneration;
                return child;
            }
        }
    }
    return NULL;
}

// The most folders a directory text can name: each takes a name and a "/".
#define PATH_FOLDERS_MAX (CUR_DIR_SIZE / 2)

// A directory text as the panel's CurDir gives it ("site/a/b"; "a/b" in a
// panel on a site file), which the host hands back to return to a place it
// left (after a search from the site's top): every folder is looked up from
// the site's top first, and the panel moves only when all are there.
int SetDirectoryPath(const char *dir)
{
    struct SiteNode *site = State.TreeRoot;
    if (site == NULL || dir == NULL)
        return FALSE;
    const char *rest = dir;
    if (State.OwnSiteFile == NULL) {
        size_t nameLength = site->name != NULL ? strlen(site->name) : 0;
        if (nameLength == 0 || strncmp(rest, site->name, nameLength) != 0 || rest[nameLength] != '/')
            return FALSE;
        rest += nameLength + 1;
    }
    struct SiteNode *path[PATH_FOLDERS_MAX];
    int depth = 0;
    struct SiteNode *folder = site;
    while (*rest != 0) {
        const char *end = strchr(rest, '/');
        size_t length = end != NULL ? (size_t)(end - rest) : strlen(rest);
        struct SiteNode *child = folder->firstChild;
        while (child != NULL && (child->firstChild == NULL || child->name == NULL ||
                                 strlen(child->name) != length || memcmp(child->name, rest, length) != 0))
            child = child->next;
        if (child == NULL || depth == PATH_FOLDERS_MAX)
            return FALSE;
        path[depth++] = child;
        folder = child;
        rest += length;
        if (*rest == '/')
            rest++;
    }
    while (TopNavStack(&State.NavStack) != NULL && TopNavStack(&State.NavStack) != site)
        PopNavStack(&State.NavStack);
    if (TopNavStack(&State.NavStack) == NULL)
        PushNavStack(&State.NavStack, site);
    for (int i = 0; i < depth; i++)
        PushNavStack(&State.NavStack, path[i]);
    BuildCurDir();
    return TRUE;
}

// A directory text of a site's folder given at the cache root ("site/a/b"),
// as a folder shortcut hands it back: the site is entered and the folders
// followed. When a folder is not there the panel stays at the root.
int EnterSitePath(HANDLE hPlugin, const char *dir, int opMode)
{
    for (LONG i = 0; i < State.SiteCount; i++) {
        const char *name = State.SiteList[i].FindData.cFileName;
        size_t length = strnlen(name, MAX_PATH);
        if (length == 0 || length == MAX_PATH || strncmp(dir, name, length) != 0 || dir[length] != '/')
            continue;
        // The site's name is given as a copy: loading replaces the held name.
        char site[MAX_PATH];
        memcpy(site, name, length + 1);
        if (!LoadSiteTree(hPlugin, NULL, site, opMode))
            return FALSE;
        if (SetDirectoryPath(dir))
            return TRUE;
        ClearNavStack(&State.NavStack);
        LeaveSite();
        BuildCurDir();
        return FALSE;
    }
    return FALSE;
}

} // namespace

int WINAPI SetDirectory(HANDLE hPlugin, const char *Dir, int OpMode)
{
    SelectPanel(hPlugin);
    if (!EnsureOwnSite(hPlugin, OpMode))
        return FALSE;
    if (!InsideSite()) {
        // The host may name a site before it asked for the root listing (a
        // folder shortcut opens the panel and goes straight there).
        if (!HoldSiteList(OpMode))
            return FALSE;
        if (Dir != NULL && FindSiteItem(Dir) == NULL && strchr(Dir, '/') != NULL)
            return EnterSitePath(hPlugin, Dir, OpMode);
        return LoadSiteTree(hPlugin, NULL, Dir, OpMode);
    }
    if (Dir != NULL && AtOwnSiteTop() && (strcmp(Dir, "..") == 0 || strcmp(Dir, "\\") == 0)) {
        // Nothing lies above a site opened from its file: the host leaves
        // the panel itself when the directory text is empty.
        return Dir[0] == '\\';
    }
    if (Dir != NULL && (strcmp(Dir, "..") == 0 || strcmp(Dir, "\\") == 0)) {
        MoveUp(Dir[0] == '\\');
        return TRUE;
    }
    struct SiteNode *child = FindChild(Dir);
    if (child == NULL)
        return Dir != NULL && strchr(Dir, '/') != NULL ? SetDirectoryPath(Dir) : FALSE;
    PushNavStack(&State.NavStack, child);
    BuildCurDir();
    return TRUE;
}

int CountSiteChildren(void)
{
    struct SiteNode *folder = TopNavStack(&State.NavStack);
    int count = 0;
    if (folder != NULL) {
        for (struct SiteNode *child = folder->firstChild; child != NULL; child = child->next)
            count++;
    }
    return count;
}

void FillSiteListing(void)
{
    struct SiteNode *folder = TopNavStack(&State.NavStack);
    if (folder == NULL)
        return;
    for (struct SiteNode *child = folder->firstChild;
         child != NULL && State.ListingCursor < State.ListingEnd; child = child->next) {
        struct PluginPanelItem *item = State.ListingCursor;
        // A name of 260 bytes or more fills the field without a terminator.
        if (child->name != NULL)
            memcpy(item->FindData.cFileName, child->name,
                   strnlen(child->name, sizeof item->FindData.cFileName));
        // A damaged record's negative length lists as 0, not as 4 billion.
        if (child->bodyOffset != 0)
            item->FindData.nFileSizeLow = child->bodyLength > 0 ? (DWORD)child->bodyLength : 0;
        else
            item->FindData.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        item->UserData = (DWORD_PTR)child;
        item->CRC32 = State.TreeGeneration;
        State.ListingCursor = item + 1;
    }
}
