// `qvork extfs`: the back end of the Midnight Commander helper uqvork
// (hosts/mc/uqvork). Takes its own command line (argv[0] is "extfs").
#ifndef QVORK_HOSTS_MOUNT_EXTFS_H
#define QVORK_HOSTS_MOUNT_EXTFS_H

namespace qvork_host {

bool IsExtfsCommand(int argc, char **argv);
int RunExtfs(int argc, char **argv);

} // namespace qvork_host

#endif
