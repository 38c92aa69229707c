// Making names safe to write: every name written becomes one valid path
// component inside its folder on every platform, so a cache extracted
// anywhere yields the same tree and nothing lands outside the destination.
#ifndef QVORK_EXTRACT_SANITIZE_NAME_H
#define QVORK_EXTRACT_SANITIZE_NAME_H

#include <stddef.h>

#define NAME_LENGTH_LIMIT 260 // a longer text is cut to 259 characters
#define NAME_REPLACEMENT '-'

// Replaces every character of `set` in `text` with `replacement`.
void ReplaceChars(char *text, const char *set, char replacement);
// Cuts `text` to 259 characters when it is longer than 260. With `replace`
// set, `text` is one name, which is also made safe: characters Windows
// cannot hold become "-", names of dots and spaces and a trailing dot or
// space lose them to "-", an empty name becomes "-", and device names get a
// "_" in front. `room` is
// the size of the buffer from `text` to its end.
void SanitizeName(char *text, size_t room, int replace);

#endif
