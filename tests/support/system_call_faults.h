// Faults put into the system calls of a loaded module (Linux only): the
// fault module (qvork_faults.so) is the plug-in linked as qvork.so is, but
// exporting its layer's table of system calls (platform/linux/
// system_calls.h), so a test makes a call fail with the error it chooses,
// as any user, with no real full or read-only file system. Calls the
// troubles below do not touch go on to the C library. One object at a time;
// it puts every call back when it goes.
#ifndef QVORK_TESTS_SUPPORT_SYSTEM_CALL_FAULTS_H
#define QVORK_TESTS_SUPPORT_SYSTEM_CALL_FAULTS_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "hosts/common/plugin_module.h"

namespace qvork_test {

// The fault module: $QVORK_FAULT_MODULE when set, else the one built.
std::string FaultModulePath();

// What a folder does to the calls that create, write, rename or remove
// anything inside it.
enum class FolderTrouble {
    Denied,   // EACCES, as a folder the user may not write
    ReadOnly, // EROFS, as a file system mounted read-only
    Full,     // ENOSPC once the files inside hold `room` bytes; removing
              // or truncating a file gives its bytes back
};

class SystemCallFaults {
  public:
    // Takes over the calls of `module`, which must be the fault module.
    explicit SystemCallFaults(const qvork_host::PluginModule &module);
    ~SystemCallFaults();
    SystemCallFaults(const SystemCallFaults &) = delete;
    SystemCallFaults &operator=(const SystemCallFaults &) = delete;

    // Empty when the calls were taken over, else why not.
    const std::string &Problem() const { return problem_; }

    void Trouble(const std::filesystem::path &folder, FolderTrouble trouble, size_t room = 0);
    // Fails the `nth` call (1 the first, 0 every one) of `call` ("fopen",
    // "open", "mkdir", ...) that names `path`, or anything when `path` is
    // empty, with `error`.
    void FailCall(const std::string &call, int nth, int error,
                  const std::filesystem::path &path = {});
    // Lets copies inside the system (copy_file_range) through, at most
    // `piece` bytes a call; until then they are declined, so every byte of a
    // copy comes through write.
    void CopyInPieces(size_t piece);
    // Bytes the files in the Full folder hold now.
    size_t Used() const;
    // Every call taken over so far, as "name path".
    std::vector<std::string> Calls() const;

  private:
    const qvork_host::PluginModule &module_;
    std::string problem_;
};

} // namespace qvork_test

#endif
