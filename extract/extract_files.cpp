// GetFiles and the writers beneath it. One destination path buffer is shared
// by every level of a walk: each level appends "\" and one name, made safe,
// cut so the path stays within the path limit (only names are ever cut, never
// the destination) and numbered when this operation already created it. Each
// body goes to a new temporary file beside its target and is moved over the
// target name only when complete, so a failure leaves an older file as it was
// and a link at the name is replaced, never written through. A failed item is
// reported with its name, full path and reason, and stays selected; the walk
// goes on, except after a full destination or a cancelled warning box, which
// end the whole operation.
#include "extract/extract_files.h"

#include <stdio.h>
#include <string.h>

#include "browse/nav_stack.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "extract/created_names.h"
#include "extract/sanitize_name.h"
#include "host/entry_points.h"
#include "host/item_guard.h"
#include "host/messages.h"
#include "host/own_panels.h"
#include "platform/file_names.h"
#include "platform/stream.h"

namespace {

unsigned char CopyBuffer[COPY_CHUNK_SIZE]; // the one copy buffer; calls never overlap

#define TEMP_PREFIX "~qv"
#define TEMP_NAME_LONGEST 11 // "~qvFFFF.tmp"

// The length of the destination folder GetFiles was given: temporaries go
// nowhere above it.
size_t DestRootLength;

BOOL Stopped;       // the operation ends: a full destination or a cancelled box
DWORD SiteOpenError; // why the site stream of the operation did not open

BOOL IsDiskFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

BOOL CopyEnds(void)
{
    return Stopped || ErrorBoxCancelled();
}

void ReportNode(const char *text, const struct SiteNode *node, const char *path, DWORD error)
{
    if (ShowItemFailure(text, node->name, path, error) == -1 || IsDiskFull(error))
        Stopped = TRUE;
}

// "name~2.ext": `name` numbered with `number` before its extension. Whole
// when that is at most `wholeRoom` characters, else cut to `cutRoom` (the
// stem first, then the extension). FALSE when no such name fits.
BOOL NumberName(const char *name, unsigned number, size_t wholeRoom, size_t cutRoom, char *out)
{
    char suffix[16];
    size_t suffixLength = (size_t)snprintf(suffix, sizeof suffix, "~%u", number);
    size_t length = strlen(name);
    const char *dot = strrchr(name, '.');
    size_t stem = dot != NULL && dot != name ? (size_t)(dot - name) : length;
    size_t extension = length - stem;
    if (stem + suffixLength + extension > wholeRoom) {
        if (suffixLength >= cutRoom)
            return FALSE;
        if (suffixLength + extension >= cutRoom)
            extension = 0; // no room for the extension: the number ends the name
        size_t keep = cutRoom - suffixLength - extension;
        stem = keep < stem ? keep : stem;
    }
    memcpy(out, name, stem);
    memcpy(out + stem, suffix, suffixLength);
    memcpy(out + stem + suffixLength, name + length - extension, extension);
    out[stem + suffixLength + extension] = 0;
    return TRUE;
}

// Cuts a name to `room` characters and makes the cut end safe again.
void CutName(char *name, size_t room)
{
    for (int round = 0; round < 3 && strlen(name) > room; round++) {
        name[room] = 0;
        SanitizeName(name, MAX_PATH + 1, 1);
    }
}

// The longest name that fits behind a folder path of `folderLength`: whole up
// to the limit, cut to one less (the rule for every cut).
size_t WholeRoom(size_t folderLength)
{
    return folderLength + 1 < NAME_LENGTH_LIMIT ? NAME_LENGTH_LIMIT - folderLength - 1 : 0;
}

size_t CutRoom(size_t folderLength)
{
    return folderLength + 2 < NAME_LENGTH_LIMIT ? NAME_LENGTH_LIMIT - folderLength - 2 : 0;
}

// TRUE when `path`, a name this operation did not create, is the short
// name of one it did (only a short name holds "~").
BOOL ReachesCreated(const char *path, size_t folderLength)
{
    char longPath[DEST_PATH_SIZE];
    if (strchr(path + folderLength, '~') == NULL || !LongPathOf(path, longPath, sizeof longPath))
        return FALSE;
    // The long name behind the folder as this operation spells it (the
    // destination itself may be given in short names).
    const char *separator = strrchr(longPath, '\\');
    const char *longName = separator != NULL ? separator + 1 : longPath;
    char created[DEST_PATH_SIZE];
    if (folderLength + 1 + strlen(longName) >= sizeof created)
        return FALSE;
    memcpy(created, path, folderLength);
    created[folderLength] = '\\';
    strcpy(created + folderLength + 1, longName);
    return WasCreated(created);
}

// Puts "\" and the name for `name` behind the folder path at the start of
// `path` (`folderLength` characters). FALSE, the path unchanged, when the
// folder leaves no room for a name.
BOOL PlaceName(char *path, size_t folderLength, const char *name)
{
    char clean[MAX_PATH + 1];
    size_t length = strnlen(name, MAX_PATH);
    memcpy(clean, name, length);
    clean[length] = 0;
    SanitizeName(clean, sizeof clean, 1);
    if (strlen(clean) > WholeRoom(folderLength)) {
        if (CutRoom(folderLength) == 0)
            return FALSE;
        CutName(clean, CutRoom(folderLength));
    }
    path[folderLength] = '\\';
    char *position = path + folderLength + 1;
    strcpy(position, clean);
    // A name this operation created is never taken over: the first free
    // numbered name is used instead.
    for (unsigned number = 2; WasCreated(path) || ReachesCreated(path, folderLength); number++) {
        if (!NumberName(clean, number, WholeRoom(folderLength), CutRoom(folderLength), position)) {
            path[folderLength] = 0;
            return FALSE;
        }
    }
    return TRUE;
}

// Reports an item whose name found no room behind `folder`.
void ReportNoRoom(const char *name, const char *folder, BOOL isFolder, const struct SiteNode *node)
{
    char shown[DEST_PATH_SIZE]; // the path it would have had, as far as it fits
    size_t folderLength = strnlen(folder, sizeof shown - 2);
    size_t nameLength = name != NULL ? strnlen(name, sizeof shown - folderLength - 2) : 0;
    memcpy(shown, folder, folderLength);
    shown[folderLength] = '\\';
    memcpy(shown + folderLength + 1, name, nameLength);
    shown[folderLength + 1 + nameLength] = 0;
    const char *text = isFolder ? "can't create dir!" : "can't create file!";
    if (node != NULL)
        ReportNode(text, node, shown, ERROR_FILENAME_EXCED_RANGE);
    else if (ShowItemFailure(text, name, shown, ERROR_FILENAME_EXCED_RANGE) == -1)
        Stopped = TRUE;
}

// How many bytes to copy, and from where.
struct CopyExtent {
    LONG offset;
    LONG length;
    BOOL toSeparator; // header of unknown end: stop before the first "\r\n\r\n"
    BOOL body;        // a body, which the system may copy itself
};

struct CopyExtent ExtentOf(const struct SiteNode *node, int headerMode)
{
    struct CopyExtent extent = {node->bodyOffset, node->bodyLength, FALSE, !headerMode};
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

// The copy itself. Returns NULL on success or the failure text, with *error
// the reason.
const char *CopyExtentTo(FILE *output, FILE *site, struct CopyExtent extent, DWORD *error)
{
    *error = ERROR_HANDLE_EOF;
    if (extent.body && extent.length > 0) {
        // Whatever the system copies itself is done; the rest, and any
        // failure, goes the ordinary way. (A header is small, and goes to
        // the temporary folder, often on another file system.)
        size_t fast = CopyStreamFast(output, site, extent.offset, (size_t)extent.length);
        if (fast == (size_t)extent.length)
            return NULL;
        extent.offset += (LONG)fast;
        extent.length -= (LONG)fast;
    }
    // One chunk (a header, a small body) is one positioned read.
    BOOL single = extent.length <= COPY_CHUNK_SIZE;
    if (extent.offset < 0 || (!single && !SeekStream(site, extent.offset)))
        return extent.length > 0 ? "can't read file!" : NULL;
    LONG remaining = extent.length;
    do {
        size_t wanted = remaining < COPY_CHUNK_SIZE ? (size_t)remaining : COPY_CHUNK_SIZE;
        size_t got = single ? ReadStreamAt(site, extent.offset, CopyBuffer, wanted)
                            : ReadStream(site, CopyBuffer, wanted);
        size_t keep = extent.toSeparator ? FindHeaderSeparator(CopyBuffer, got) : got;
        if (!WriteStream(output, CopyBuffer, keep)) {
            *error = GetLastError();
            return "can't write file!";
        }
        if (extent.toSeparator)
            return NULL; // one chunk, ended by the separator or the file's end
        if (got < wanted)
            return "can't read file!";
        remaining -= (LONG)wanted;
    } while (remaining > 0);
    return NULL;
}

// Copies into `output` and closes it; NULL or the failure text with its
// reason.
const char *WriteExtent(FILE *output, FILE *site, struct CopyExtent extent, DWORD *error)
{
    const char *failure = CopyExtentTo(output, site, extent, error);
    if (!CloseStream(output) && failure == NULL) {
        *error = GetLastError();
        failure = "can't write file!";
    }
    return failure;
}

// Where the temporary of the file at `path` goes: its own folder, or, when
// no temporary name fits behind that (a folder path of 248 characters or
// more, whose files still may), the nearest folder above it inside the
// destination where one does. The length of that folder's path.
size_t TemporaryFolderLength(const char *path, size_t folderLength)
{
    size_t length = folderLength;
    while (length + 1 + TEMP_NAME_LONGEST >= MAX_PATH) {
        size_t cut = length;
        while (cut > 0 && path[cut - 1] != '\\')
            cut--;
        if (cut == 0 || cut - 1 < DestRootLength)
            return folderLength; // none: its creation fails as too long
        length = cut - 1;
    }
    return length;
}

// The body goes to a new temporary file in the target's folder (or the one
// TemporaryFolderLength chooses), which is moved over the target name once
// complete, or removed.
const char *WriteBodyInPlace(const char *path, FILE *site, struct CopyExtent extent, DWORD *error)
{
    char folder[DEST_PATH_SIZE];
    const char *separator = strrchr(path, '\\');
    size_t folderLength = separator != NULL ? (size_t)(separator - path) : 0;
    if (folderLength != 0)
        folderLength = TemporaryFolderLength(path, folderLength);
    memcpy(folder, path, folderLength);
    folder[folderLength] = 0;
    char temp[DEST_PATH_SIZE];
    FILE *output = folderLength == 0 || folderLength >= MAX_PATH
                       ? NULL
                       : CreateTempStream(folder, TEMP_PREFIX, temp);
    if (output == NULL) {
        *error = GetLastError();
        return "can't create file!";
    }
    const char *failure = WriteExtent(output, site, extent, error);
    if (failure == NULL && !MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING)) {
        *error = GetLastError();
        failure = "can't create file!";
    }
    if (failure != NULL)
        DeleteFileA(temp);
    return failure;
}

// The checks every file item passes before anything is written; FALSE after
// telling the user.
BOOL CanWrite(const struct SiteNode *node, const char *path, FILE *site, struct CopyExtent extent)
{
    if (site == NULL) {
        ReportNode("can't open file!", node, path, SiteOpenError);
        return FALSE;
    }
    if (extent.length < 0) {
        ReportNode("can't read file!", node, path, ERROR_INVALID_DATA); // a damaged record
        return FALSE;
    }
    return TRUE;
}

} // namespace

int ExtractFile(struct SiteNode *node, char *path, FILE *site)
{
    struct CopyExtent extent = ExtentOf(node, FALSE);
    if (!CanWrite(node, path, site, extent))
        return 0;
    // (A FIFO or a device at the target's name is never written to: the
    // body goes to a new file, which the move puts in its place, or not.)
    DWORD error = ERROR_SUCCESS;
    const char *failure = WriteBodyInPlace(path, site, extent, &error);
    if (failure != NULL) {
        ReportNode(failure, node, path, error);
        return 0;
    }
    RememberCreated(path);
    return 1;
}

int WriteStoredHeader(struct SiteNode *node, FILE *output, const char *path, FILE *site)
{
    struct CopyExtent extent = ExtentOf(node, TRUE);
    if (!CanWrite(node, path, site, extent)) {
        CloseStream(output);
        return 0;
    }
    DWORD error = ERROR_SUCCESS;
    const char *failure = WriteExtent(output, site, extent, &error);
    if (failure != NULL) {
        ReportNode(failure, node, path, error);
        return 0;
    }
    return 1;
}

int ExtractFolder(struct SiteNode *node, char *path, FILE *site)
{
    if (CreateDirectoryA(path, NULL)) {
        RememberCreated(path);
    } else {
        DWORD error = GetLastError();
        // What is there already is gone on into, but never a link (or
        // junction): it would take the copy elsewhere. (A file there makes
        // each entry fail by its own name.)
        DWORD there = error == ERROR_ALREADY_EXISTS ? GetFileAttributesA(path) : 0;
        if (error != ERROR_ALREADY_EXISTS ||
            (there != INVALID_FILE_ATTRIBUTES && (there & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
            ReportNode("can't create dir!", node, path, error);
            return 0;
        }
        // Taken by this operation all the same: a later folder whose name
        // cleans up alike is numbered, as in an empty destination, rather
        // than merged into this one.
        RememberCreated(path);
    }
    size_t folderLength = strlen(path);
    int result = 1;
    for (struct SiteNode *child = node->firstChild; child != NULL && !CopyEnds();
         child = child->next) {
        path[folderLength] = 0;
        BOOL isFolder = child->firstChild != NULL;
        if (child->name == NULL || !PlaceName(path, folderLength, child->name)) {
            ReportNoRoom(child->name, path, isFolder, child);
            result = 0;
            continue;
        }
        int written = isFolder ? ExtractFolder(child, path, site)
                               : ExtractFile(child, path, site);
        if (written == 0)
            result = 0;
    }
    path[folderLength] = 0;
    return CopyEnds() ? 0 : result;
}

int ExtractSite(HANDLE hPlugin, struct PluginPanelItem *item, char *path, int opMode)
{
    if (!LoadSiteTree(hPlugin, item, NULL, opMode))
        return 0;
    int result = 0;
    FILE *site = OpenCurrentSiteFile();
    if (site == NULL)
        SiteOpenError = GetLastError();
    if (!SiteFileWasRead()) {
        // "can't open file!" was shown while loading; nothing is created.
    } else if (site == NULL && State.TreeRoot->firstChild != NULL) {
        ReportNode("can't open file!", State.TreeRoot, path, SiteOpenError);
    } else {
        result = ExtractFolder(State.TreeRoot, path, site);
    }
    CloseStream(site);
    ClearNavStack(&State.NavStack);
    FreeTree(State.TreeRoot);
    MarkAtCacheRoot();
    BuildCurDir();
    return result;
}

namespace {

// One item of GetFiles, whose name is already at the end of `path`.
int ExtractItem(HANDLE hPlugin, struct PluginPanelItem *item, char *path, FILE *site,
                int opMode)
{
    BOOL isFolder = (item->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !InsideSite())
        return ExtractSite(hPlugin, item, path, opMode);
    struct SiteNode *node = LiveNodeOf(item);
    if (node == NULL)
        return 0; // not an item of the tree now loaded
    if (site == NULL) {
        ReportNode("can't open file!", node, path, SiteOpenError);
        return 0;
    }
    return isFolder ? ExtractFolder(node, path, site) : ExtractFile(node, path, site);
}

} // namespace

int WINAPI GetFiles(HANDLE hPlugin, struct PluginPanelItem *PanelItem, int ItemsNumber, int Move,
                    char *DestPath, int OpMode)
{
    (void)Move; // a move copies: nothing is ever removed from the cache
    if (DestPath == NULL || (PanelItem == NULL && ItemsNumber > 0))
        return FALSE;
    SelectPanel(hPlugin);
    Stopped = FALSE;
    ClearErrorCancel();
    char path[DEST_PATH_SIZE];
    size_t destLength = strnlen(DestPath, DEST_PATH_SIZE - 1);
    memcpy(path, DestPath, destLength);
    path[destLength] = 0;
    DestRootLength = destLength;
    FILE *site = InsideSite() ? OpenCurrentSiteFile() : NULL;
    SiteOpenError = site == NULL ? GetLastError() : ERROR_SUCCESS;
    int result = TRUE;
    for (int i = 0; i < ItemsNumber && !CopyEnds(); i++) {
        struct PluginPanelItem *item = &PanelItem[i];
        BOOL isFolder = (item->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char name[MAX_PATH + 1];
        size_t nameLength = strnlen(item->FindData.cFileName, MAX_PATH);
        memcpy(name, item->FindData.cFileName, nameLength);
        name[nameLength] = 0;
        path[destLength] = 0;
        int written = 0;
        if (PlaceName(path, destLength, name))
            written = ExtractItem(hPlugin, item, path, site, OpMode);
        else
            ReportNoRoom(name, path, isFolder, NULL);
        if (written)
            item->Flags = 0;
        else
            result = FALSE;
    }
    if (CopyEnds())
        result = FALSE;
    CloseStream(site);
    ForgetCreatedNames();
    return result;
}
