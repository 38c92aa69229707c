// The Win32 surface the plug-in calls. On Windows it is <windows.h> itself;
// elsewhere it declares our own compatibility layer (platform/linux/), which
// keeps the real names, argument orders and error codes so the plug-in's code
// is the same on both. Every integer here has the Win32 width on every
// platform: DWORD and LONG are 32 bits even where `long` is 64.
#ifndef QVORK_PLATFORM_WIN32_H
#define QVORK_PLATFORM_WIN32_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ntsecapi.h> // RtlGenRandom (SystemFunction036 of advapi32)
#else
#include <stdint.h>

#define WINAPI

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef uint16_t WORD;
typedef void *HANDLE;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t ULONG_PTR;
typedef DWORD REGSAM;
typedef struct RegistryKey *HKEY; // an open key of the registry file, or a predefined root
typedef struct SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_WRITE_FAULT 29L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_HANDLE_EOF 38L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_FILE_TOO_LARGE 223L
#define ERROR_MORE_DATA 234L
#define ERROR_DIRECTORY 267L
#define ERROR_FILE_INVALID 1006L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L

#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_HIDDEN 0x2
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_DEVICE 0x40
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_COPY_ALLOWED 0x2
#define MOVEFILE_WRITE_THROUGH 0x8

#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

typedef struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

// Natural alignment, as in the Win32 headers: 320 bytes, of which the host's
// FAR_FIND_DATA takes the first 318.
typedef struct WIN32_FIND_DATAA {
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
} WIN32_FIND_DATAA;

#ifdef __cplusplus
extern "C" {
#endif

// Registry (platform/linux/registry.cpp): a REGEDIT4 text file.
LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD options, REGSAM access, HKEY *result);
LONG RegCreateKeyExA(HKEY key, const char *subKey, DWORD reserved, char *className, DWORD options,
                     REGSAM access, SECURITY_ATTRIBUTES *security, HKEY *result, DWORD *disposition);
LONG RegQueryValueExA(HKEY key, const char *valueName, DWORD *reserved, DWORD *type, BYTE *data,
                      DWORD *dataSize);
LONG RegSetValueExA(HKEY key, const char *valueName, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, const char *valueName);
LONG RegCloseKey(HKEY key);

// Directory search (platform/linux/find_file.cpp).
HANDLE FindFirstFileA(const char *pattern, WIN32_FIND_DATAA *findData);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA *findData);
BOOL FindClose(HANDLE search);

// Files and folders (platform/linux/files.cpp).
BOOL CreateDirectoryA(const char *path, SECURITY_ATTRIBUTES *security);
// The entry itself, as Win32 sees it: a symbolic link is a reparse point
// (a folder too when it leads to one), never followed.
DWORD GetFileAttributesA(const char *path);
BOOL DeleteFileA(const char *path);
DWORD GetTempPathA(DWORD bufferLength, char *buffer);
UINT GetTempFileNameA(const char *folder, const char *prefix, UINT unique, char *tempFileName);
BOOL MoveFileExA(const char *existingName, const char *newName, DWORD flags);

// Random bytes from the system (platform/linux/random.cpp); FALSE on failure.
BOOLEAN RtlGenRandom(void *buffer, ULONG length);

// Last error of the calling thread (platform/linux/last_error.cpp).
DWORD GetLastError(void);
void SetLastError(DWORD error);

#ifdef __cplusplus
}
#endif

#endif // _WIN32

#endif // QVORK_PLATFORM_WIN32_H
