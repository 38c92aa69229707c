// What a command leaves behind when a signal ends it. The folders qvork makes
// for itself (the header views' folder in /dev/shm, the run's registry copy,
// work folders beside a copy) are removed by their owners on the way out;
// Ctrl+C, a hang-up, a kill or a closed pipe (qvork ls -lR | head) ends the
// process before that. The folders registered here are then removed, with
// everything in them, by the signal's handler, which goes on to end the
// process as the signal would have.
#ifndef QVORK_HOSTS_SIGNAL_CLEANUP_H
#define QVORK_HOSTS_SIGNAL_CLEANUP_H

#include <signal.h>
#include <sys/types.h>
#include <termios.h>

#include <string>

namespace qvork_host {

// Removes `folder` (with all in it; or the file of that name) if a signal
// ends the process while it is registered;
// false when the table is full or the path too long (it is then left to its
// owner alone). The first registration installs the handlers of SIGINT,
// SIGTERM, SIGHUP and SIGPIPE.
bool RemoveOnSignal(const std::string &folder);
void ForgetOnSignal(const std::string &folder);
// While a copy writes into `folder`: the plug-in's unfinished file there
// (its temporary "~qv....tmp" that this process holds open) is removed if a
// signal ends the process. One folder at a time; "" forgets it.
void SweepOnSignal(const std::string &folder);
// A text (static, with its line end) told on standard error when a signal
// ends the process; nullptr for none.
void NoteOnSignal(const char *note);
// A child that must not outlive the process; -1 forgets it.
void KillOnSignal(pid_t child);
// For a helper thread: the signals handled here are taken by another
// thread (the one making the files, which then makes no more).
void KeepSignalsOffThisThread();
// Installs the handlers that wait for UnbrokenWrite; called once before the
// threads that write start.
void ReadyUnbrokenWrites();
// While one lives, its thread rewrites a file in place: a signal that ends
// the process first lets that write finish (waiting five seconds at most),
// so no file is left half old and half new. The thread takes none of these
// signals meanwhile; one sent to it alone comes when the write is done.
class UnbrokenWrite {
public:
    UnbrokenWrite();
    ~UnbrokenWrite();
    UnbrokenWrite(const UnbrokenWrite &) = delete;
    UnbrokenWrite &operator=(const UnbrokenWrite &) = delete;

private:
    sigset_t before_;
};
// While the panel holds the terminal `fd`: its settings `before` the screen
// library changed them are put back by a signal that ends the process (a
// hang-up, which that library leaves alone, would leave it without echo),
// after `leave` is written to standard output (the sequences that end the
// alternate screen and show the cursor again). Installs the handlers; -1
// forgets the terminal.
void RestoreTerminalOnSignal(int fd, const struct termios *before, const std::string &leave = "");
// In a forked child: the parent's folders are the parent's business.
void ResetSignalCleanup();

// Puts the handlers aside while it lives, so that a library that installs
// its own only over the default action (ncurses, which restores the
// terminal in them) does; they come back afterwards, and pass each signal
// on to the library's handler once the folders are gone.
class SignalCleanupAside {
public:
    SignalCleanupAside();
    ~SignalCleanupAside();
    SignalCleanupAside(const SignalCleanupAside &) = delete;
    SignalCleanupAside &operator=(const SignalCleanupAside &) = delete;

private:
    bool wasInstalled_;
};

} // namespace qvork_host

#endif
