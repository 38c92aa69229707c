// Recognising a cache folder or a site file by what is on disk. A folder
// qualifies when it holds a folder "icache" or at least one "cache*." entry;
// a file when its header reads as a site file's. Nothing here shows a box:
// the callers decide what the user is told.
#include "cache/open_path.h"

#include <string.h>

#include "cache/cache_folder.h"
#include "cache/site_file.h"
#include "cache/site_list.h"
#include "platform/stream.h"

namespace {

BOOL IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// `base` + `tail` into `out`; FALSE when it does not fit.
BOOL JoinPath(char *out, size_t size, const char *base, size_t baseLength, const char *tail)
{
    size_t tailLength = strlen(tail);
    if (baseLength + tailLength + 1 > size)
        return FALSE;
    memcpy(out, base, baseLength);
    memcpy(out + baseLength, tail, tailLength + 1);
    return TRUE;
}

// The first entry matching `pattern`; FALSE when there is none.
BOOL FindEntry(const char *pattern, WIN32_FIND_DATAA *found)
{
    HANDLE search = FindFirstFileA(pattern, found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    return TRUE;
}

BOOL IsSiteFile(const char *path, char *folder, char *siteFile, char *siteName)
{
    FILE *file = OpenStream(path, "rb");
    if (file == NULL)
        return FALSE;
    unsigned char header[SITE_HEADER_FIXED_SIZE + SITE_NAME_SIZE];
    size_t got = ReadStream(file, header, sizeof header);
    CloseStream(file);
    // The file is named as its folder spells it: it is found again, and
    // deleted, only by that name.
    return ReadSiteFileHeader(header, (LONG)got, siteName, SITE_NAME_SIZE) &&
           SplitFilePath(path, folder, CACHE_FOLDER_SIZE, siteFile, MAX_PATH) &&
           FindSpelling(path, siteFile, siteFile, MAX_PATH);
}

} // namespace

BOOL ReadSiteFileHeader(const unsigned char *data, LONG size, char *siteName, size_t nameSize)
{
    if (data == NULL || siteName == NULL || nameSize == 0 || size < SITE_HEADER_FIXED_SIZE)
        return FALSE;
    if (!IsSiteMagic(data + SITE_MAGIC_OFFSET))
        return FALSE;
    // Any name the cache folder's listing takes (a long one is cut there and
    // here), so a file copied out of its cache opens as it listed.
    LONG nameLength = DecodeS32(data + SITE_NAME_LENGTH_OFFSET);
    if (nameLength < 0)
        return FALSE;
    size_t shown = (size_t)nameLength < nameSize - 1 ? (size_t)nameLength : nameSize - 1;
    if ((size_t)(size - SITE_HEADER_FIXED_SIZE) < shown)
        return FALSE;
    memcpy(siteName, data + SITE_NAME_OFFSET, shown);
    siteName[shown] = 0;
    return TRUE;
}

BOOL SplitFilePath(const char *path, char *folder, size_t folderSize, char *name, size_t nameSize)
{
    size_t length = strnlen(path, OWN_PATH_SIZE);
    size_t cut = length;
    while (cut > 0 && !IsSeparator(path[cut - 1]))
        cut--;
    // A bare name lies in the current folder.
    const char *base = cut > 0 ? path : ".\\";
    size_t baseLength = cut > 0 ? cut : 2;
    if (length >= OWN_PATH_SIZE || cut == length || baseLength + 1 > folderSize ||
        length - cut + 1 > nameSize)
        return FALSE;
    memcpy(folder, base, baseLength);
    folder[baseLength] = 0;
    memcpy(name, path + cut, length - cut + 1);
    return TRUE;
}

enum OpenPathKind ClassifyOpenPath(const char *path, char *folder, char *siteFile,
                                   char *siteName)
{
    size_t length = strnlen(path, OWN_PATH_SIZE);
    if (length == 0 || length >= OWN_PATH_SIZE)
        return OPEN_PATH_NONE;
    while (length > 1 && IsSeparator(path[length - 1]))
        length--;
    siteFile[0] = 0;
    siteName[0] = 0;
    char probe[OWN_PATH_SIZE + 16];
    WIN32_FIND_DATAA found;
    // The folder NetSonic's "CachePath" names: its "icache" holds the sites.
    if (JoinPath(probe, sizeof probe, path, length, "\\icache") && FindEntry(probe, &found) &&
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return JoinPath(folder, CACHE_FOLDER_SIZE, path, length, CACHE_SUBFOLDER)
                   ? OPEN_PATH_FOLDER
                   : OPEN_PATH_NONE;
    if (JoinPath(probe, sizeof probe, path, length, "") &&
        IsSiteFile(probe, folder, siteFile, siteName))
        return OPEN_PATH_SITE_FILE;
    // "icache" itself, or any folder of site files.
    if (JoinPath(probe, sizeof probe, path, length, "\\" SITE_FILE_PATTERN) &&
        FindEntry(probe, &found))
        return JoinPath(folder, CACHE_FOLDER_SIZE, path, length, "\\") ? OPEN_PATH_FOLDER
                                                                       : OPEN_PATH_NONE;
    return OPEN_PATH_NONE;
}
