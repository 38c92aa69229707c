// Serving a MountIndex through FUSE (libfuse3): read-only, unmounted by
// `fusermount3 -u`, Ctrl+C or StopFuse.
#ifndef QVORK_HOSTS_MOUNT_FUSE_H
#define QVORK_HOSTS_MOUNT_FUSE_H

#include <string>
#include <vector>

#include "hosts/qvork/mount_index.h"

namespace qvork_host {

// fuse_main with `arguments` (program name, mount point, libfuse options);
// returns its status once the file system is unmounted.
int RunFuse(MountIndex &index, const std::vector<std::string> &arguments);
// Ends the mount from inside a request (others may be under way).
void StopFuse();

} // namespace qvork_host

#endif
