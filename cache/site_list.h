// The root listing: one folder item per site file in the cache folder, held
// in PluginState.SiteList until a refresh key or ClosePlugin drops it; and
// the ways back to a site file (by file name or by number) and to a held
// item (by site name).
#ifndef QVORK_CACHE_SITE_LIST_H
#define QVORK_CACHE_SITE_LIST_H

#include <stdio.h>

#include "host/far_abi.h"

#define SITE_FILE_PATTERN "cache*."
#define SITE_FILE_PREFIX "cache"
// Room for the cache folder and any one name in it.
#define SITE_PATH_SIZE (250 + MAX_PATH)

// Reads the root listing into SiteList (with a progress box unless `opMode`
// is silent or a search) when none is held. FALSE when there was no memory.
BOOL HoldSiteList(int opMode);
// CacheFolder followed by `name` into `path` (`size` bytes): the one way to a
// file of the cache folder. FALSE when there is no folder or no room.
BOOL BuildCachePath(char *path, size_t size, const char *name);
// The name of the entry at `path` as its folder spells it, into `spelling`
// (`size` bytes): `name` where an entry is spelt so, else the first entry
// Win32 finds for the path (in another letter case, or by its short name).
// FALSE when there is none or it does not fit.
BOOL FindSpelling(const char *path, const char *name, char *spelling, size_t size);
// Opens a site file for reading: by `fileName`, entering it (SiteFile and
// CurrentSite, the number it carries, are set) or, with fileName NULL, as
// "cache<number>".
FILE *OpenSiteFile(int number, const char *fileName);
// Reopens the site entered, by its own file name; NULL at the cache root,
// and NULL with ERROR_FILE_INVALID when the file is not the one the tree
// was read from, or was changed since.
FILE *OpenCurrentSiteFile(void);
// TRUE when the cache file `fileName` is still the site its held root item
// lists: the size and last write listed, and the site name in its header.
BOOL SiteFileIsAsListed(const char *fileName);
// The first held root item whose cFileName is exactly `name`, or NULL.
struct PluginPanelItem *FindSiteItem(const char *name);
// Drops the held root listing. A panel may still show its items, so the
// array and its texts are retired, not freed: they stay readable (and are
// known as released) until FreeRetiredListings.
void ReleaseSiteList(void);
// Retires one Description text taken out of a held item.
void RetireDescription(char *text);
// TRUE when `text` is a Description this plug-in has released.
int IsRetiredText(const char *text);
// TRUE when `text` is the Description of a held root item.
int IsHeldText(const char *text);
// Frees what was retired from listings no open panel was last given
// (ListingShown); with `all`, everything (when the library unloads).
void FreeRetiredListings(int all);
// The held item whose Description is exactly `fileName`, or NULL. A cache
// file name is unique within one listing, unlike a site name.
struct PluginPanelItem *FindSiteItemByFile(const char *fileName);

#endif
