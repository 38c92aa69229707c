// Opening a panel elsewhere than on NetSonic's registered cache: on a site
// file the user pressed Enter on in an ordinary panel (OpenFilePlugin), and
// on the folder or site file typed after the command prefix "vork:"
// (OpenPlugin with OPEN_COMMANDLINE). A copied cache thus opens without any
// registry value.
#include <string.h>

#include "cache/open_path.h"
#include "host/entry_points.h"
#include "host/messages.h"
#include "host/own_panels.h"

namespace {

// The command line's text without surrounding blanks and one pair of
// quotes; FALSE when nothing is left or it does not fit.
BOOL TrimCommandPath(const char *text, char *path, size_t size)
{
    size_t length = strnlen(text, size);
    if (length >= size)
        return FALSE;
    while (length > 0 && (*text == ' ' || *text == '\t')) {
        text++;
        length--;
    }
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        length--;
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
        text++;
        length -= 2;
    }
    if (length == 0)
        return FALSE;
    memcpy(path, text, length);
    path[length] = 0;
    return TRUE;
}

} // namespace

HANDLE OpenFromCommandLine(const char *text)
{
    char path[OWN_PATH_SIZE];
    char folder[CACHE_FOLDER_SIZE];
    char siteFile[MAX_PATH];
    char siteName[SITE_NAME_SIZE];
    enum OpenPathKind kind = OPEN_PATH_NONE;
    if (text != NULL && TrimCommandPath(text, path, sizeof path))
        kind = ClassifyOpenPath(path, folder, siteFile, siteName);
    if (kind == OPEN_PATH_FOLDER)
        return OpenOwnPanel(folder, NULL, NULL);
    if (kind == OPEN_PATH_SITE_FILE)
        return OpenOwnPanel(folder, siteFile, siteName);
    ShowError("not a cache folder or site file!");
    return INVALID_HANDLE_VALUE;
}

HANDLE WINAPI OpenFilePlugin(char *Name, const unsigned char *Data, int DataSize)
{
    // Asked about every file the user opens: anything that is not a site
    // file is refused at once, silently.
    char siteName[SITE_NAME_SIZE];
    if (Name == NULL || !ReadSiteFileHeader(Data, DataSize, siteName, sizeof siteName))
        return INVALID_HANDLE_VALUE;
    char folder[CACHE_FOLDER_SIZE];
    char siteFile[MAX_PATH];
    if (!SplitFilePath(Name, folder, sizeof folder, siteFile, sizeof siteFile)) {
        ShowError("path too long!");
        return INVALID_HANDLE_VALUE;
    }
    return OpenOwnPanel(folder, siteFile, siteName);
}
