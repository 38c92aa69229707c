// The files and folders one copy operation has created (or, for a folder
// that was there, gone into), by full path, so a later item of the same
// operation never takes one of them over. Paths are
// compared as the file system compares them (on Windows, whatever the case).
#ifndef QVORK_EXTRACT_CREATED_NAMES_H
#define QVORK_EXTRACT_CREATED_NAMES_H

#include "platform/win32.h"

// Remembers `path` as created; FALSE when memory runs out.
BOOL RememberCreated(const char *path);
// TRUE when `path` names something this operation created.
BOOL WasCreated(const char *path);
// Empties the record at the end of an operation.
void ForgetCreatedNames(void);

#endif
