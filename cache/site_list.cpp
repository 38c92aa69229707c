// Reading the cache folder into the root listing. Of each site file only the
// header is read: the magic, the record count and the site name. A file that
// cannot be read as a site is still listed, under its own name and without a
// Description, so it cannot be entered.
#include "cache/site_list.h"

#include <stdlib.h>
#include <string.h>

#include "cache/site_file.h"
#include "host/handed_listings.h"
#include "host/plugin_state.h"
#include "host/progress_box.h"
#include "platform/file_names.h"
#include "platform/stream.h"

namespace {

char *CopyText(const char *text)
{
    size_t size = strlen(text) + 1;
    char *copy = (char *)malloc(size);
    if (copy != NULL)
        memcpy(copy, text, size);
    return copy;
}

// Reads the site header of an open file from its current position: the
// site's name (cut to MAX_PATH - 1 bytes) and the stored responses. FALSE
// when the file is not a readable site.
BOOL ReadHeaderName(FILE *file, char *name, LONG *responses)
{
    // The header and the longest name the listing keeps, in one read: a site
    // file is longer than that, and a shorter one still has to hold the
    // header and as much of the name as it declares.
    unsigned char header[SITE_HEADER_FIXED_SIZE + MAX_PATH - 1];
    size_t got = ReadStream(file, header, sizeof header);
    if (got < SITE_HEADER_FIXED_SIZE)
        return FALSE;
    if (!IsSiteMagic(header + SITE_MAGIC_OFFSET))
        return FALSE;
    LONG nameLength = DecodeS32(header + SITE_NAME_LENGTH_OFFSET);
    if (nameLength < 0)
        return FALSE;
    if (nameLength > MAX_PATH - 1)
        nameLength = MAX_PATH - 1;
    if (got - SITE_HEADER_FIXED_SIZE < (size_t)nameLength)
        return FALSE;
    memcpy(name, header + SITE_HEADER_FIXED_SIZE, (size_t)nameLength);
    name[nameLength] = 0;
    // A count of 0 or 1 (a damaged header) lists no responses, not 4 billion.
    LONG count = (LONG)DecodeU16(header + SITE_RECORD_COUNT_OFFSET) - 2;
    *responses = count > 0 ? count : 0;
    return TRUE;
}

// Reads the site header of an open file into the item and the entry's name.
// FALSE leaves both untouched: the file is not a readable site.
BOOL ReadSiteName(FILE *file, struct PluginPanelItem *item, WIN32_FIND_DATAA *findData)
{
    char name[MAX_PATH];
    LONG responses = 0;
    if (!ReadHeaderName(file, name, &responses))
        return FALSE;
    char *description = CopyText(findData->cFileName);
    if (description == NULL)
        return FALSE;
    item->NumberOfLinks = (DWORD)responses;
    item->Description = description;
    memcpy(findData->cFileName, name, strlen(name) + 1);
    return TRUE;
}

// TRUE when the reopened site file is still the one the tree was read from,
// as it was then: the same file (not another put in its place), neither
// written nor cut short since, with the same site's name.
BOOL StillTheSiteRead(FILE *file)
{
    static const struct StreamIdentity unknown = {0, 0, 0, 0, 0, {0, 0}};
    struct StreamIdentity now;
    if (memcmp(&State.SiteIdentity, &unknown, sizeof unknown) != 0 && GetStreamIdentity(file, &now) &&
        !SameStreamIdentity(&State.SiteIdentity, &now))
        return FALSE;
    char name[MAX_PATH];
    LONG responses = 0;
    BOOL same = ReadHeaderName(file, name, &responses) &&
                strncmp(name, State.SiteName, MAX_PATH - 1) == 0;
    return SeekStream(file, 0) && same;
}

// A site file's number: the decimal number after "cache" (leading white
// space and one sign accepted; no digits give 0). Clamped, never overflowing.
LONG SiteNumberOf(const char *fileName)
{
    size_t prefix = strlen(SITE_FILE_PREFIX);
    if (strnlen(fileName, prefix) < prefix)
        return 0;
    const char *p = fileName + prefix;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    int negative = 0;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long number = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        number = number * 10 + (*p - '0');
        if (number > 0x7FFFFFFFLL)
            number = 0x80000000LL;
    }
    if (negative)
        number = -number;
    if (number > 0x7FFFFFFFLL)
        number = 0x7FFFFFFFLL;
    return (LONG)number;
}

// "cache*." asks for names without an extension, but some searches (Wine's)
// also return cache6.tmp or cache.1: a dot after "cache" leaves a name out,
// on every system alike.
BOOL HasExtension(const WIN32_FIND_DATAA *findData)
{
    size_t length = strnlen(findData->cFileName, MAX_PATH);
    size_t prefix = strlen(SITE_FILE_PREFIX);
    return length > prefix && memchr(findData->cFileName + prefix, '.', length - prefix) != NULL;
}

} // namespace

BOOL BuildCachePath(char *path, size_t size, const char *name)
{
    if (State.CacheFolder == NULL || name == NULL)
        return FALSE;
    size_t folder = strlen(State.CacheFolder);
    size_t length = strlen(name);
    if (folder + length + 1 > size)
        return FALSE;
    memcpy(path, State.CacheFolder, folder);
    memcpy(path + folder, name, length + 1);
    return TRUE;
}

namespace {

typedef void (*FoundEntryFn)(WIN32_FIND_DATAA *findData);

// Walks the site files of the cache folder in search order, calling
// `callback` (when not NULL) for each; returns how many were found.
int ScanCacheFolder(FoundEntryFn callback)
{
    char pattern[SITE_PATH_SIZE];
    if (!BuildCachePath(pattern, sizeof pattern, SITE_FILE_PATTERN))
        return 0;
    WIN32_FIND_DATAA findData;
    // Names and types are enough: each site file's size and times come
    // from opening it (ReadSiteHeader), and counting needs none.
    HANDLE search = BeginNameSearch(pattern, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        if (HasExtension(&findData))
            continue;
        count++;
        if (callback != NULL)
            callback(&findData);
    } while (FindNextFileA(search, &findData));
    FindClose(search);
    return count;
}

// Fills the item at ListingCursor from one search entry and advances the
// cursor; never past ListingEnd.
void ReadSiteHeader(WIN32_FIND_DATAA *findData)
{
    struct PluginPanelItem *item = State.ListingCursor;
    // The folder may have grown since it was counted: extra entries are left out.
    if (item == NULL || item >= State.ListingEnd)
        return;
    findData->cFileName[MAX_PATH - 1] = 0;
    char path[SITE_PATH_SIZE];
    if (BuildCachePath(path, sizeof path, findData->cFileName)) {
        FILE *file = OpenFoundFile(path, findData);
        DWORD error = file == NULL ? GetLastError() : ERROR_SUCCESS;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return; // gone since the search saw it: not listed
        if (file != NULL) {
            if (ReadSiteName(file, item, findData))
                ProgressStep(&State.Progress, findData->cFileName, 1);
            CloseStream(file);
        }
    }
    findData->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    item->PackSize = findData->nFileSizeLow;
    memcpy(&item->FindData, findData, sizeof item->FindData);
    State.ListingCursor = item + 1;
}

} // namespace

BOOL HoldSiteList(int opMode)
{
    if (State.SiteList != NULL)
        return TRUE;
    int count = ScanCacheFolder(NULL);
    ProgressBegin(&State.Progress, "reading cache", count, opMode & (OPM_SILENT | OPM_FIND));
    // At least one item, so an empty listing is still a distinct allocation.
    struct PluginPanelItem *items =
        (struct PluginPanelItem *)calloc(count > 0 ? (size_t)count : 1, sizeof *items);
    if (items != NULL) {
        State.SiteList = items;
        State.ListingCursor = items;
        State.ListingEnd = items + count;
        ScanCacheFolder(ReadSiteHeader);
        // Entries that vanished between the two walks are not held.
        State.SiteCount = (LONG)(State.ListingCursor - items);
        State.ListingEnd = NULL;
    }
    ProgressEnd(&State.Progress);
    return items != NULL;
}

BOOL FindSpelling(const char *path, const char *name, char *spelling, size_t size)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    char first[MAX_PATH];
    memcpy(first, found.cFileName, sizeof first);
    first[MAX_PATH - 1] = 0;
    BOOL exact = FALSE;
    do
        exact = strncmp(found.cFileName, name, MAX_PATH) == 0 ? TRUE : FALSE;
    while (!exact && FindNextFileA(search, &found));
    FindClose(search);
    const char *chosen = exact ? name : first;
    size_t length = strnlen(chosen, MAX_PATH);
    if (length >= size)
        return FALSE;
    memmove(spelling, chosen, length + 1);
    return TRUE;
}

// TRUE when the folder of `path` holds an entry spelt exactly `fileName`:
// one in another letter case is another file where the file system tells
// case apart, and not the one listed.
BOOL SpeltAsListed(const char *path, const char *fileName)
{
    char spelling[MAX_PATH];
    if (FindSpelling(path, fileName, spelling, sizeof spelling) &&
        strncmp(spelling, fileName, MAX_PATH) == 0)
        return TRUE;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

FILE *OpenSiteFile(int number, const char *fileName)
{
    char path[SITE_PATH_SIZE];
    if (fileName != NULL) {
        size_t length = strlen(fileName);
        if (length >= sizeof State.SiteFile)
            return NULL;
        // Entering a site: it is reopened later by this name, never by number.
        memmove(State.SiteFile, fileName, length + 1);
        State.CurrentSite = SiteNumberOf(fileName);
        if (!BuildCachePath(path, sizeof path, fileName) || !SpeltAsListed(path, fileName))
            return NULL;
    } else {
        char name[32];
        snprintf(name, sizeof name, SITE_FILE_PREFIX "%i", number);
        if (!BuildCachePath(path, sizeof path, name))
            return NULL;
    }
    return OpenStream(path, "rb");
}

FILE *OpenCurrentSiteFile(void)
{
    char path[SITE_PATH_SIZE];
    if (!InsideSite() || !BuildCachePath(path, sizeof path, State.SiteFile))
        return NULL;
    FILE *file = OpenStream(path, "rb");
    // The tree's offsets hold for the file it was read from, not for another
    // one put in its place.
    if (file != NULL && !StillTheSiteRead(file)) {
        CloseStream(file);
        SetLastError(ERROR_FILE_INVALID);
        return NULL;
    }
    return file;
}

BOOL SiteFileIsAsListed(const char *fileName)
{
    const struct PluginPanelItem *held = FindSiteItemByFile(fileName);
    char path[SITE_PATH_SIZE];
    if (held == NULL || !BuildCachePath(path, sizeof path, fileName) ||
        !SpeltAsListed(path, fileName))
        return FALSE;
    FILE *file = OpenStream(path, "rb");
    if (file == NULL)
        return FALSE;
    struct StreamIdentity now;
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof found);
    memcpy(found.cFileName, fileName, strnlen(fileName, MAX_PATH - 1));
    struct PluginPanelItem probe;
    memset(&probe, 0, sizeof probe);
    // The listing knows no file number: size and last write are compared.
    struct StreamIdentity listed = {0, 0, 0, held->FindData.nFileSizeHigh,
                                    held->FindData.nFileSizeLow, held->FindData.ftLastWriteTime};
    BOOL same = GetStreamIdentity(file, &now) && SameStreamIdentity(&listed, &now) &&
                ReadSiteName(file, &probe, &found) &&
                strncmp(found.cFileName, held->FindData.cFileName, MAX_PATH) == 0;
    free(probe.Description);
    CloseStream(file);
    return same;
}

struct PluginPanelItem *FindSiteItem(const char *name)
{
    if (State.SiteList == NULL || name == NULL)
        return NULL;
    for (LONG i = 0; i < State.SiteCount; i++) {
        struct PluginPanelItem *item = &State.SiteList[i];
        if (strncmp(item->FindData.cFileName, name, MAX_PATH) == 0 &&
            strnlen(name, MAX_PATH) < MAX_PATH)
            return item;
    }
    return NULL;
}

struct PluginPanelItem *FindSiteItemByFile(const char *fileName)
{
    if (State.SiteList == NULL || fileName == NULL)
        return NULL;
    for (LONG i = 0; i < State.SiteCount; i++) {
        struct PluginPanelItem *item = &State.SiteList[i];
        if (item->Description != NULL && strcmp(item->Description, fileName) == 0)
            return item;
    }
    return NULL;
}

namespace {

// A dropped listing (items with their texts) or one retired text.
struct Retired {
    struct PluginPanelItem *items; // NULL for a single text
    LONG count;
    char *text;
    const struct PluginPanelItem *shownIn; // the listing a panel may show it in
    struct Retired *next;
};

struct Retired *RetiredList;

void Retire(struct PluginPanelItem *items, LONG count, char *text,
            const struct PluginPanelItem *shownIn)
{
    struct Retired *entry = (struct Retired *)malloc(sizeof *entry);
    if (entry == NULL) {
        // Cannot remember it: freeing now is the lesser harm than losing it.
        if (items != NULL) {
            for (LONG i = 0; i < count; i++)
                free(items[i].Description);
        }
        free(items);
        free(text);
        return;
    }
    entry->items = items;
    entry->count = count;
    entry->text = text;
    entry->shownIn = shownIn;
    entry->next = RetiredList;
    RetiredList = entry;
}

BOOL ListingHolds(const struct PluginPanelItem *items, LONG count, const char *text)
{
    for (LONG i = 0; i < count; i++) {
        if (items[i].Description == text)
            return TRUE;
    }
    return FALSE;
}

} // namespace

void ReleaseSiteList(void)
{
    if (State.SiteList == NULL)
        return;
    Retire(State.SiteList, State.SiteCount, NULL, State.SiteList);
    State.SiteList = NULL;
}

void RetireDescription(char *text)
{
    if (text != NULL)
        Retire(NULL, 0, text, State.SiteList);
}

int IsRetiredText(const char *text)
{
    for (const struct Retired *entry = RetiredList; entry != NULL; entry = entry->next) {
        if (entry->text == text || ListingHolds(entry->items, entry->count, text))
            return TRUE;
    }
    return FALSE;
}

int IsHeldText(const char *text)
{
    return State.SiteList != NULL && ListingHolds(State.SiteList, State.SiteCount, text);
}

void FreeRetiredListings(int all)
{
    for (struct Retired **link = &RetiredList; *link != NULL;) {
        struct Retired *entry = *link;
        if (!all && ListingShown(entry->shownIn)) {
            link = &entry->next;
            continue;
        }
        *link = entry->next;
        for (LONG i = 0; i < entry->count; i++)
            free(entry->items[i].Description);
        free(entry->items);
        free(entry->text);
        free(entry);
    }
}
