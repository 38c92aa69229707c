// The warning box every user-facing failure goes through, and the host's
// numbered message texts.
#ifndef QVORK_HOST_MESSAGES_H
#define QVORK_HOST_MESSAGES_H

#include "platform/win32.h"

// A warning box titled "VORK" with `text` ("(NULL)" for NULL) and "OK";
// returns when the user has closed it: the host's answer, -1 for a cancel.
int ShowError(const char *text);
// A failure of one file or folder: `text` in one box, then a second box
// with the entry's `name`, the full `path` it concerns and the system's
// reason for `error` (a Win32 error code). -1 when a box was cancelled (the
// second is not shown after a cancelled first).
int ShowItemFailure(const char *text, const char *name, const char *path, DWORD error);
// A short text for a Win32 error code.
const char *ErrorReason(DWORD error);
// Whether a warning box was cancelled since ClearErrorCancel.
int ErrorBoxCancelled(void);
void ClearErrorCancel(void);
// The host's text for message number `id` of this plug-in.
const char *GetMsgText(int id);

#endif
