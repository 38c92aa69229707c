// Shift+F3 inside a site: the stored HTTP response header of a file, shown
// in the host's viewer through a temporary file the viewer deletes.
#ifndef QVORK_EXTRACT_HEADER_VIEW_H
#define QVORK_EXTRACT_HEADER_VIEW_H

#include <stdio.h>

#include "host/plugin_state.h"

#define TEMP_NAME_SIZE 768
#define TEMP_FILE_PREFIX "hdr"

// Writes the header of `node` from the open `site` stream (which it closes)
// to a new temporary file and hands that to the host's viewer.
void ShowStoredHeader(struct SiteNode *node, FILE *site);

#endif
