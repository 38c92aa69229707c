// The header view behind Shift+F3. Each view creates a new temporary file;
// the host's viewer deletes it when its window closes.
#include "extract/header_view.h"

#include "extract/extract_files.h"
#include "host/messages.h"
#include "platform/stream.h"

void ShowStoredHeader(struct SiteNode *node, FILE *site)
{
    // ExtractFile may cut a path in place and works in a destination-sized
    // buffer; the temporary name fits in its first TEMP_NAME_SIZE bytes.
    char name[DEST_PATH_SIZE];
    name[0] = 0;
    DWORD folderLength = GetTempPathA(TEMP_NAME_SIZE, name);
    // Without a new temporary file there is nothing to show, and the viewer
    // deletes what it is given: never hand it the folder or a stale name.
    if (folderLength == 0 || folderLength >= TEMP_NAME_SIZE ||
        GetTempFileNameA(name, TEMP_FILE_PREFIX, 0, name) == 0) {
        DWORD error = GetLastError();
        CloseStream(site);
        ShowItemFailure("can't create file!", node->name, name, error);
        return;
    }
    int written = ExtractFile(node, name, site, EXTRACT_HEADER);
    CloseStream(site);
    if (!written) {
        // The user has been told; a header cut short is not shown as if whole.
        DeleteFileA(name);
        return;
    }
    if (State.Info.Viewer != NULL)
        State.Info.Viewer(name, node->name, 0, 0, -1, -1, VF_NONMODAL | VF_DELETEONCLOSE);
}
