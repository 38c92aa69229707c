// The site tree builder. The site reader walks the records; each URL is
// split at "/" into components: the last is a file, the others folders; the
// first record of a path wins. Over-long URLs are reported here, one box per
// record. Invariant: siblings keep the order in which records first named
// them.
#include "cache/site_tree.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "browse/nav_stack.h"
#include "cache/node_pool.h"
#include "cache/sibling_index.h"
#include "cache/site_list.h"
#include "host/item_guard.h"
#include "host/messages.h"
#include "host/panel_state.h"
#include "host/progress_box.h"
#include "platform/stream.h"

namespace {

// The one pass over the URL being inserted, shared by every level of
// InsertPath and NewPathChain: each takes the next component.
struct UrlSplit {
    const char *rest; // the text not yet split
};

struct UrlSplit Split;

// TRUE while a site file is read: its nodes come from the pool.
BOOL Loading;

// The file an inserted URL's path ended at when that path was taken already
// (NULL when the URL made a file of its own).
struct SiteNode *SamePath;

// Whether the latest LoadSiteTree read the site file (FALSE when it could
// not be opened or was never named).
BOOL SiteFileRead;

struct Component {
    const char *text; // NULL: no further component
    size_t length;
};

struct Component NextComponent(void)
{
    struct Component component = {NULL, 0};
    const char *p = Split.rest;
    if (p == NULL)
        return component;
    while (*p == '/')
        p++;
    if (*p == 0) {
        Split.rest = p;
        return component;
    }
    component.text = p;
    while (*p != 0 && *p != '/')
        p++;
    component.length = (size_t)(p - component.text);
    Split.rest = p;
    return component;
}

const struct Component IndexComponent = {INDEX_FILE_NAME, sizeof INDEX_FILE_NAME - 1};

BOOL NameEquals(const char *name, struct Component component)
{
    return name != NULL && strncmp(name, component.text, component.length) == 0 &&
           name[component.length] == 0;
}

// A new zero-filled node named by `component`: from the pool while a site
// file is read, from the heap otherwise.
struct SiteNode *NewNode(struct Component component)
{
    if (Loading) {
        struct SiteNode *node = PoolNewNode();
        if (node != NULL)
            node->name = PoolCopyName(component.text, component.length);
        return node != NULL && node->name != NULL ? node : NULL;
    }
    struct SiteNode *node = (struct SiteNode *)calloc(1, sizeof *node);
    if (node == NULL)
        return NULL;
    node->name = (char *)malloc(component.length + 1);
    if (node->name == NULL) {
        free(node);
        return NULL;
    }
    memcpy(node->name, component.text, component.length);
    node->name[component.length] = 0;
    return node;
}

// One level per remaining component, under `parent` (NULL: the first level).
struct SiteNode *NewPathChain(const struct SiteNode *parent, struct Component component)
{
    if (component.text == NULL)
        return NULL;
    struct SiteNode *node = NewNode(component);
    if (node == NULL)
        return NULL;
    if (SiblingIndexOpen())
        IndexChild(parent, node);
    node->firstChild = NewPathChain(node, NextComponent());
    if (node->firstChild == NULL) {
        node->bodyOffset = 1; // a file, until its record's offsets are stored
        State.LastLeaf = node;
    }
    return node;
}

struct SiteNode *FindSibling(const struct SiteNode *parent, struct SiteNode *first,
                             struct Component component)
{
    if (SiblingIndexOpen())
        return FindIndexedChild(parent, component.text, component.length);
    for (struct SiteNode *node = first; node != NULL; node = node->next) {
        if (NameEquals(node->name, component))
            return node;
    }
    return NULL;
}

struct SiteNode *LastSibling(const struct SiteNode *parent, struct SiteNode *first)
{
    struct SiteNode *last = SiblingIndexOpen() ? LastIndexedChild(parent) : NULL;
    if (last == NULL) {
        last = first;
        while (last->next != NULL)
            last = last->next;
    }
    return last;
}

// A file that a longer URL goes on below becomes a folder, and its own body
// moves to a new child "index.htm" (the name a folder's own page has), so
// the page and everything below it stay reachable. FALSE when out of memory.
BOOL MoveBodyToIndex(struct SiteNode *file)
{
    struct SiteNode *index = NewNode(IndexComponent);
    if (index == NULL)
        return FALSE;
    if (SiblingIndexOpen())
        IndexChild(file, index);
    index->bodyOffset = file->bodyOffset;
    index->headerOffset = file->headerOffset;
    index->bodyLength = file->bodyLength;
    file->bodyOffset = 0;
    file->headerOffset = 0;
    file->bodyLength = 0;
    file->firstChild = index;
    return TRUE;
}

// Inserts the rest of the URL into the chain `first` of `parent`'s children.
struct SiteNode *InsertComponent(struct SiteNode *parent, struct SiteNode *first,
                                 struct Component component)
{
    if (component.text == NULL)
        component = IndexComponent;
    if (first == NULL)
        return NewPathChain(parent, component);
    struct SiteNode *node = FindSibling(parent, first, component);
    if (node != NULL && node->firstChild != NULL)
        return InsertComponent(node, node->firstChild, NextComponent());
    if (node != NULL) {
        struct Component next = NextComponent();
        if (next.text != NULL && node->bodyOffset != 0 && MoveBodyToIndex(node))
            return InsertComponent(node, node->firstChild, next);
        if (next.text == NULL && node->bodyOffset != 0)
            SamePath = node;
        node->firstChild = NewPathChain(node, next);
        return node->firstChild;
    }
    struct SiteNode *last = LastSibling(parent, first);
    last->next = NewPathChain(parent, component);
    return last->next;
}

void ReportLongUrl(LONG urlLength, LONG recordLength)
{
    char text[80];
    snprintf(text, sizeof text, "too least buf! need %x, have %x (pa: %x)", (unsigned)urlLength,
             (unsigned)RECORD_URL_MAX, (unsigned)recordLength);
    ProgressWarning(&State.Progress, text);
}

// Puts one record the reader returned into the tree. The first record of a
// path keeps it, unless that record is a redirect and this one is not: a
// browser asks for "a" and, redirected, for "a/", which share a path, and the
// page must not be lost behind the redirect. Nor behind a record whose body
// cannot be read.
void InsertRecord(struct SiteReader *reader, const struct SiteRecordEntry *entry)
{
    if (entry->status == SITE_RECORD_OVERLONG) {
        ReportLongUrl(entry->urlLength, entry->recordLength);
        return;
    }
    if (entry->url == NULL)
        return; // the file ends before the record's URL and offsets
    ProgressStep(&State.Progress, entry->url, 1);
    State.LastLeaf = NULL;
    SamePath = NULL;
    struct SiteNode *created = InsertPath(State.TreeRoot, entry->url);
    if (State.TreeRoot == NULL)
        State.TreeRoot = created;
    if (State.LastLeaf == NULL && SamePath != NULL && !entry->redirect &&
        entry->status != SITE_RECORD_UNREADABLE &&
        (SamePath->bodyLength < 0 || SiteReaderRedirectAt(reader, SamePath->headerOffset)))
        State.LastLeaf = SamePath;
    if (State.LastLeaf != NULL) {
        State.LastLeaf->headerOffset = entry->headerOffset;
        State.LastLeaf->bodyOffset = entry->bodyOffset;
        State.LastLeaf->bodyLength = entry->bodyLength;
    }
}

// Reads the header of the site file and walks its records. Returns TRUE when
// a progress run was begun.
BOOL ReadSiteRecords(FILE *file, int opMode)
{
    struct SiteReader reader;
    SiteReaderOpen(&reader, file);
    int records = reader.recordCount;
    ProgressBegin(&State.Progress, "reading site", records, opMode & (OPM_SILENT | OPM_FIND));
    if (reader.haveRecords) {
        Loading = TRUE;
        // A file per record and some folders: room for about 1/16 more.
        uint32_t expected = records > 0 ? (uint32_t)records + (uint32_t)records / 16 + 64 : 0;
        PoolReserve(expected);
        OpenSiblingIndex(expected);
        struct SiteRecordEntry entry;
        for (;;) {
            while (SiteReaderNext(&reader, &entry))
                InsertRecord(&reader, &entry);
            // A walk ended before its count met damage (a zeroed block off
            // a failing disk): the records after it are looked for.
            if (!SiteReaderResume(&reader))
                break;
        }
        CloseSiblingIndex();
        Loading = FALSE;
    }
    SiteReaderClose(&reader);
    return TRUE;
}

void CopySiteName(const struct PluginPanelItem *item)
{
    size_t length = strnlen(item->FindData.cFileName, sizeof State.SiteName - 1);
    memcpy(State.SiteName, item->FindData.cFileName, length);
    State.SiteName[length] = 0;
}

// Chooses the site's root item: `item`, else the panel's current item, else
// (no panel to ask) the held item named `dirName`; then, when `dirName` names
// another site, the held item of that name. Returns FALSE to refuse the
// entry: a site is never entered that was not found.
BOOL ChooseSiteItem(HANDLE handle, struct PluginPanelItem *item, const char *dirName,
                    struct PluginPanelItem **candidate)
{
    *candidate = item != NULL ? item : GetCurrentPanelItem(handle);
    if (*candidate == NULL)
        *candidate = FindSiteItem(dirName);
    if (*candidate == NULL)
        return FALSE;
    CopySiteName(*candidate);
    if (dirName != NULL && strcmp(dirName, State.SiteName) != 0) {
        *candidate = FindSiteItem(dirName);
        if (*candidate == NULL)
            return FALSE;
        CopySiteName(*candidate);
    }
    return LiveDescriptionOf(*candidate) != NULL;
}

} // namespace

struct SiteNode *InsertPath(struct SiteNode *node, const char *text)
{
    if (text == NULL || strcmp(text, "/") == 0)
        text = INDEX_FILE_NAME;
    Split.rest = text;
    // Deeper levels are reached through the index, which knows the parents;
    // without it, `node` is the chain to search and its parent is not needed.
    return InsertComponent(NULL, node, NextComponent());
}

int SiteFileWasRead(void)
{
    return SiteFileRead;
}

void FreeTree(struct SiteNode *node)
{
    BOOL freedRoot = FALSE;
    while (node != NULL) {
        struct SiteNode *next = node->next;
        if (node == State.TreeRoot) {
            State.TreeRoot = NULL;
            freedRoot = TRUE;
        }
        FreeTree(node->firstChild);
        // Pool nodes and their names go with the pool.
        if (!PoolHoldsNode(node)) {
            if (node->name != State.SiteName)
                free(node->name);
            free(node);
        }
        node = next;
    }
    // Pool nodes are given back with the tree they belong to.
    if (freedRoot)
        PoolRelease();
}

int LoadSiteTree(HANDLE handle, struct PluginPanelItem *item, const char *dirName, int opMode)
{
    FreeTree(State.TreeRoot);
    struct PluginPanelItem *candidate = NULL;
    if (!ChooseSiteItem(handle, item, dirName, &candidate))
        return FALSE;
    BOOL progress = FALSE;
    SiteFileRead = FALSE;
    memset(&State.SiteIdentity, 0, sizeof State.SiteIdentity);
    if (candidate != NULL) {
        FILE *file = OpenSiteFile(0, LiveDescriptionOf(candidate));
        if (file == NULL) {
            ShowError("can't open file!");
        } else {
            if (!GetStreamIdentity(file, &State.SiteIdentity))
                memset(&State.SiteIdentity, 0, sizeof State.SiteIdentity); // not checked then
            progress = ReadSiteRecords(file, opMode);
            SiteFileRead = TRUE;
            CloseStream(file);
        }
    }
    struct SiteNode *site = PoolNewNode();
    if (site == NULL)
        site = (struct SiteNode *)calloc(1, sizeof *site);
    if (site == NULL) {
        FreeTree(State.TreeRoot);
        MarkAtCacheRoot();
        if (progress)
            ProgressEnd(&State.Progress);
        return FALSE;
    }
    site->name = State.SiteName;
    site->firstChild = State.TreeRoot;
    // A new tree: items listed from an older one may meet its nodes at the
    // addresses their nodes had, and are told apart by this number.
    if (++State.TreeGeneration == 0)
        State.TreeGeneration = 1;
    State.TreeRoot = site;
    ClearNavStack(&State.NavStack);
    PushNavStack(&State.NavStack, site);
    if (progress)
        ProgressEnd(&State.Progress);
    BuildCurDir();
    return TRUE;
}
