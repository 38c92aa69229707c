// The file manager's 1.70 plug-in interface as this plug-in uses it: the
// records it exchanges with the host, the service signatures and the
// constants. Every record is packed to 2 bytes on every platform, so field
// order and packing follow one rule; only pointer-sized fields widen on
// 64-bit Linux. The Win32 build asserts the host's record sizes.
#ifndef QVORK_HOST_FAR_ABI_H
#define QVORK_HOST_FAR_ABI_H

#include <stddef.h>

#include "platform/win32.h"

#define FAR_VERSION_170 ((1 << 8) + 70) // 326

// Message flags.
#define FMSG_WARNING 0x1
// Operation modes passed to GetFindData, GetFiles, SetDirectory, DeleteFiles.
#define OPM_SILENT 0x1
#define OPM_FIND 0x2
// Control commands.
#define FCTL_GETPANELINFO 1

#define OPEN_SHORTCUT 3    // OpenPlugin: Item is the address of the panel's ShortcutData
#define OPEN_COMMANDLINE 4 // OpenPlugin: Item is the address of the text after "vork:"
// Control states passed to ProcessKey.
#define PKF_CONTROL 0x1
#define PKF_ALT 0x2
#define PKF_SHIFT 0x4
// Key codes (the host's virtual key codes).
#define KEY_CODE_R 0x52
#define KEY_CODE_F3 0x72
// Viewer flags.
#define VF_NONMODAL 0x1
#define VF_DELETEONCLOSE 0x2
// OpenPluginInfo flags.
#define OPIF_ADDDOTS 0x8
#define OPIF_RAWSELECTION 0x10
#define OPIF_SHOWNAMESONLY 0x40
#define OPIF_USEATTRHIGHLIGHTING 0x8000
// PluginPanelItem flags.
#define PPIF_SELECTED 0x40000000
// Dialog item types and flags.
#define DI_TEXT 0
#define DI_DOUBLEBOX 3
#define DI_FIXEDIT 6
#define DI_BUTTON 7
#define DI_CHECKBOX 8
#define DIF_CENTERGROUP 0x4000
#define DIF_MASKEDIT 0x400000

#pragma pack(push, 2)

// Same layout as WIN32_FIND_DATAA, without its tail padding.
struct FAR_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};

struct PluginPanelItem {
    struct FAR_FIND_DATA FindData;
    DWORD PackSizeHigh;
    DWORD PackSize;
    DWORD Flags;          // PPIF_SELECTED while the host has the item selected
    DWORD NumberOfLinks;  // root items: the site's record count
    char *Description;    // root items: the site's cache file name, owned by the plug-in
    char *Owner;
    char **CustomColumnData;
    int CustomColumnNumber;
    DWORD_PTR UserData;   // in-site items: the SiteNode the item stands for
    DWORD CRC32;          // in-site items: the generation of the tree they came from
    DWORD_PTR Reserved[2];
};

struct FarDialogItem;
struct KeyBarTitles;

typedef int(WINAPI *FARAPIMESSAGE)(int PluginNumber, DWORD Flags, const char *HelpTopic,
                                   const char *const *Items, int ItemsNumber, int ButtonsNumber);
typedef int(WINAPI *FARAPIDIALOG)(int PluginNumber, int X1, int Y1, int X2, int Y2,
                                  const char *HelpTopic, struct FarDialogItem *Item,
                                  int ItemsNumber);
typedef const char *(WINAPI *FARAPIGETMSG)(int PluginNumber, int MsgId);
typedef int(WINAPI *FARAPICONTROL)(HANDLE hPlugin, int Command, void *Param);
typedef HANDLE(WINAPI *FARAPISAVESCREEN)(int X1, int Y1, int X2, int Y2);
typedef void(WINAPI *FARAPIRESTORESCREEN)(HANDLE hScreen);
typedef int(WINAPI *FARAPIVIEWER)(const char *FileName, const char *Title, int X1, int Y1,
                                  int X2, int Y2, DWORD Flags);
typedef void *FARAPIUNUSED; // a service slot this plug-in never calls

struct PluginStartupInfo {
    int StructSize;
    char ModuleName[MAX_PATH];
    int ModuleNumber;
    const char *RootKey;
    FARAPIUNUSED Menu;
    FARAPIDIALOG Dialog;
    FARAPIMESSAGE Message;
    FARAPIGETMSG GetMsg;
    FARAPICONTROL Control;
    FARAPISAVESCREEN SaveScreen;
    FARAPIRESTORESCREEN RestoreScreen;
    FARAPIUNUSED GetDirList;
    FARAPIUNUSED GetPluginDirList;
    FARAPIUNUSED FreeDirList;
    FARAPIVIEWER Viewer;
    FARAPIUNUSED Editor;
    FARAPIUNUSED CmpName;
    FARAPIUNUSED CharTable;
    FARAPIUNUSED Text;
    FARAPIUNUSED EditorControl;
    void *FSF;
    FARAPIUNUSED ShowHelp;
    FARAPIUNUSED AdvControl;
    FARAPIUNUSED InputBox;
    FARAPIUNUSED DialogEx;
    FARAPIUNUSED SendDlgMessage;
    FARAPIUNUSED DefDlgProc;
    DWORD_PTR Reserved;
    FARAPIUNUSED ViewerControl;
};

struct KeyBarTitles {
    char *Titles[12];
    char *CtrlTitles[12];
    char *AltTitles[12];
    char *ShiftTitles[12];
    char *CtrlShiftTitles[12];
    char *AltShiftTitles[12];
    char *CtrlAltTitles[12];
};

struct OpenPluginInfo {
    int StructSize;
    DWORD Flags;
    const char *HostFile;
    const char *CurDir;
    const char *Format;
    const char *PanelTitle;
    const void *InfoLines;
    int InfoLinesNumber;
    const char *const *DescrFiles;
    int DescrFilesNumber;
    const void *PanelModesArray;
    int PanelModesNumber;
    int StartPanelMode;
    int StartSortMode;
    int StartSortOrder;
    struct KeyBarTitles *KeyBar;
    const char *ShortcutData;
    DWORD_PTR Reserved;
};

struct PluginInfo {
    int StructSize;
    DWORD Flags;
    const char *const *DiskMenuStrings;
    int *DiskMenuNumbers;
    int DiskMenuStringsNumber;
    const char *const *PluginMenuStrings;
    int PluginMenuStringsNumber;
    const char *const *PluginConfigStrings;
    int PluginConfigStringsNumber;
    const char *CommandPrefix;
    DWORD_PTR Reserved;
};

struct PanelInfo {
    int PanelType;
    int Plugin;
    RECT PanelRect;
    struct PluginPanelItem *PanelItems;
    int ItemsNumber;
    struct PluginPanelItem *SelectedItems;
    int SelectedItemsNumber;
    int CurrentItem;
    int TopPanelItem;
    int Visible;
    int Focus;
    int ViewMode;
    char ColumnTypes[80];
    char ColumnWidths[80];
    char CurDir[MAX_PATH];
    int ShortNames;
    int SortMode;
    DWORD Flags;
    DWORD Reserved;
};

struct FarDialogItem {
    int Type;
    int X1;
    int Y1;
    int X2;
    int Y2;
    int Focus;
    union {
        DWORD_PTR Reserved; // the whole word, as the compact tables fill it
        int Selected;       // check boxes
        const char *History;
        const char *Mask;   // DI_FIXEDIT with DIF_MASKEDIT
    };
    DWORD Flags;
    int DefaultButton;
    char Data[512];
};

#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(struct FAR_FIND_DATA) == 318, "FAR_FIND_DATA");
static_assert(sizeof(struct PluginPanelItem) == 366, "PluginPanelItem");
static_assert(sizeof(struct PluginStartupInfo) == 372, "PluginStartupInfo");
static_assert(sizeof(struct OpenPluginInfo) == 72, "OpenPluginInfo");
static_assert(sizeof(struct PluginInfo) == 44, "PluginInfo");
static_assert(sizeof(struct PanelInfo) == 496, "PanelInfo");
static_assert(sizeof(struct FarDialogItem) == 548, "FarDialogItem");
static_assert(sizeof(struct KeyBarTitles) == 336, "KeyBarTitles");
static_assert(offsetof(struct PluginPanelItem, PackSizeHigh) == 318, "PackSizeHigh");
static_assert(offsetof(struct PluginPanelItem, UserData) == 350, "UserData");
static_assert(offsetof(struct PluginStartupInfo, Viewer) == 312, "Viewer");
static_assert(offsetof(struct PluginStartupInfo, ViewerControl) == 368, "ViewerControl");
static_assert(offsetof(struct PanelInfo, CurrentItem) == 40, "CurrentItem");
static_assert(offsetof(struct PanelInfo, CurDir) == 220, "CurDir");
static_assert(offsetof(struct FarDialogItem, Data) == 36, "Data");
#endif
static_assert(sizeof(struct FAR_FIND_DATA) == 318, "FAR_FIND_DATA has no pointers");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "Win32 integer widths");

#endif // QVORK_HOST_FAR_ABI_H
