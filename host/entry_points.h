// The fourteen entry points the host finds by name. C linkage, __stdcall on
// Win32 (undecorated names come from qvork.def); on Linux they are the only
// symbols the module exports. OpenPlugin's Item carries an address for
// OPEN_COMMANDLINE, so it is pointer-sized: an int on Win32, as the host
// declares it, and wide enough for an address on 64-bit Linux.
#ifndef QVORK_HOST_ENTRY_POINTS_H
#define QVORK_HOST_ENTRY_POINTS_H

#include <stdint.h>

#include "host/far_abi.h"

#if defined(_WIN32)
#define QVORK_EXPORT
#else
#define QVORK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

QVORK_EXPORT void WINAPI SetStartupInfo(const struct PluginStartupInfo *Info);
QVORK_EXPORT int WINAPI GetMinFarVersion(void);
QVORK_EXPORT void WINAPI GetPluginInfo(struct PluginInfo *Info);
QVORK_EXPORT int WINAPI Configure(int ItemNumber);
QVORK_EXPORT HANDLE WINAPI OpenPlugin(int OpenFrom, intptr_t Item);
// A file of an ordinary panel (Enter, Ctrl+PgDn): a panel on it when its
// first bytes are a site file's header, else INVALID_HANDLE_VALUE at once.
QVORK_EXPORT HANDLE WINAPI OpenFilePlugin(char *Name, const unsigned char *Data, int DataSize);
QVORK_EXPORT void WINAPI ClosePlugin(HANDLE hPlugin);
QVORK_EXPORT void WINAPI GetOpenPluginInfo(HANDLE hPlugin, struct OpenPluginInfo *Info);
QVORK_EXPORT int WINAPI GetFindData(HANDLE hPlugin, struct PluginPanelItem **pPanelItem,
                                    int *pItemsNumber, int OpMode);
QVORK_EXPORT void WINAPI FreeFindData(HANDLE hPlugin, struct PluginPanelItem *PanelItem,
                                      int ItemsNumber);
QVORK_EXPORT int WINAPI SetDirectory(HANDLE hPlugin, const char *Dir, int OpMode);
QVORK_EXPORT int WINAPI ProcessKey(HANDLE hPlugin, int Key, unsigned int ControlState);
QVORK_EXPORT int WINAPI GetFiles(HANDLE hPlugin, struct PluginPanelItem *PanelItem,
                                 int ItemsNumber, int Move, char *DestPath, int OpMode);
QVORK_EXPORT int WINAPI DeleteFiles(HANDLE hPlugin, struct PluginPanelItem *PanelItem,
                                    int ItemsNumber, int OpMode);

#ifdef __cplusplus
}
#endif

// The same entry points as pointer types, for hosts and tests that find them
// with dlsym or GetProcAddress.
typedef void(WINAPI *SetStartupInfoFn)(const struct PluginStartupInfo *);
typedef int(WINAPI *GetMinFarVersionFn)(void);
typedef void(WINAPI *GetPluginInfoFn)(struct PluginInfo *);
typedef int(WINAPI *ConfigureFn)(int);
typedef HANDLE(WINAPI *OpenPluginFn)(int, intptr_t);
typedef HANDLE(WINAPI *OpenFilePluginFn)(char *, const unsigned char *, int);
typedef void(WINAPI *ClosePluginFn)(HANDLE);
typedef void(WINAPI *GetOpenPluginInfoFn)(HANDLE, struct OpenPluginInfo *);
typedef int(WINAPI *GetFindDataFn)(HANDLE, struct PluginPanelItem **, int *, int);
typedef void(WINAPI *FreeFindDataFn)(HANDLE, struct PluginPanelItem *, int);
typedef int(WINAPI *SetDirectoryFn)(HANDLE, const char *, int);
typedef int(WINAPI *ProcessKeyFn)(HANDLE, int, unsigned int);
typedef int(WINAPI *GetFilesFn)(HANDLE, struct PluginPanelItem *, int, int, char *, int);
typedef int(WINAPI *DeleteFilesFn)(HANDLE, struct PluginPanelItem *, int, int);

// Every entry point by its exported name, for code that treats each alike
// (finding them in a loaded module, naming those missing): X(name) each.
#define QVORK_FOR_EACH_ENTRY_POINT(X)                                                          \
    X(SetStartupInfo)                                                                          \
    X(GetMinFarVersion)                                                                        \
    X(GetPluginInfo)                                                                           \
    X(Configure)                                                                               \
    X(OpenPlugin)                                                                              \
    X(ClosePlugin)                                                                             \
    X(GetOpenPluginInfo)                                                                       \
    X(GetFindData)                                                                             \
    X(FreeFindData)                                                                            \
    X(SetDirectory)                                                                            \
    X(ProcessKey)                                                                              \
    X(GetFiles)                                                                                \
    X(DeleteFiles)                                                                             \
    X(OpenFilePlugin)

#ifdef __cplusplus
// The entry points of one loaded module, each null until found.
struct EntryPoints {
    SetStartupInfoFn SetStartupInfo = nullptr;
    GetMinFarVersionFn GetMinFarVersion = nullptr;
    GetPluginInfoFn GetPluginInfo = nullptr;
    ConfigureFn Configure = nullptr;
    OpenPluginFn OpenPlugin = nullptr;
    ClosePluginFn ClosePlugin = nullptr;
    GetOpenPluginInfoFn GetOpenPluginInfo = nullptr;
    GetFindDataFn GetFindData = nullptr;
    FreeFindDataFn FreeFindData = nullptr;
    SetDirectoryFn SetDirectory = nullptr;
    ProcessKeyFn ProcessKey = nullptr;
    GetFilesFn GetFiles = nullptr;
    DeleteFilesFn DeleteFiles = nullptr;
    OpenFilePluginFn OpenFilePlugin = nullptr;
};
#endif

#endif
