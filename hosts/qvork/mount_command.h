// `qvork mount CACHE_OR_SITE_FILE MOUNTPOINT`: the cache as a read-only FUSE
// file system. Takes its own command line (argv[0] is "mount").
#ifndef QVORK_HOSTS_MOUNT_COMMAND_H
#define QVORK_HOSTS_MOUNT_COMMAND_H

namespace qvork_host {

// Whether qvork's command line asks for the mount.
bool IsMountCommand(int argc, char **argv);
// Runs the mount until it is unmounted; the process's exit status.
int RunMount(int argc, char **argv);

} // namespace qvork_host

#endif
