// The site tree builder. Records are walked from 16 + siteBlockLength along
// their recordLength links; each is read into one 1024-byte window, and no
// field is taken from outside the bytes actually read. A URL is split at "/"
// into components: the last is a file, the others folders; the first record
// of a path wins. Invariants: the walk visits at most recordCount - 2
// records, every record moves the position forward or ends the walk, and
// siblings keep the order in which records first named them.
#include "cache/site_tree.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "browse/nav_stack.h"
#include "cache/site_file.h"
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
        node->firstChild = NewPathChain(node, NextComponent());
        return node->firstChild;
    }
    struct SiteNode *last = LastSibling(parent, first);
    last->next = NewPathChain(parent, component);
    return last->next;
}

// The header's extent: search the window from `start` for the separator,
// within the bytes read, before the window's last byte and before any zero
// byte. Returns its index, or -1.
int FindHeaderEnd(const unsigned char *window, int start, int bytesRead)
{
    int limit = bytesRead < RECORD_WINDOW_SIZE - 1 ? bytesRead : RECORD_WINDOW_SIZE - 1;
    if (start < 0 || start >= limit)
        return -1;
    // The separator holds no zero byte, so it must end before the first one.
    const unsigned char *zero =
        (const unsigned char *)memchr(window + start, 0, (size_t)(limit - start));
    const unsigned char *end = zero != NULL ? zero : window + limit;
    const unsigned char *p = window + start;
    while (end - p >= HEADER_SEPARATOR_LENGTH) {
        p = (const unsigned char *)memchr(p, '\r', (size_t)(end - p - (HEADER_SEPARATOR_LENGTH - 1)));
        if (p == NULL)
            return -1;
        if (memcmp(p, HEADER_SEPARATOR, HEADER_SEPARATOR_LENGTH) == 0)
            return (int)(p - window);
        p++;
    }
    return -1;
}

LONG ClampToLong(long long value)
{
    if (value > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    if (value < -0x7FFFFFFFLL - 1)
        return -0x7FFFFFFF - 1;
    return (LONG)value;
}

void StoreRecordOffsets(struct SiteNode *leaf, const unsigned char *window, int bytesRead,
                        LONG position, int urlLength)
{
    int h = RECORD_HEADER_AFTER_URL + urlLength;
    long long dataLength = DecodeS32(window + RECORD_DATA_LENGTH_AFTER_URL + urlLength);
    long long bodyLength = dataLength - RECORD_DATA_OVERHEAD;
    leaf->headerOffset = position + h;
    leaf->bodyOffset = position + h;
    int s = FindHeaderEnd(window, h, bytesRead);
    if (s >= 0) {
        bodyLength -= s - h;
        leaf->bodyOffset = position + s + HEADER_SEPARATOR_LENGTH;
    }
    leaf->bodyLength = ClampToLong(bodyLength);
}

void ReportLongUrl(LONG urlLength, LONG recordLength)
{
    char text[80];
    snprintf(text, sizeof text, "too least buf! need %x, have %x (pa: %x)", (unsigned)urlLength,
             (unsigned)RECORD_URL_MAX, (unsigned)recordLength);
    ProgressWarning(&State.Progress, text);
}

// Reads one record at `position` into the tree. Returns FALSE when the walk
// must end here; *recordLength gets the distance to the next record.
BOOL ReadRecord(FILE *file, LONG position, LONG *recordLength)
{
    unsigned char window[RECORD_WINDOW_SIZE];
    int bytesRead = (int)ReadStreamAt(file, position, window, sizeof window);
    if (bytesRead < RECORD_URL_OFFSET)
        return FALSE; // the record's fixed fields lie past the end of the file
    *recordLength = DecodeS32(window + RECORD_LENGTH_OFFSET);
    LONG urlLength = DecodeS32(window + RECORD_URL_LENGTH_OFFSET);
    if (urlLength < 0 || urlLength > RECORD_URL_MAX) {
        ReportLongUrl(urlLength, *recordLength);
        return TRUE;
    }
    if (bytesRead < RECORD_HEADER_AFTER_URL + urlLength)
        return FALSE;
    char url[RECORD_URL_MAX + 1];
    memcpy(url, window + RECORD_URL_OFFSET, (size_t)urlLength);
    url[urlLength] = 0;
    ProgressStep(&State.Progress, url, 1);
    State.LastLeaf = NULL;
    struct SiteNode *created = InsertPath(State.TreeRoot, url);
    if (State.TreeRoot == NULL)
        State.TreeRoot = created;
    if (State.LastLeaf != NULL)
        StoreRecordOffsets(State.LastLeaf, window, bytesRead, position, (int)urlLength);
    return TRUE;
}

// Walks the records of an open site file into PluginState.TreeRoot.
void WalkRecords(FILE *file, LONG firstRecord, int count)
{
    long long position = firstRecord;
    for (int i = 0; i < count; i++) {
        // Every offset stored for this record must stay a signed 32-bit value.
        if (position < 0 || position > 0x7FFFFFFFLL - RECORD_WINDOW_SIZE)
            return;
        LONG recordLength = 0;
        if (!ReadRecord(file, (LONG)position, &recordLength))
            return;
        // A length that does not move forward would revisit records.
        if (recordLength <= 0)
            return;
        position += recordLength;
    }
}

// Reads the header of the site file and walks its records. Returns TRUE when
// a progress run was begun.
BOOL ReadSiteRecords(FILE *file, int opMode)
{
    unsigned char count[2];
    unsigned char blockLength[4];
    BOOL haveCount = ReadStreamAt(file, SITE_RECORD_COUNT_OFFSET, count, 2) == 2;
    BOOL haveBlock = ReadStreamAt(file, SITE_BLOCK_LENGTH_OFFSET, blockLength, 4) == 4;
    int records = haveCount ? (int)DecodeU16(count) - 2 : -2;
    ProgressBegin(&State.Progress, "reading site", records, opMode & (OPM_SILENT | OPM_FIND));
    if (haveBlock) {
        Loading = TRUE;
        // A file per record and some folders: room for about 1/16 more.
        uint32_t expected = records > 0 ? (uint32_t)records + (uint32_t)records / 16 + 64 : 0;
        PoolReserve(expected);
        OpenSiblingIndex(expected);
        WalkRecords(file, ClampToLong(16LL + DecodeS32(blockLength)), records);
        CloseSiblingIndex();
        Loading = FALSE;
    }
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
    if (candidate != NULL) {
        FILE *file = OpenSiteFile(0, LiveDescriptionOf(candidate));
        if (file == NULL) {
            ShowError("can't open file!");
        } else {
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
        State.CurrentSite = 0;
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
