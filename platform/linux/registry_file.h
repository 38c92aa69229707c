// The registry file in memory: a REGEDIT4 text parsed into keys and values,
// and written back. The parser takes any bytes: a line it cannot read is
// skipped (values under a key line it cannot read are skipped with it), so a
// damaged file still yields every good line. The file belongs to the user:
// the model keeps the text it was parsed from and where each value was set,
// so writing it back rewrites only the values that changed and keeps every
// other line (comments, blank lines, lines the parser skipped) byte for
// byte in its place. A fuzz target calls ParseRegistryFile and
// SerialiseRegistryFile directly.
//
// Invariants of a model (ParseRegistryFile and the editing calls keep them):
//   1. Key paths are "ROOT\sub\sub": non-empty components of at most
//      REGISTRY_NAME_MAX bytes with no "\", CR, LF or NUL, at most
//      REGISTRY_PATH_SIZE - 1 bytes in all; "HKCU"/"HKLM" are spelt out;
//      the root does not start with "-" (that would read as a deletion).
//   2. No two keys share a path, and no key two values a name, compared
//      without regard to ASCII case.
//   3. Value names have at most REGISTRY_VALUE_NAME_MAX bytes and no CR, LF
//      or NUL; data has at most REGISTRY_DATA_MAX bytes.
//   4. At most REGISTRY_KEYS_MAX keys, and REGISTRY_VALUES_MAX values a key
//      (the caps bound the memory a hostile file can take; lookups go
//      through a hash of the names, so a large file is still read at once).
//   5. The source lines lie in the source text in order without overlapping;
//      a value's `line`, when set, is the last source line naming its id,
//      and a key's `anchor`, when set, is the end of a line of the source.
// Serialising a model and parsing the text gives the same model again (the
// values of a key possibly in another order); serialising a model nobody
// changed gives back the source text unchanged.
#ifndef QVORK_PLATFORM_LINUX_REGISTRY_FILE_H
#define QVORK_PLATFORM_LINUX_REGISTRY_FILE_H

#include <stddef.h>

#include "platform/win32.h"

#define REGISTRY_NAME_MAX 255          // bytes of one key name
#define REGISTRY_PATH_SIZE 1024        // bytes of a whole key path, terminator included
#define REGISTRY_VALUE_NAME_MAX 16383  // bytes of a value name
#define REGISTRY_DATA_MAX (1u << 20)   // bytes of one value's data
#define REGISTRY_KEYS_MAX 16384        // keys of a model
#define REGISTRY_VALUES_MAX 16384      // values of one key
#define REGISTRY_NO_SOURCE ((size_t)-1) // not read from the source text

typedef struct RegistryValueRecord {
    char *name;   // owned, NUL-terminated; "" is the key's default value ("@")
    DWORD type;   // REG_SZ, REG_BINARY, REG_DWORD or any other type number
    BYTE *data;   // owned, `size` bytes; NULL when size is 0
    DWORD size;   // bytes of data, a REG_SZ's terminating NUL included
    size_t id;    // unique within its key; the source lines that set it name it so
    size_t line;  // index of the last source line that set it, or REGISTRY_NO_SOURCE
    BOOL changed; // set since it was read: the writer writes it anew
} RegistryValueRecord;

// Where to find a name among a model's keys or a key's values without a
// walk: slots hold an item's position plus one (0: empty), by a hash of the
// name in one letter case. No slots (none yet, or no memory for them):
// lookups walk the items.
typedef struct RegistryNameIndex {
    size_t *slots;
    size_t mask; // slots - 1, a power of two less one
} RegistryNameIndex;

typedef struct RegistryKeyRecord {
    char *path;                  // owned, NUL-terminated, e.g. "HKEY_CURRENT_USER\Software\x"
    RegistryValueRecord *values; // owned array, in file order
    size_t valueCount;
    size_t valueCapacity;
    size_t nextValueId;          // the id the next new value gets
    RegistryNameIndex valueIndex; // owned
    size_t anchor;               // source offset where new values go (the end of the
                                 // last line of its last section that is neither
                                 // blank nor a comment), or REGISTRY_NO_SOURCE: a
                                 // new section at the end
} RegistryKeyRecord;

// A value line of the source text, its continuation lines included.
typedef struct RegistrySourceLine {
    size_t start;   // first byte in the source
    size_t end;     // past its last byte, line break included
    size_t key;     // index of the key it set a value of
    size_t valueId; // id of that value (gone when the value was deleted)
} RegistrySourceLine;

typedef struct RegistryModel {
    RegistryKeyRecord *keys; // owned array, in file order
    RegistryNameIndex keyIndex; // owned
    size_t keyCount;
    size_t keyCapacity;
    BYTE *source;               // owned copy of the text parsed; NULL when none
    size_t sourceSize;
    RegistrySourceLine *lines;  // owned array, in source order
    size_t lineCount;
    size_t lineCapacity;
} RegistryModel;

// An empty model; FreeRegistryModel releases it and leaves it empty again.
void InitRegistryModel(RegistryModel *model);
void FreeRegistryModel(RegistryModel *model);

// Reads the REGEDIT4 text `bytes` (`size` bytes, any content) into the
// empty `model`, which keeps a copy of the text. FALSE when the model was
// not empty, or when memory ran out; the model then holds what was read so
// far and is still valid.
BOOL ParseRegistryFile(const BYTE *bytes, size_t size, RegistryModel *model);

// TRUE when `bytes` may be written over as a registry file: no bytes at
// all, or the line "REGEDIT4" first, after an optional UTF-8 byte-order mark
// and white space. Anything else is somebody else's file.
BOOL IsRegistryFileText(const BYTE *bytes, size_t size);

// The REGEDIT4 text of `model` in a malloc'd buffer (*bytes, *size bytes;
// the caller frees it): the source text with the changed values rewritten
// where they stood (earlier lines setting the same value dropped), the lines
// of deleted values dropped, new values after the last line of their key's
// section and new keys as sections at the end, in the source's line breaks.
// Without a source, a new file. FALSE when memory ran out (nothing to free
// then).
BOOL SerialiseRegistryFile(const RegistryModel *model, BYTE **bytes, size_t *size);

// Brings the key path `path` (`length` bytes, "\" separators) to its form in
// the model: empty components dropped, "HKCU"/"HKLM" spelt out, checked
// against invariant 1. Writes it to `out` (REGISTRY_PATH_SIZE bytes).
// FALSE when the path breaks the invariant.
BOOL NormaliseRegistryPath(const char *path, size_t length, char *out);

// The key with path `path` (normalised), or NULL.
RegistryKeyRecord *FindRegistryKey(const RegistryModel *model, const char *path);
// TRUE when `path` (normalised) is a key of the model or the parent of one.
BOOL RegistryKeyExists(const RegistryModel *model, const char *path);
// The key with path `path` (normalised), added at the end when missing;
// NULL when memory ran out or the model holds REGISTRY_KEYS_MAX keys.
RegistryKeyRecord *AddRegistryKey(RegistryModel *model, const char *path);

// The value named `name` of `key`, or NULL.
RegistryValueRecord *FindRegistryValue(const RegistryKeyRecord *key, const char *name);
// Stores a copy of `data` as the value `name` of `key`, replacing a value of
// that name (whose spelling is kept; it counts as changed only when its type
// or data differ). FALSE when the name or size breaks
// invariant 3, the key is full (invariant 4) or memory ran out; the key is
// then unchanged.
BOOL SetRegistryValue(RegistryKeyRecord *key, const char *name, DWORD type, const BYTE *data,
                      DWORD size);
// Removes the value `name`; FALSE when there is none.
BOOL DeleteRegistryValue(RegistryKeyRecord *key, const char *name);

// TRUE when `name` may be a value name (invariant 3).
BOOL IsValidValueName(const char *name);

#endif
