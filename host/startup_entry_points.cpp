// The entry points the host calls when it loads the plug-in.
#include <string.h>

#include "host/entry_points.h"
#include "host/plugin_state.h"

void WINAPI SetStartupInfo(const struct PluginStartupInfo *Info)
{
    if (Info == NULL)
        return;
    memcpy(&State.Info, Info, sizeof State.Info);
}

int WINAPI GetMinFarVersion(void)
{
    return FAR_VERSION_170;
}
