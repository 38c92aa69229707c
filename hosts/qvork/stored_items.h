// One stored response of the current folder, got the way the file manager
// gets it: its header through the header view (Shift+F3 -> Viewer), its body
// through GetFiles into a folder of the host's own, where the one entry the
// plug-in wrote is the body under the name the plug-in gave it.
#ifndef QVORK_HOSTS_STORED_ITEMS_H
#define QVORK_HOSTS_STORED_ITEMS_H

#include <string>

#include "hosts/qvork/session.h"
#include "hosts/qvork/terminal_ui.h"

namespace qvork_host {

// The stored header of file item `item` ("" and false when the plug-in
// showed none).
bool FetchHeader(Session &session, TerminalUi &ui, int item, std::string &header);

// The folder for temporary files: TMPDIR, else /tmp.
std::string TemporaryFolder();

// A line of the plug-in's box that names a path inside `folder` (where the
// host had it copy to) told from past that folder, with "/" for the
// plug-in's "\"; other lines as they are.
std::string PastPrivateFolder(const std::string &line, const std::string &folder);

// A private, initially empty folder inside `parent` (mkdtemp), removed with
// everything in it when the object goes (or a signal ends the process).
class WorkFolder {
public:
    WorkFolder() = default;
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;
    bool Make(const std::string &parent, std::string &error);
    const std::string &Path() const { return path_; }
    // Removes everything inside.
    void Clear();

private:
    std::string path_;
};

// Header views by the thousand (ls -l, get): the plug-in writes each into
// a new temporary file, so while this object lives its temporary folder
// (TMPDIR) is a private one in memory (/dev/shm) when there is one; the
// folder in use before comes back, and the private one goes, with it.
class FastViewFolder {
public:
    FastViewFolder();
    ~FastViewFolder();
    FastViewFolder(const FastViewFolder &) = delete;
    FastViewFolder &operator=(const FastViewFolder &) = delete;

private:
    WorkFolder folder_;
    std::string before_;
    bool hadBefore_ = false;
};

// GetFiles with `item` alone into the emptied `work` folder; `name` is the
// one entry it wrote there. False with `error` when the plug-in failed or
// wrote anything but one entry.
bool CopyAlone(Session &session, int item, WorkFolder &work, std::string &name,
               std::string &error);

} // namespace qvork_host

#endif
