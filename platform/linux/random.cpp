// RtlGenRandom over getrandom(2): bytes from the kernel's random source.
// Where this differs from Windows: none that callers can see; a source that
// is not ready yet waits, as the kernel decides, rather than failing.
#include <errno.h>
#include <stddef.h>
#include <sys/random.h>

#include "platform/win32.h"

BOOLEAN RtlGenRandom(void *buffer, ULONG length)
{
    if (buffer == NULL && length != 0)
        return FALSE;
    unsigned char *bytes = (unsigned char *)buffer;
    ULONG done = 0;
    while (done < length) {
        ssize_t got = getrandom(bytes + done, length - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return FALSE;
        done += (ULONG)got;
    }
    return TRUE;
}
