// Warning boxes and message texts, drawn through the host's services.
#include "host/messages.h"

#include <stdio.h>

#include "host/plugin_state.h"

namespace {

BOOL Cancelled; // a warning box was cancelled (the host answered -1)

int ShowWarning(const char *const *items, int count)
{
    if (State.Info.Message == NULL)
        return 0;
    int answer = State.Info.Message(0, FMSG_WARNING, "", items, count, 1);
    if (answer == -1)
        Cancelled = TRUE;
    return answer;
}

struct Reason {
    DWORD error;
    const char *text;
};

const struct Reason Reasons[] = {
    {ERROR_FILE_NOT_FOUND, "file not found"},
    {ERROR_PATH_NOT_FOUND, "path not found"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_NOT_ENOUGH_MEMORY, "not enough memory"},
    {ERROR_INVALID_DATA, "damaged entry in the cache file"},
    {ERROR_WRITE_FAULT, "write fault"},
    {ERROR_HANDLE_EOF, "the cache file ends inside the entry"},
    {ERROR_HANDLE_DISK_FULL, "disk full"},
    {ERROR_DISK_FULL, "disk full"},
    {ERROR_FILE_EXISTS, "already exists"},
    {ERROR_ALREADY_EXISTS, "already exists"},
    {ERROR_FILENAME_EXCED_RANGE, "path too long"},
    {ERROR_BUFFER_OVERFLOW, "path too long"}, // no room for the temporary name beside it
    {ERROR_FILE_TOO_LARGE, "file too large for the destination"},
    {ERROR_DIRECTORY, "not a folder"},
    {ERROR_FILE_INVALID, "the cache file changed since the site was read: enter it again"},
};

} // namespace

int ShowError(const char *text)
{
    const char *items[3] = {"VORK", text != NULL ? text : "(NULL)", "OK"};
    return ShowWarning(items, 3);
}

int ShowItemFailure(const char *text, const char *name, const char *path, DWORD error)
{
    if (ShowError(text) == -1)
        return -1;
    const char *items[5] = {"VORK", name != NULL ? name : "(NULL)", path != NULL ? path : "",
                            ErrorReason(error), "OK"};
    return ShowWarning(items, 5);
}

const char *ErrorReason(DWORD error)
{
    for (const struct Reason &reason : Reasons) {
        if (reason.error == error)
            return reason.text;
    }
    static char text[32];
    snprintf(text, sizeof text, "system error %lu", (unsigned long)error);
    return text;
}

int ErrorBoxCancelled(void)
{
    return Cancelled;
}

void ClearErrorCancel(void)
{
    Cancelled = FALSE;
}

const char *GetMsgText(int id)
{
    if (State.Info.GetMsg == NULL)
        return "";
    const char *text = State.Info.GetMsg(State.Info.ModuleNumber, id);
    return text != NULL ? text : "";
}
