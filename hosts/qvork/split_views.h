// Header views shared with a second process. ls -l views one stored header
// per file, and nearly all of a view is the system's work: opening the site
// file, writing the view's file, reading and deleting it. The plug-in keeps
// one state for all its panels, so a second plug-in working at the same time
// needs a process of its own: once a listing has viewed enough headers, the
// process forks. Both go on walking the same folders in the same order (the
// walk is the same code over the same loaded site); the copy views every
// other header and sends each down a pipe, and the lister takes those from
// the pipe instead of viewing them itself.
//
// Nothing the user sees depends on the copy. A view it could not make, or
// that showed a warning, is made again by the lister, so every message is
// shown once and in its place; the copy writes nothing to the terminal. If
// the copy's walk ever names another file than the lister's, or the copy
// goes away, the lister views the rest itself.
#ifndef QVORK_HOSTS_SPLIT_VIEWS_H
#define QVORK_HOSTS_SPLIT_VIEWS_H

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "hosts/qvork/session.h"
#include "hosts/qvork/stored_items.h"
#include "hosts/qvork/terminal_ui.h"

namespace qvork_host {

class SplitViews {
public:
    SplitViews(Session &session, TerminalUi &ui) : session_(session), ui_(ui) {}
    ~SplitViews();
    SplitViews(const SplitViews &) = delete;
    SplitViews &operator=(const SplitViews &) = delete;

    // The stored header of file item `item` of the current folder, whose
    // place in the listing is `key` (unique among the files viewed), as
    // FetchHeader gives it. In the copy the result means nothing.
    bool Fetch(int item, const std::string &key, std::string &header);
    // Called by both processes once the walk is over: the copy ends here
    // (this never returns in it); the lister waits for it.
    void Finish();
    bool InCopy() const { return inCopy_; }

private:
    void Start();
    void Stop();
    bool Receive(uint32_t number, const std::string &key, std::string &header);
    void Send(uint32_t number, const std::string &key, bool good, const std::string &header);

    Session &session_;
    TerminalUi &ui_;
    uint32_t views_ = 0;        // header views asked for so far
    uint32_t split_ = 0;        // views_ when the process forked; 0: not (yet)
    bool inCopy_ = false;
    bool tried_ = false;        // the fork was tried (once per listing)
    pid_t copy_ = -1;           // in the lister: the copy while it is used
    std::FILE *pipe_ = nullptr; // the lister reads, the copy writes
    WorkFolder folder_;         // the copy's temporary folder
};

} // namespace qvork_host

#endif
