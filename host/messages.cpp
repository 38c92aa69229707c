// Warning boxes and message texts, drawn through the host's services.
#include "host/messages.h"

#include "host/plugin_state.h"

int ShowError(const char *text)
{
    if (State.Info.Message == NULL)
        return 0;
    const char *items[3] = {"VORK", text != NULL ? text : "(NULL)", "OK"};
    return State.Info.Message(0, FMSG_WARNING, "", items, 3, 1);
}

const char *GetMsgText(int id)
{
    if (State.Info.GetMsg == NULL)
        return "";
    const char *text = State.Info.GetMsg(State.Info.ModuleNumber, id);
    return text != NULL ? text : "";
}
