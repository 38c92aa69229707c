// Test seam of the directory search (find_file.cpp). A test installs a hook
// that runs just before FindFirstFileA or FindNextFileA hands out an entry,
// with the entry's folder and name; it may create, rename or delete files in
// that folder (including the entry itself) to act out a folder that changes
// between two walks or in the middle of one. An entry deleted by the hook is
// skipped, as a live search would skip it.
#ifndef QVORK_PLATFORM_LINUX_FIND_FILE_SEAM_H
#define QVORK_PLATFORM_LINUX_FIND_FILE_SEAM_H

// `folder` is the native folder searched, `name` the matching entry's name.
typedef void (*FindFileHook)(const char *folder, const char *name, void *context);

// Installs `hook` (NULL removes it) for every search of every thread; not
// meant to be changed while a search runs.
void SetFindFileHook(FindFileHook hook, void *context);

// Whether `name` matches the Win32 search pattern `pattern` (the last path
// component only), under FindFirstFileA's rules. Exposed for tests.
int MatchesWin32Pattern(const char *pattern, const char *name);

#endif
