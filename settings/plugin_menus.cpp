// GetPluginInfo: the entries "qVORK" offered to the host's Disks, Plugins and
// configuration menus, as the settings ask. The host keeps the pointers, so
// the lists and the number live in static storage.
#include "host/entry_points.h"
#include "settings/settings_store.h"

namespace {

const char *const DiskMenuStrings[1] = {"qVORK"};
const char *const PluginMenuStrings[1] = {"qVORK"};
const char *const PluginConfigStrings[1] = {"qVORK"};
int DiskMenuNumber;

} // namespace

void WINAPI GetPluginInfo(struct PluginInfo *Info)
{
    if (Info == NULL)
        return;
    Info->StructSize = sizeof *Info;
    Info->Flags = 0;
    struct Settings settings;
    LoadSettings(&settings);
    Info->DiskMenuStrings = DiskMenuStrings;
    DiskMenuNumber = settings.Diskz_num;
    Info->DiskMenuNumbers =
        settings.Diskz_num >= 0 && settings.Diskz_num <= 9 ? &DiskMenuNumber : NULL;
    Info->DiskMenuStringsNumber = settings.Show_Diskz != 0 ? 1 : 0;
    Info->PluginMenuStrings = settings.Show_Plugz != 0 ? PluginMenuStrings : NULL;
    Info->PluginMenuStringsNumber = settings.Show_Plugz != 0 ? 1 : 0;
    Info->PluginConfigStrings = PluginConfigStrings;
    Info->PluginConfigStringsNumber = 1;
    // "vork:PATH" on the host's command line opens a copied cache or site file.
    Info->CommandPrefix = "vork";
}
