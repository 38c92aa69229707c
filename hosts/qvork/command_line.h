// The command line of qvork: global options, the command, its options and
// operands, checked for what each command accepts; and the help text.
#ifndef QVORK_HOSTS_COMMAND_LINE_H
#define QVORK_HOSTS_COMMAND_LINE_H

#include <optional>
#include <string>
#include <vector>

#include "hosts/qvork/dialog_items.h"

namespace qvork_host {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct CommandLine {
    // Global options, accepted before and after the command.
    std::optional<std::string> registryFile; // --registry FILE
    std::optional<std::string> cacheFolder;  // --cache DIR, or a site file
    std::optional<std::string> pluginFile;   // --plugin FILE
    bool help = false;                       // --help, -h, or the command "help"

    std::string command; // "ls", "get", "header", "rm", "warc", "menus", "config", "panel",
                         // "open"; "" for none
    std::vector<std::string> operands;

    bool all = false;                       // ls --all, warc --all
    std::optional<std::string> output;      // warc -o FILE
    std::optional<std::string> cdxj;        // warc --cdxj FILE
    bool yes = false;                       // rm --yes
    std::optional<std::string> destination; // get -C DEST
    DialogPreset preset;                    // config --disks-menu/--plugins-menu/--digit
};

// Parses argv; false with `error` set on a usage error.
bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error);

// The help text; `registryFile` is the registry file in use.
std::string HelpText(const std::string &registryFile);

} // namespace qvork_host

#endif
