// The name `qvork get` writes for one listed name, so the mount shows what a
// copy would hold and no name can reach outside its folder ("..", "/"). The
// plug-in makes names safe as it writes them and tells no one; the host
// follows the same rules here, and the mount tests compare the result with
// a real copy.
#ifndef QVORK_HOSTS_MOUNT_NAMES_H
#define QVORK_HOSTS_MOUNT_NAMES_H

#include <string>

namespace qvork_host {

// An empty name is written as "-", like a name of dots. Longer than a Linux
// name may be (255 bytes): cut there.
std::string WrittenName(const std::string &listed);

// The name a copy gives an item whose written name `name` is already taken
// in its folder by something the same copy wrote: "name~2.ext" for
// `number` 2, the number before the extension, the stem cut so the whole
// fits a Linux name.
std::string NumberedName(const std::string &name, unsigned number);
// A site's folder: its written `name` and `suffix` ("@cache7", "~2"), the
// name cut so that the whole is a name a folder can have.
std::string SiteFolderName(const std::string &name, const std::string &suffix);

} // namespace qvork_host

#endif
