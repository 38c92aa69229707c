// The warning box every user-facing failure goes through, and the host's
// numbered message texts.
#ifndef QVORK_HOST_MESSAGES_H
#define QVORK_HOST_MESSAGES_H

// A warning box titled "VORK" with `text` ("(NULL)" for NULL) and "OK";
// returns when the user has closed it, with the host's answer (-1: the box
// was cancelled, with Esc or F10).
int ShowError(const char *text);
// The host's text for message number `id` of this plug-in.
const char *GetMsgText(int id);

#endif
