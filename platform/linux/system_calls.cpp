// The table of the layer's system calls; see system_calls.h.
#include "platform/linux/system_calls.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

static int OpenWithMode(const char *path, int flags, mode_t mode)
{
    return open(path, flags, mode);
}

#define QVORK_SYSTEM_CALL_ENTRY(name, standard, result, parameters)                             \
    {#name, (SystemCallPointer)(SystemCall_##name)standard,                                    \
     (SystemCallPointer)(SystemCall_##name)standard},
struct SystemCall systemCalls[SYSTEM_CALL_COUNT] = {QVORK_SYSTEM_CALLS(QVORK_SYSTEM_CALL_ENTRY)};
#undef QVORK_SYSTEM_CALL_ENTRY

static struct SystemCall *FindSystemCall(const char *name)
{
    for (int i = 0; name != NULL && i < SYSTEM_CALL_COUNT; i++) {
        if (strcmp(systemCalls[i].name, name) == 0)
            return &systemCalls[i];
    }
    return NULL;
}

BOOL SetSystemCall(const char *name, SystemCallPointer pointer)
{
    if (name == NULL) {
        for (int i = 0; i < SYSTEM_CALL_COUNT; i++)
            systemCalls[i].current = systemCalls[i].standard;
        return TRUE;
    }
    struct SystemCall *call = FindSystemCall(name);
    if (call == NULL)
        return FALSE;
    call->current = pointer != NULL ? pointer : call->standard;
    return TRUE;
}

SystemCallPointer GetSystemCall(const char *name)
{
    struct SystemCall *call = FindSystemCall(name);
    return call != NULL ? call->current : NULL;
}

const char *NextSystemCall(const char *name)
{
    if (name == NULL)
        return systemCalls[0].name;
    struct SystemCall *call = FindSystemCall(name);
    if (call == NULL || call + 1 == systemCalls + SYSTEM_CALL_COUNT)
        return NULL;
    return call[1].name;
}
