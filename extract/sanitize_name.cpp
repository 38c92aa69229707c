// Name and path sanitising for everything written to disk (see the header).
#include "extract/sanitize_name.h"

#include <ctype.h>
#include <string.h>

#include "platform/file_names.h"
#include "platform/win32.h"

namespace {

// Reserved by the host's file system, or a path separator on some platform.
const char UnsafeChars[] = "?+*:|\\/\"<>";

const char *const DeviceNames[] = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5",   "COM6",    "COM7",
    "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",   "LPT8",    "LPT9",
    "CONIN$", "CONOUT$",
};

// A device name, judged on the part before the first dot with trailing
// spaces ignored, in any case. Windows also takes the superscript digits
// (¹, ², ³: bytes B9, B2, B3 of its Western code page) for COM and LPT ports.
bool IsDeviceName(const char *name)
{
    size_t stem = strcspn(name, ".");
    while (stem > 0 && name[stem - 1] == ' ')
        stem--;
    if (stem == 4 && name[3] != 0 && strchr("\xB9\xB2\xB3", name[3]) != NULL) {
        char port[4] = {(char)toupper((unsigned char)name[0]), (char)toupper((unsigned char)name[1]),
                        (char)toupper((unsigned char)name[2]), 0};
        if (strcmp(port, "COM") == 0 || strcmp(port, "LPT") == 0)
            return true;
    }
    for (const char *device : DeviceNames) {
        size_t length = strlen(device);
        if (length != stem)
            continue;
        size_t i = 0;
        while (i < length && toupper((unsigned char)name[i]) == device[i])
            i++;
        if (i == length)
            return true;
    }
    return false;
}

// Replaces the unsafe and the control characters of one name. The second
// byte of a two-byte character of the ANSI code page (which may be "\\" or
// "|") belongs to it and stays; a first byte with nothing after it (a name
// cut there, or damaged) is replaced, or the separator put behind the name
// would become its second byte.
void ReplaceUnsafeChars(char *text)
{
    for (char *p = text; *p != 0; p++) {
        unsigned char c = (unsigned char)*p;
        if (IsAnsiLeadByte(c)) {
            if (p[1] == 0) {
                *p = NAME_REPLACEMENT;
                break;
            }
            p++;
        } else if (c < 32 || strchr(UnsafeChars, c) != NULL) {
            *p = NAME_REPLACEMENT;
        }
    }
}

// "." and ".." reach the folder itself or its parent, and Windows drops a
// trailing dot or space, so "a." would overwrite "a".
void ReplaceDotsAndSpaces(char *text)
{
    size_t length = strlen(text);
    if (length != 0 && strspn(text, ". ") == length) {
        memset(text, NAME_REPLACEMENT, length);
        return;
    }
    while (length > 0 && (text[length - 1] == '.' || text[length - 1] == ' '))
        text[--length] = NAME_REPLACEMENT;
}

BOOL CutToLimit(char *text)
{
    if (strlen(text) <= NAME_LENGTH_LIMIT)
        return FALSE;
    text[NAME_LENGTH_LIMIT - 1] = 0;
    return TRUE;
}

// A device name gets "_" in front (or, without room, loses its first
// character to "-"), then the text is cut to the limit again.
void PrefixDeviceName(char *name, char *text, size_t room)
{
    if (!IsDeviceName(name))
        return;
    size_t length = strlen(text);
    if (length + 2 <= room) {
        memmove(name + 1, name, strlen(name) + 1);
        name[0] = '_';
        CutToLimit(text);
    } else {
        name[0] = NAME_REPLACEMENT;
    }
}

} // namespace

void ReplaceChars(char *text, const char *set, char replacement)
{
    for (const char *c = set; *c != 0; c++) {
        for (char *p = strchr(text, *c); p != NULL; p = strchr(p + 1, *c))
            *p = replacement;
    }
}

void SanitizeName(char *text, size_t room, int replace)
{
    BOOL cut = CutToLimit(text);
    if (!replace) {
        // A cut through the last name can leave "." or "..", a trailing dot
        // or space, or a device name: that name is made safe again.
        if (cut) {
            // Names never hold "/" or "\", so the last of either ends the path.
            const char *backslash = strrchr(text, '\\');
            const char *slash = strrchr(text, '/');
            const char *last = backslash;
            if (slash != NULL && (last == NULL || slash > last))
                last = slash;
            char *name = last != NULL ? (char *)last + 1 : text;
            PrefixDeviceName(name, text, room);
            ReplaceUnsafeChars(name); // a cut through a two-byte character
            ReplaceDotsAndSpaces(name);
        }
        return;
    }
    // No name would be the folder itself: cleaned like a name of dots.
    if (text[0] == 0 && room >= 2) {
        text[0] = NAME_REPLACEMENT;
        text[1] = 0;
        return;
    }
    PrefixDeviceName(text, text, room);
    ReplaceUnsafeChars(text);
    ReplaceDotsAndSpaces(text);
}
