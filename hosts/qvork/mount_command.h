// `qvork mount CACHE_OR_SITE_FILE MOUNTPOINT`: the cache as a read-only FUSE
// file system. Takes its own command line (argv[0] is "mount").
#ifndef QVORK_HOSTS_MOUNT_COMMAND_H
#define QVORK_HOSTS_MOUNT_COMMAND_H

#include <functional>
#include <string>

namespace qvork_host {

class MountIndex;

// Runs `use` over an index of `source` (a cache folder, its icache folder or
// one site file), with a private folder and the plug-in module at `plugin`
// ("" for the default) loaded; removes the folder afterwards. Returns `use`'s status, or 1 after saying what failed.
// With `removeOnSignal` a signal that ends the process removes the folders
// too (the mount leaves that to libfuse's handlers, which unmount).
// Failures are told after `who` ("qvork mount").
int WithCacheIndex(const std::string &source, const std::string &plugin, bool decode,
                   bool removeOnSignal, const char *who,
                   const std::function<int(MountIndex &)> &use);

// Whether qvork's command line asks for the mount.
bool IsMountCommand(int argc, char **argv);
// Runs the mount until it is unmounted; the process's exit status.
int RunMount(int argc, char **argv);

} // namespace qvork_host

#endif
