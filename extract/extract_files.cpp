// GetFiles and the writers beneath it. One destination path buffer is shared
// by every level of a walk: each level appends "\" and one sanitised name.
// Every write and close is checked: a failed item is reported with its name,
// leaves no partial file behind, stays selected, and the walk goes on.
#include "extract/extract_files.h"

#include <string.h>

#include "browse/nav_stack.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "extract/sanitize_name.h"
#include "host/entry_points.h"
#include "host/item_guard.h"
#include "host/messages.h"
#include "host/own_panels.h"
#include "platform/stream.h"

namespace {

unsigned char CopyBuffer[COPY_CHUNK_SIZE]; // the one copy buffer; calls never overlap

void ReportNode(const char *text, const struct SiteNode *node)
{
    ShowError(text);
    ShowError(node->name);
}

// Appends "\" and `name` at the end of `path`; returns the name's position,
// or NULL (path unchanged) when the result would not fit.
char *AppendName(char *path, const char *name)
{
    size_t length = strlen(path);
    size_t nameLength = strnlen(name, MAX_PATH);
    if (length + 1 + nameLength + 1 > DEST_PATH_SIZE)
        return NULL;
    path[length] = '\\';
    char *position = path + length + 1;
    memcpy(position, name, nameLength);
    position[nameLength] = 0;
    SanitizeName(position, (size_t)(path + DEST_PATH_SIZE - position), 1);
    return position;
}

// How many bytes to copy, and from where.
struct CopyExtent {
    LONG offset;
    LONG length;
    BOOL toSeparator; // header of unknown end: stop before the first "\r\n\r\n"
};

struct CopyExtent ExtentOf(const struct SiteNode *node, int headerMode)
{
    struct CopyExtent extent = {node->bodyOffset, node->bodyLength, FALSE};
    if (!headerMode)
        return extent;
    extent.offset = node->headerOffset;
    if (node->bodyOffset != node->headerOffset) {
        // The tree found the separator: the header ends 4 bytes before the body.
        long long length = (long long)node->bodyOffset - 4 - node->headerOffset;
        extent.length = length < 0 ? 0 : (LONG)(length > COPY_CHUNK_SIZE ? COPY_CHUNK_SIZE : length);
    } else {
        extent.length = COPY_CHUNK_SIZE;
        extent.toSeparator = TRUE;
    }
    return extent;
}

// The copy itself. Returns NULL on success or the failure text.
const char *CopyExtentTo(FILE *output, FILE *site, struct CopyExtent extent)
{
    if (!SeekStream(site, extent.offset))
        return extent.length > 0 ? "can't read file!" : NULL;
    LONG remaining = extent.length;
    do {
        size_t wanted = remaining < COPY_CHUNK_SIZE ? (size_t)remaining : COPY_CHUNK_SIZE;
        size_t got = ReadStream(site, CopyBuffer, wanted);
        size_t keep = extent.toSeparator ? FindHeaderSeparator(CopyBuffer, got) : got;
        if (!WriteStream(output, CopyBuffer, keep))
            return "can't write file!";
        if (extent.toSeparator)
            return NULL; // one chunk, ended by the separator or the file's end
        if (got < wanted)
            return "can't read file!";
        remaining -= (LONG)wanted;
    } while (remaining > 0);
    return NULL;
}

} // namespace

int ExtractFile(struct SiteNode *node, char *path, FILE *site, int headerMode)
{
    SanitizeName(path, DEST_PATH_SIZE, 0);
    if (site == NULL) {
        ReportNode("can't open file!", node);
        return 0;
    }
    struct CopyExtent extent = ExtentOf(node, headerMode);
    if (extent.length < 0) {
        ReportNode("can't read file!", node); // a damaged record
        return 0;
    }
    FILE *output = OpenStream(path, "wb");
    if (output == NULL) {
        ReportNode("can't create file!", node);
        return 0;
    }
    const char *failure = CopyExtentTo(output, site, extent);
    if (!CloseStream(output) && failure == NULL)
        failure = "can't write file!";
    if (failure == NULL)
        return 1;
    // A file cut short by the destination is removed; one cut short by the
    // cache keeps the bytes that were really read.
    if (strcmp(failure, "can't write file!") == 0)
        DeleteFileA(path);
    ReportNode(failure, node);
    return 0;
}

int ExtractFolder(struct SiteNode *node, char *path, FILE *site)
{
    SanitizeName(path, DEST_PATH_SIZE, 0);
    if (!CreateDirectoryA(path, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        ReportNode("can't create dir!", node);
        return 0;
    }
    size_t folderLength = strlen(path);
    int result = 1;
    for (struct SiteNode *child = node->firstChild; child != NULL; child = child->next) {
        path[folderLength] = 0;
        BOOL isFolder = child->firstChild != NULL;
        if (child->name == NULL || AppendName(path, child->name) == NULL) {
            ReportNode(isFolder ? "can't create dir!" : "can't create file!", child);
            result = 0;
            continue;
        }
        int written = isFolder ? ExtractFolder(child, path, site)
                               : ExtractFile(child, path, site, EXTRACT_BODY);
        if (written == 0)
            result = 0;
    }
    path[folderLength] = 0;
    return result;
}

int ExtractSite(HANDLE hPlugin, struct PluginPanelItem *item, char *path, int opMode)
{
    if (!LoadSiteTree(hPlugin, item, NULL, opMode))
        return 0;
    int result = 0;
    FILE *site = OpenSiteFile(State.CurrentSite, NULL);
    if (!SiteFileWasRead()) {
        // "can't open file!" was shown while loading; nothing is created.
    } else if (site == NULL && State.TreeRoot->firstChild != NULL) {
        ReportNode("can't open file!", State.TreeRoot);
    } else {
        result = ExtractFolder(State.TreeRoot, path, site);
    }
    CloseStream(site);
    ClearNavStack(&State.NavStack);
    FreeTree(State.TreeRoot);
    State.CurrentSite = 0;
    BuildCurDir();
    return result;
}

namespace {

// One item of GetFiles, whose name is already at the end of `path`.
int ExtractItem(HANDLE hPlugin, struct PluginPanelItem *item, char *path, FILE *site,
                int opMode)
{
    BOOL isFolder = (item->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && State.CurrentSite == 0)
        return ExtractSite(hPlugin, item, path, opMode);
    struct SiteNode *node = LiveNodeOf(item);
    if (node == NULL)
        return 0; // not an item of the tree now loaded
    if (site == NULL) {
        ReportNode("can't open file!", node);
        return 0;
    }
    return isFolder ? ExtractFolder(node, path, site) : ExtractFile(node, path, site, EXTRACT_BODY);
}

} // namespace

int WINAPI GetFiles(HANDLE hPlugin, struct PluginPanelItem *PanelItem, int ItemsNumber, int Move,
                    char *DestPath, int OpMode)
{
    (void)Move; // a move copies: nothing is ever removed from the cache
    if (DestPath == NULL || (PanelItem == NULL && ItemsNumber > 0))
        return FALSE;
    SelectPanel(hPlugin);
    char path[DEST_PATH_SIZE];
    size_t destLength = strnlen(DestPath, DEST_PATH_SIZE);
    FILE *site = State.CurrentSite != 0 ? OpenSiteFile(State.CurrentSite, NULL) : NULL;
    int result = TRUE;
    for (int i = 0; i < ItemsNumber; i++) {
        struct PluginPanelItem *item = &PanelItem[i];
        BOOL isFolder = (item->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char name[MAX_PATH + 1];
        size_t nameLength = strnlen(item->FindData.cFileName, MAX_PATH);
        memcpy(name, item->FindData.cFileName, nameLength);
        name[nameLength] = 0;
        int written = 0;
        if (destLength + 1 < DEST_PATH_SIZE) {
            memcpy(path, DestPath, destLength);
            path[destLength] = 0;
            if (AppendName(path, name) != NULL)
                written = ExtractItem(hPlugin, item, path, site, OpMode);
            else
                written = -1;
        } else {
            written = -1;
        }
        if (written == -1) {
            ShowError(isFolder ? "can't create dir!" : "can't create file!");
            ShowError(name);
            written = 0;
        }
        if (written)
            item->Flags = 0;
        else
            result = FALSE;
    }
    CloseStream(site);
    return result;
}
