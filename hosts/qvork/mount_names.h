// The name `qvork get` writes for one listed name, so the mount shows what a
// copy would hold and no name can reach outside its folder ("..", "/"). The
// plug-in makes names safe as it writes them and tells no one; the host
// follows the same rules here, and the mount tests compare the result with
// a real copy.
#ifndef QVORK_HOSTS_MOUNT_NAMES_H
#define QVORK_HOSTS_MOUNT_NAMES_H

#include <string>

namespace qvork_host {

// "" for a name nothing can be written under (an empty one). Longer than a
// Linux name may be (255 bytes): cut there.
std::string WrittenName(const std::string &listed);

} // namespace qvork_host

#endif
