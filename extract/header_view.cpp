// The header view behind Shift+F3. Each view creates a new temporary file;
// the host's viewer deletes it when its window closes.
#include "extract/header_view.h"

#include "extract/extract_files.h"
#include "host/messages.h"
#include "platform/stream.h"

void ShowStoredHeader(struct SiteNode *node, FILE *site)
{
    char name[TEMP_NAME_SIZE];
    name[0] = 0;
    DWORD folderLength = GetTempPathA(TEMP_NAME_SIZE, name);
    // Without a new temporary file there is nothing to show, and the viewer
    // deletes what it is given: never hand it the folder or a stale name.
    char temp[MAX_PATH];
    FILE *output = folderLength == 0 || folderLength >= TEMP_NAME_SIZE
                       ? NULL
                       : CreateTempStream(name, TEMP_FILE_PREFIX, temp);
    if (output == NULL) {
        DWORD error = GetLastError();
        CloseStream(site);
        ShowItemFailure("can't create file!", node->name, name, error);
        return;
    }
    int written = WriteStoredHeader(node, output, temp, site);
    CloseStream(site);
    if (!written) {
        // The user has been told; a header cut short is not shown as if whole.
        DeleteFileA(temp);
        return;
    }
    if (State.Info.Viewer != NULL)
        State.Info.Viewer(temp, node->name, 0, 0, -1, -1, VF_NONMODAL | VF_DELETEONCLOSE);
}
